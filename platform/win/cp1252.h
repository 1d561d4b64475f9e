// Windows-1252, the ANSI code page of every text the library handles, and
// its conversion to and from UTF-8.
//
// The table is Windows' own: 0x80-0x9F hold the euro sign, typographic
// quotes, dashes and a few letters; the five bytes Windows leaves undefined
// there (0x81, 0x8D, 0x8F, 0x90, 0x9D) pass through as the C1 controls of the
// same number, as MultiByteToWideChar does, so every byte string survives a
// round trip.
//
//   std::string u = vkt::win::Cp1252ToUtf8("perch\xE9 \x80");  // "perché €"
//   std::string back;
//   bool exact = vkt::win::Utf8ToCp1252(u, &back);              // true
#ifndef VKT_WIN_CP1252_H_
#define VKT_WIN_CP1252_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "vkt_export.h"

namespace vkt::win {

// The Unicode code point of a Windows-1252 byte.
VKT_API char32_t Cp1252ToUnicode(unsigned char byte);
// The Windows-1252 byte of a code point, or -1 when the code page has none.
VKT_API int UnicodeToCp1252(char32_t cp);

VKT_API std::string Cp1252ToUtf8(std::string_view text);
// Converts UTF-8 to Windows-1252 into *out (replaced, not appended). Code
// points the code page lacks and ill-formed UTF-8 (one replacement per
// maximal ill-formed subpart) become `replacement`; the result is then false.
VKT_API bool Utf8ToCp1252(std::string_view text, std::string* out,
                          char replacement = '?');

// Decodes the UTF-8 sequence at text[*pos] by RFC 3629 (no overlong forms,
// no surrogates, nothing above U+10FFFF). On success stores the code point,
// advances *pos past the sequence and returns true; on an ill-formed
// sequence advances *pos past its maximal ill-formed subpart (at least one
// byte) and returns false. Requires *pos < text.size().
VKT_API bool DecodeUtf8(std::string_view text, size_t* pos, char32_t* cp);
// Appends the UTF-8 form of a code point (U+FFFD for an invalid one).
VKT_API void AppendUtf8(char32_t cp, std::string* out);

// Case mapping of Windows-1252 letters, accented ones included (à/À, š/Š,
// œ/Œ, ž/Ž, ÿ/Ÿ); every other byte is returned unchanged. Independent of the
// process locale. ß and µ have no single-byte upper case and stay.
VKT_API char Cp1252ToUpper(char c);
VKT_API char Cp1252ToLower(char c);

}  // namespace vkt::win

#endif  // VKT_WIN_CP1252_H_
