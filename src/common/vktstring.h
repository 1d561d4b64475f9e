// String functions over NUL-terminated Windows-1252 text in caller-owned
// buffers, for fixed-width, blank-padded fields.
//
// Most functions work in place and return the buffer they were given, so
// calls nest:
//
//   char field[31];
//   snprintf(field, sizeof field, "%30.2lf", 1234567.891);
//   strsost(field, '.', ',');
//   strcomma(field);              // "...    1.234.567,89"
//   strleft(strtrim(name), 20);   // trimmed, then padded to 20
//
// A blank is the space character (0x20) alone. A function that fills or cuts
// to width n writes n characters and a NUL at index n: the caller's buffer
// holds at least n+1 bytes (and at least the text it already holds). A
// negative width leaves the text unchanged. A null buffer is left alone (the
// function returns null); a null text to read counts as the empty text.
#ifndef VKT_COMMON_VKTSTRING_H_
#define VKT_COMMON_VKTSTRING_H_

#include "vkt_export.h"
#include "win/cstring.h"

// --- width and alignment ---------------------------------------------------
// Removes trailing blanks.
VKT_API char* strclip(char* s);
// Removes leading blanks, moving the text to the front.
VKT_API char* strpreclip(char* s);
// strclip, then strpreclip.
VKT_API char* strtrim(char* s);
// Pads with blanks to width n, or cuts to n.
VKT_API char* strpad(char* s, int n);
// Pads with c to width n, or cuts to n.
VKT_API char* strpadwith(char* s, int c, int n);
// n copies of c; the old content is lost.
VKT_API char* strfill(char* s, char c, int n);
// Clips trailing blanks, then pads with c to width n (or cuts to n).
VKT_API char* StrFill(char* s, char c, int n);
// Left-aligned in exactly n characters.
VKT_API char* strleft(char* s, int n);
// Clipped and right-aligned in n characters; a longer text stays whole.
VKT_API char* strright(char* s, int n);
// Trimmed and centred in n characters (odd surplus to the right); a longer
// text stays whole.
VKT_API char* strcenter(char* s, int n);

// --- character edits -------------------------------------------------------
// Deletes blanks, LF, CR, tabs, "." and "-".
VKT_API char* strcompact(char* s);
VKT_API void strsost(char* s, char from, char to);
// Deletes every c (its low byte) among the first 201 characters and keeps at
// most 200 characters; anything after the 201st is dropped.
VKT_API void RemoveChar(char* s, int c);
// Reverses the text.
VKT_API char* strrotate(char* s);
// First character and every character after a blank in upper case, all
// others in lower case (C library, current locale).
VKT_API char* strproper(char* s);
// Swaps the two 4-bit halves of the byte.
VKT_API char invert_char(char c);

// --- numbers as text -------------------------------------------------------
// Inserts "." thousands separators into a right-aligned number (decimal
// separator ","), using the leading blanks of the field; the width never
// changes. A separator that finds no spare blank is left out rather than
// push a digit or the sign out of the field. A mark in the first column
// followed by a blank stays in the first column.
VKT_API char* strcomma(char* s);
// Removes every "." and right-aligns the rest by putting blanks in front.
VKT_API char* strnocomma(char* s);
// The integer part of v in Italian words ("milleduecentotrentaquattro").
// out holds at least 132 bytes. Values outside 0 <= v < 10^12 (and NaN)
// give the empty text.
VKT_API void ctol(double v, char* out);
// Step for walking n items: 1 below 100, ceil(n/100) up to 10000, then
// ceil(n/1000).
VKT_API int CalcOptimalStep(int n);

// --- quoting and copying ---------------------------------------------------
// Zeroes all n bytes of dst and copies at most n-1 characters of src. Writes
// nothing when n <= 0.
VKT_API char* strzcpy(char* dst, const char* src, int n);
// Copies src with a backslash before every '"' and '\'. dst may equal src;
// it holds one extra byte per quote or backslash.
VKT_API char* strquote(char* dst, const char* src);
// 'src' with quotes doubled, then "*" -> "%" and "?" -> "_". dst may equal
// src; it holds two more bytes plus one per single quote.
VKT_API char* strsqlquote(char* dst, const char* src);
// MySQL-style escaping, with "%" wildcards at either end unless the text has
// wildcards of its own, and optional enclosing quotes.
VKT_API CString SqlQuote(CString s, bool leading, bool trailing, bool quote);

// --- tests -----------------------------------------------------------------
// False when either is null or the suffix is longer; an empty suffix is true.
VKT_API bool endswith(const char* s, const char* suffix);
// 1 when every character is isalnum / isdigit / in 0x20-0x7E (1 for "").
VKT_API int AllAlphaDigits(const char* s);
VKT_API int AllDigits(const char* s);
VKT_API int AllPrintable(const char* s);
// Wildcard match, 0 when text matches pattern, 1 when not (as strcmp):
// "?" one character, "*" any run, "\" makes the next character literal (a
// trailing lone "\" is a literal backslash). A "*" that is not the last
// pattern character needs at least one text character left to stand at.
// Runs in O(pattern x text) time without recursion.
VKT_API int Like(const char* pattern, const char* text);
// True when the whole text matches the ECMAScript regular expression.
// Throws std::regex_error for an ill-formed pattern.
VKT_API bool VerifyString(const char* text, const char* pattern);
// -1 when s is well-formed UTF-8 (RFC 3629), else the index of the first
// ill-formed sequence.
VKT_API int Utf8Check(const char* s);
// s (Windows-1252) as UTF-8. The text lives in one process-wide buffer,
// valid until the next call; for the user-interface thread only.
VKT_API const char* StrToUtf8(const char* s);

namespace vkt {
// Frees the buffer behind StrToUtf8 (at unload, and between tests); earlier
// results become invalid.
void ResetStrToUtf8();
}  // namespace vkt

#endif  // VKT_COMMON_VKTSTRING_H_
