// The SQL client's string: 8-bit bytes (Windows-1252 text), embedded NULs
// allowed, indices counted in bytes.
//
//   SAString q;
//   q.Format("SELECT * FROM %s WHERE id = %d", table, id);
//   q.Replace("admin.", prefix);
//   if (!q.IsEmpty()) cmd.setCommandText(q);   // const char* on demand
//
// Positions out of range are clamped as the framework's strings do (Mid past
// the end is empty, Left of more than the length is the whole text); nothing
// ever reads or writes outside the text.
#ifndef VKT_SAAPI_SASTRING_H_
#define VKT_SAAPI_SASTRING_H_

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

#include "saapi/saclient.h"
#include "vkt_export.h"

class VKT_API SAString {
 public:
  SAString() = default;
  // A null pointer is the empty string.
  SAString(const char* s);  // NOLINT: implicit, as the SQL client's
  SAString(const char* s, size_t length);
  SAString(const std::string& s) : s_(s) {}  // NOLINT
  SAString(std::string&& s) : s_(std::move(s)) {}  // NOLINT
  SAString(char c, size_t repeat) : s_(repeat, c) {}
  SAString(const SAString&) = default;
  SAString(SAString&&) noexcept = default;
  SAString& operator=(const SAString&) = default;
  SAString& operator=(SAString&&) noexcept = default;
  SAString& operator=(const char* s);

  // printf-style; the result replaces the content. SAString arguments must
  // be passed as GetMultiByteChars().
  void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void FormatV(const char* format, va_list args);

  size_t GetLength() const { return s_.size(); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }

  // NUL-terminated bytes, valid until the string next changes.
  const char* GetMultiByteChars() const { return s_.c_str(); }
  size_t GetMultiByteCharsLength() const { return s_.size(); }
  operator const char*() const { return s_.c_str(); }  // NOLINT
  const std::string& str() const { return s_; }

  // The byte at `i`, or NUL outside the text.
  char GetAt(size_t i) const { return i < s_.size() ? s_[i] : '\0'; }
  // Ignored outside the text.
  void SetAt(size_t i, char c) {
    if (i < s_.size()) s_[i] = c;
  }

  // Writable buffer of at least `min_length` bytes (plus the NUL); the
  // content up to ReleaseBuffer is the caller's. ReleaseBuffer(npos) takes
  // the length up to the first NUL.
  char* GetBuffer(size_t min_length);
  void ReleaseBuffer(size_t new_length = std::string::npos);

  SAString& operator+=(const SAString& o) { s_ += o.s_; return *this; }
  SAString& operator+=(const char* s);
  SAString& operator+=(char c) { s_ += c; return *this; }

  // Byte order on unsigned bytes, a shorter prefix first: <0, 0, >0. A null
  // pointer compares as the empty string.
  int Compare(const SAString& o) const;
  int Compare(const char* s) const;
  // As Compare, ASCII letters without case.
  int CompareNoCase(const char* s) const;

  SAString Left(size_t count) const;
  SAString Right(size_t count) const;
  SAString Mid(size_t first) const;
  SAString Mid(size_t first, size_t count) const;

  // Index of the first match at or after `start`, or -1.
  int Find(char c, size_t start = 0) const;
  int Find(const char* sub, size_t start = 0) const;
  // Index of the last `c`, or -1.
  int ReverseFind(char c) const;

  // Replaces every non-overlapping occurrence, left to right; returns how
  // many. An empty or null `old_text` replaces nothing.
  int Replace(const char* old_text, const char* new_text);
  int Replace(char old_c, char new_c);
  // Inserts at `index` (past the end: appended); returns the new length.
  size_t Insert(size_t index, const char* s);
  size_t Insert(size_t index, char c);
  // Removes up to `count` bytes from `index`; returns the new length.
  size_t Delete(size_t index, size_t count = 1);
  // Removes every `c`; returns how many.
  int Remove(char c);

  // ASCII letters only: bytes above 127 stay as they are, as in the C locale.
  SAString& MakeUpper();
  SAString& MakeLower();
  SAString& MakeReverse();

  // White space is the C locale's (blank, \t, \n, \v, \f, \r).
  SAString& TrimLeft();
  SAString& TrimLeft(char c);
  SAString& TrimLeft(const char* set);
  SAString& TrimRight();
  SAString& TrimRight(char c);
  SAString& TrimRight(const char* set);
  SAString& Trim() { return TrimRight().TrimLeft(); }

 private:
  std::string s_;
};

VKT_API SAString operator+(const SAString& a, const SAString& b);
VKT_API SAString operator+(const SAString& a, const char* b);
VKT_API SAString operator+(const char* a, const SAString& b);
VKT_API SAString operator+(const SAString& a, char b);
VKT_API SAString operator+(char a, const SAString& b);

inline bool operator==(const SAString& a, const SAString& b) { return a.str() == b.str(); }
inline bool operator==(const SAString& a, const char* b) { return a.Compare(b) == 0; }
inline bool operator==(const char* a, const SAString& b) { return b.Compare(a) == 0; }
inline bool operator!=(const SAString& a, const SAString& b) { return !(a == b); }
inline bool operator!=(const SAString& a, const char* b) { return !(a == b); }
inline bool operator!=(const char* a, const SAString& b) { return !(a == b); }
inline bool operator<(const SAString& a, const SAString& b) { return a.Compare(b) < 0; }
inline bool operator<(const SAString& a, const char* b) { return a.Compare(b) < 0; }
inline bool operator<(const char* a, const SAString& b) { return b.Compare(a) > 0; }
inline bool operator>(const SAString& a, const SAString& b) { return a.Compare(b) > 0; }
inline bool operator>(const SAString& a, const char* b) { return a.Compare(b) > 0; }
inline bool operator>(const char* a, const SAString& b) { return b.Compare(a) < 0; }
inline bool operator<=(const SAString& a, const SAString& b) { return a.Compare(b) <= 0; }
inline bool operator<=(const SAString& a, const char* b) { return a.Compare(b) <= 0; }
inline bool operator<=(const char* a, const SAString& b) { return b.Compare(a) >= 0; }
inline bool operator>=(const SAString& a, const SAString& b) { return a.Compare(b) >= 0; }
inline bool operator>=(const SAString& a, const char* b) { return a.Compare(b) >= 0; }
inline bool operator>=(const char* a, const SAString& b) { return b.Compare(a) <= 0; }

#endif  // VKT_SAAPI_SASTRING_H_
