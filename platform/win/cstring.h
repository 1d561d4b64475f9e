// CString: the framework's 8-bit string value, as hosts and the library's
// interfaces pass it around.
//
// Holds Windows-1252 bytes (embedded NULs are kept, though C-string views
// stop at them). Positions and lengths are int, as in the framework; an
// out-of-range argument is clamped, never undefined. Case mapping follows
// Windows-1252 and ignores the process locale.
//
//   CString s("O'Hara");
//   s.Replace("'", "''");              // "O''Hara", returns 1
//   CString q;
//   q.Format("'%s' %d", s.GetString(), 7);
//   if (q.Left(1) == "'") ...
#ifndef VKT_WIN_CSTRING_H_
#define VKT_WIN_CSTRING_H_

#include <string>
#include <string_view>
#include <utility>

#include "vkt_export.h"

class VKT_API CString {
 public:
  CString() = default;
  CString(const char* s);  // NOLINT: implicit, as in the framework; null is empty
  CString(const char* s, int length);
  CString(const std::string& s) : s_(s) {}  // NOLINT
  CString(std::string&& s) : s_(std::move(s)) {}  // NOLINT
  CString(std::string_view s) : s_(s) {}  // NOLINT
  CString(char c, int repeat = 1);  // NOLINT

  CString& operator=(const char* s);
  CString& operator=(const std::string& s) { s_ = s; return *this; }
  CString& operator=(char c) { s_.assign(1, c); return *this; }

  int GetLength() const { return static_cast<int>(s_.size()); }
  bool IsEmpty() const { return s_.empty(); }
  void Empty() { s_.clear(); }
  const char* GetString() const { return s_.c_str(); }
  operator const char*() const { return s_.c_str(); }  // NOLINT
  const std::string& str() const { return s_; }

  // The byte at `index`; NUL when out of range.
  char GetAt(int index) const;
  char operator[](int index) const { return GetAt(index); }
  // Ignored when out of range.
  void SetAt(int index, char c);

  CString& operator+=(const CString& s) { s_ += s.s_; return *this; }
  CString& operator+=(const char* s);
  CString& operator+=(char c) { s_ += c; return *this; }
  void Append(const char* s, int length);

  // printf-style; the arguments may refer to this string's own text.
  void Format(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void AppendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Number of replacements. An empty or null `old_text` replaces nothing.
  int Replace(const char* old_text, const char* new_text);
  int Replace(char old_char, char new_char);
  // Removes every `c`; returns how many were removed.
  int Remove(char c);
  // Inserts at `index` (clamped to 0..length); returns the new length.
  int Insert(int index, const char* s);
  int Insert(int index, char c);
  // Deletes up to `count` bytes from `index`; returns the new length.
  int Delete(int index, int count = 1);

  // Position of the first match at or after `start`, or -1.
  int Find(const char* sub, int start = 0) const;
  int Find(char c, int start = 0) const;
  int ReverseFind(char c) const;
  int FindOneOf(const char* chars) const;

  CString Left(int count) const;
  CString Mid(int first) const;
  CString Mid(int first, int count) const;
  CString Right(int count) const;

  CString& MakeUpper();
  CString& MakeLower();
  CString& MakeReverse();
  // Without an argument these trim white space (blank, tab, CR, LF, VT, FF).
  CString& Trim();
  CString& Trim(char c);
  CString& Trim(const char* chars);
  CString& TrimLeft();
  CString& TrimLeft(char c);
  CString& TrimLeft(const char* chars);
  CString& TrimRight();
  CString& TrimRight(char c);
  CString& TrimRight(const char* chars);

  // Byte-wise comparison (<0, 0, >0); NoCase folds Windows-1252 letters.
  int Compare(const char* s) const;
  int CompareNoCase(const char* s) const;

  // Room for at least `min_length` bytes plus a NUL, to be filled by C code;
  // ReleaseBuffer then sets the length (-1: up to the first NUL).
  char* GetBuffer(int min_length = 0);
  void ReleaseBuffer(int new_length = -1);

  friend bool operator==(const CString& a, const CString& b) { return a.s_ == b.s_; }
  friend bool operator==(const CString& a, const char* b) { return a.Compare(b) == 0; }
  friend bool operator==(const char* a, const CString& b) { return b.Compare(a) == 0; }
  friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
  friend bool operator!=(const CString& a, const char* b) { return !(a == b); }
  friend bool operator!=(const char* a, const CString& b) { return !(a == b); }
  friend bool operator<(const CString& a, const CString& b) { return a.s_ < b.s_; }
  friend bool operator<(const CString& a, const char* b) { return a.Compare(b) < 0; }
  friend bool operator<(const char* a, const CString& b) { return b.Compare(a) > 0; }
  friend bool operator>(const CString& a, const CString& b) { return b < a; }
  friend bool operator<=(const CString& a, const CString& b) { return !(b < a); }
  friend bool operator>=(const CString& a, const CString& b) { return !(a < b); }

  friend CString operator+(const CString& a, const CString& b) { return CString(a.s_ + b.s_); }
  friend CString operator+(const CString& a, const char* b) { CString r(a); r += b; return r; }
  friend CString operator+(const char* a, const CString& b) { CString r(a); r += b; return r; }
  friend CString operator+(const CString& a, char b) { CString r(a); r += b; return r; }
  friend CString operator+(char a, const CString& b) { CString r(a); r += b; return r; }

 private:
  std::string s_;
};

#endif  // VKT_WIN_CSTRING_H_
