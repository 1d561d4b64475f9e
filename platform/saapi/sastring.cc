#include "saapi/sastring.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }
char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

int CompareBytes(std::string_view a, std::string_view b, bool fold) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(fold ? AsciiLower(a[i]) : a[i]);
    unsigned char y = static_cast<unsigned char>(fold ? AsciiLower(b[i]) : b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string_view View(const char* s) { return s == nullptr ? std::string_view() : s; }

}  // namespace

SAString::SAString(const char* s) : s_(View(s)) {}

SAString::SAString(const char* s, size_t length) {
  if (s != nullptr) s_.assign(s, length);
}

SAString& SAString::operator=(const char* s) {
  s_.assign(View(s));
  return *this;
}

void SAString::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  FormatV(format, args);
  va_end(args);
}

void SAString::FormatV(const char* format, va_list args) {
  if (format == nullptr) {
    s_.clear();
    return;
  }
  va_list copy;
  va_copy(copy, args);
  char small[256];
  const int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) {  // an encoding error: nothing sensible to keep
    s_.clear();
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    s_.assign(small, static_cast<size_t>(n));
    return;
  }
  std::string out(static_cast<size_t>(n) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  s_ = std::move(out);
}

char* SAString::GetBuffer(size_t min_length) {
  if (s_.size() < min_length) s_.resize(min_length, '\0');
  return s_.data();
}

void SAString::ReleaseBuffer(size_t new_length) {
  if (new_length == std::string::npos) {
    new_length = strnlen(s_.data(), s_.size());
  }
  s_.resize(std::min(new_length, s_.size()));
}

SAString& SAString::operator+=(const char* s) {
  s_ += View(s);
  return *this;
}

int SAString::Compare(const SAString& o) const { return CompareBytes(s_, o.s_, false); }
int SAString::Compare(const char* s) const { return CompareBytes(s_, View(s), false); }
int SAString::CompareNoCase(const char* s) const { return CompareBytes(s_, View(s), true); }

SAString SAString::Left(size_t count) const { return SAString(s_.substr(0, count)); }

SAString SAString::Right(size_t count) const {
  if (count >= s_.size()) return *this;
  return SAString(s_.substr(s_.size() - count));
}

SAString SAString::Mid(size_t first) const {
  if (first >= s_.size()) return SAString();
  return SAString(s_.substr(first));
}

SAString SAString::Mid(size_t first, size_t count) const {
  if (first >= s_.size()) return SAString();
  return SAString(s_.substr(first, count));
}

int SAString::Find(char c, size_t start) const {
  const size_t at = s_.find(c, start);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int SAString::Find(const char* sub, size_t start) const {
  if (start > s_.size()) return -1;
  const size_t at = s_.find(View(sub), start);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int SAString::ReverseFind(char c) const {
  const size_t at = s_.rfind(c);
  return at == std::string::npos ? -1 : static_cast<int>(at);
}

int SAString::Replace(const char* old_text, const char* new_text) {
  const std::string_view from = View(old_text);
  const std::string_view to = View(new_text);
  if (from.empty()) return 0;
  std::string out;
  int count = 0;
  size_t pos = 0;
  for (size_t at; (at = s_.find(from, pos)) != std::string::npos; pos = at + from.size()) {
    out.append(s_, pos, at - pos);
    out += to;
    ++count;
  }
  if (count == 0) return 0;
  out.append(s_, pos, std::string::npos);
  s_ = std::move(out);
  return count;
}

int SAString::Replace(char old_c, char new_c) {
  int count = 0;
  for (char& c : s_) {
    if (c == old_c) {
      c = new_c;
      ++count;
    }
  }
  return count;
}

size_t SAString::Insert(size_t index, const char* s) {
  s_.insert(std::min(index, s_.size()), View(s));
  return s_.size();
}

size_t SAString::Insert(size_t index, char c) {
  s_.insert(s_.begin() + static_cast<std::ptrdiff_t>(std::min(index, s_.size())), c);
  return s_.size();
}

size_t SAString::Delete(size_t index, size_t count) {
  if (index < s_.size()) s_.erase(index, count);
  return s_.size();
}

int SAString::Remove(char c) {
  const size_t before = s_.size();
  s_.erase(std::remove(s_.begin(), s_.end(), c), s_.end());
  return static_cast<int>(before - s_.size());
}

SAString& SAString::MakeUpper() {
  for (char& c : s_) c = AsciiUpper(c);
  return *this;
}

SAString& SAString::MakeLower() {
  for (char& c : s_) c = AsciiLower(c);
  return *this;
}

SAString& SAString::MakeReverse() {
  std::reverse(s_.begin(), s_.end());
  return *this;
}

SAString& SAString::TrimLeft() {
  size_t i = 0;
  while (i < s_.size() && IsCSpace(s_[i])) ++i;
  s_.erase(0, i);
  return *this;
}

SAString& SAString::TrimLeft(char c) {
  size_t i = 0;
  while (i < s_.size() && s_[i] == c) ++i;
  s_.erase(0, i);
  return *this;
}

SAString& SAString::TrimLeft(const char* set) {
  const size_t at = s_.find_first_not_of(View(set));
  s_.erase(0, at == std::string::npos ? s_.size() : at);
  return *this;
}

SAString& SAString::TrimRight() {
  size_t n = s_.size();
  while (n > 0 && IsCSpace(s_[n - 1])) --n;
  s_.resize(n);
  return *this;
}

SAString& SAString::TrimRight(char c) {
  size_t n = s_.size();
  while (n > 0 && s_[n - 1] == c) --n;
  s_.resize(n);
  return *this;
}

SAString& SAString::TrimRight(const char* set) {
  const size_t at = s_.find_last_not_of(View(set));
  s_.resize(at == std::string::npos ? 0 : at + 1);
  return *this;
}

SAString operator+(const SAString& a, const SAString& b) {
  SAString r(a);
  r += b;
  return r;
}
SAString operator+(const SAString& a, const char* b) {
  SAString r(a);
  r += b;
  return r;
}
SAString operator+(const char* a, const SAString& b) {
  SAString r(a);
  r += b;
  return r;
}
SAString operator+(const SAString& a, char b) {
  SAString r(a);
  r += b;
  return r;
}
SAString operator+(char a, const SAString& b) {
  SAString r(a, 1);
  r += b;
  return r;
}
