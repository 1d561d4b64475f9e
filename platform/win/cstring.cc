#include "win/cstring.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "win/cp1252.h"

namespace {

constexpr const char* kWhiteSpace = " \t\r\n\v\f";

std::string VFormat(const char* format, va_list args) {
  if (format == nullptr) return std::string();
  char small[256];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

int Clamp(int v, int lo, int hi) { return std::max(lo, std::min(v, hi)); }

}  // namespace

CString::CString(const char* s) {
  if (s != nullptr) s_ = s;
}

CString::CString(const char* s, int length) {
  if (s != nullptr && length > 0) s_.assign(s, static_cast<size_t>(length));
}

CString::CString(char c, int repeat) {
  if (repeat > 0) s_.assign(static_cast<size_t>(repeat), c);
}

CString& CString::operator=(const char* s) {
  if (s == nullptr) {
    s_.clear();
  } else {
    s_ = s;  // std::string::assign copes with s pointing into s_
  }
  return *this;
}

char CString::GetAt(int index) const {
  if (index < 0 || index >= GetLength()) return '\0';
  return s_[static_cast<size_t>(index)];
}

void CString::SetAt(int index, char c) {
  if (index >= 0 && index < GetLength()) s_[static_cast<size_t>(index)] = c;
}

CString& CString::operator+=(const char* s) {
  if (s != nullptr) s_ += s;
  return *this;
}

void CString::Append(const char* s, int length) {
  if (s != nullptr && length > 0) s_.append(s, static_cast<size_t>(length));
}

void CString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  s_ = std::move(text);
}

void CString::AppendFormat(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = VFormat(format, args);
  va_end(args);
  s_ += text;
}

int CString::Replace(const char* old_text, const char* new_text) {
  if (old_text == nullptr || *old_text == '\0') return 0;
  const std::string from(old_text);
  const std::string to(new_text != nullptr ? new_text : "");
  std::string out;
  int count = 0;
  size_t pos = 0;
  for (;;) {
    size_t hit = s_.find(from, pos);
    if (hit == std::string::npos) break;
    out.append(s_, pos, hit - pos);
    out += to;
    pos = hit + from.size();
    ++count;
  }
  if (count == 0) return 0;
  out.append(s_, pos, std::string::npos);
  s_ = std::move(out);
  return count;
}

int CString::Replace(char old_char, char new_char) {
  int count = 0;
  for (char& c : s_) {
    if (c == old_char) {
      c = new_char;
      ++count;
    }
  }
  return count;
}

int CString::Remove(char c) {
  size_t before = s_.size();
  s_.erase(std::remove(s_.begin(), s_.end(), c), s_.end());
  return static_cast<int>(before - s_.size());
}

int CString::Insert(int index, const char* s) {
  if (s != nullptr) s_.insert(static_cast<size_t>(Clamp(index, 0, GetLength())), s);
  return GetLength();
}

int CString::Insert(int index, char c) {
  s_.insert(s_.begin() + Clamp(index, 0, GetLength()), c);
  return GetLength();
}

int CString::Delete(int index, int count) {
  if (index >= 0 && index < GetLength() && count > 0) {
    s_.erase(static_cast<size_t>(index), static_cast<size_t>(count));
  }
  return GetLength();
}

int CString::Find(const char* sub, int start) const {
  if (sub == nullptr || start < 0 || start > GetLength()) return -1;
  size_t hit = s_.find(sub, static_cast<size_t>(start));
  return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::Find(char c, int start) const {
  if (start < 0 || start >= GetLength()) return -1;
  size_t hit = s_.find(c, static_cast<size_t>(start));
  return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::ReverseFind(char c) const {
  size_t hit = s_.rfind(c);
  return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

int CString::FindOneOf(const char* chars) const {
  if (chars == nullptr || *chars == '\0') return -1;
  size_t hit = s_.find_first_of(chars);
  return hit == std::string::npos ? -1 : static_cast<int>(hit);
}

CString CString::Left(int count) const {
  return CString(s_.substr(0, static_cast<size_t>(Clamp(count, 0, GetLength()))));
}

CString CString::Mid(int first) const { return Mid(first, GetLength()); }

CString CString::Mid(int first, int count) const {
  first = Clamp(first, 0, GetLength());
  count = Clamp(count, 0, GetLength() - first);
  return CString(s_.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Right(int count) const {
  count = Clamp(count, 0, GetLength());
  return CString(s_.substr(static_cast<size_t>(GetLength() - count)));
}

CString& CString::MakeUpper() {
  for (char& c : s_) c = vkt::win::Cp1252ToUpper(c);
  return *this;
}

CString& CString::MakeLower() {
  for (char& c : s_) c = vkt::win::Cp1252ToLower(c);
  return *this;
}

CString& CString::MakeReverse() {
  std::reverse(s_.begin(), s_.end());
  return *this;
}

CString& CString::Trim() { return TrimRight().TrimLeft(); }
CString& CString::Trim(char c) { return TrimRight(c).TrimLeft(c); }
CString& CString::Trim(const char* chars) { return TrimRight(chars).TrimLeft(chars); }
CString& CString::TrimLeft() { return TrimLeft(kWhiteSpace); }
CString& CString::TrimRight() { return TrimRight(kWhiteSpace); }

CString& CString::TrimLeft(char c) {
  const char set[2] = {c, '\0'};
  if (c == '\0') return *this;
  return TrimLeft(set);
}

CString& CString::TrimRight(char c) {
  const char set[2] = {c, '\0'};
  if (c == '\0') return *this;
  return TrimRight(set);
}

CString& CString::TrimLeft(const char* chars) {
  if (chars == nullptr || *chars == '\0') return *this;
  size_t first = s_.find_first_not_of(chars);
  s_.erase(0, first == std::string::npos ? s_.size() : first);
  return *this;
}

CString& CString::TrimRight(const char* chars) {
  if (chars == nullptr || *chars == '\0') return *this;
  size_t last = s_.find_last_not_of(chars);
  s_.erase(last == std::string::npos ? 0 : last + 1);
  return *this;
}

int CString::Compare(const char* s) const {
  return s_.compare(s != nullptr ? s : "");
}

int CString::CompareNoCase(const char* s) const {
  if (s == nullptr) s = "";
  size_t n = std::strlen(s);
  for (size_t i = 0;; ++i) {
    if (i == s_.size() || i == n) {
      return (i == s_.size() ? 0 : 1) - (i == n ? 0 : 1);
    }
    unsigned char a = static_cast<unsigned char>(vkt::win::Cp1252ToLower(s_[i]));
    unsigned char b = static_cast<unsigned char>(vkt::win::Cp1252ToLower(s[i]));
    if (a != b) return a < b ? -1 : 1;
  }
}

char* CString::GetBuffer(int min_length) {
  if (min_length > GetLength()) s_.resize(static_cast<size_t>(min_length), '\0');
  return s_.data();  // s_.data()[size()] is a writable NUL
}

void CString::ReleaseBuffer(int new_length) {
  if (new_length < 0) {
    s_.resize(std::strlen(s_.c_str()));
  } else if (new_length < GetLength()) {
    s_.resize(static_cast<size_t>(new_length));
  }
}
