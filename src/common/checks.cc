#include "common/checks.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>

#include "common/vktstring.h"

namespace {

bool IsUpperAscii(unsigned char c) { return c >= 'A' && c <= 'Z'; }
bool IsDigitAscii(unsigned char c) { return c >= '0' && c <= '9'; }

// Value of a character at an odd position (1, 3, ... 15) of a fiscal code,
// by the published table; -1 for anything but A-Z and 0-9.
int OddValue(unsigned char c) {
  static constexpr int kLetters[26] = {1,  0,  5,  7,  9,  13, 15, 17, 19,
                                       21, 2,  4,  18, 20, 11, 3,  6,  8,
                                       12, 14, 16, 10, 22, 25, 24, 23};
  static constexpr int kDigits[10] = {1, 0, 5, 7, 9, 13, 15, 17, 19, 21};
  if (IsUpperAscii(c)) return kLetters[c - 'A'];
  if (IsDigitAscii(c)) return kDigits[c - '0'];
  return -1;
}

int EvenValue(unsigned char c) {
  if (IsUpperAscii(c)) return c - 'A';
  if (IsDigitAscii(c)) return c - '0';
  return -1;
}

// True when s is exactly one character, one of `letters`.
bool OneOf(const char* s, const char* letters) {
  return s != nullptr && s[0] != '\0' && s[1] == '\0' &&
         std::strchr(letters, s[0]) != nullptr;
}

// The filters' character sets are 8-bit: a larger code is never a character
// the field may take.
bool InSet(unsigned int c, const char* set) {
  return c != 0 && c <= 0xFF && std::strchr(set, static_cast<char>(c)) != nullptr;
}

// The C library's classes, in the current locale, of an 8-bit code.
bool IsAlpha8(unsigned int c) { return c <= 0xFF && std::isalpha(static_cast<int>(c)) != 0; }
bool IsDigit8(unsigned int c) { return c <= 0xFF && std::isdigit(static_cast<int>(c)) != 0; }

// The hosts' Windows library set the locale "English" so that numbers print
// and parse with "." as decimal point; on Linux that is the "C" locale. The
// change is for the whole process, as other code relies on it.
void UseNumericPointLocale() { std::setlocale(LC_ALL, "C"); }

double PowerOfTen(short d) { return std::pow(10.0, d); }

}  // namespace

// --- checks ----------------------------------------------------------------

bool CheckCodFiscale(const char* s) {
  char code[17];
  strzcpy(code, s, sizeof code);
  strclip(code);
  size_t len = std::strlen(code);
  if (len == 0) return true;
  if (len != 16) return false;
  int sum = 0;
  for (size_t i = 0; i < 15; ++i) {
    unsigned char c = static_cast<unsigned char>(code[i]);
    // Position i+1: odd positions use the table, even ones the plain value.
    int value = (i % 2 == 0) ? OddValue(c) : EvenValue(c);
    if (value < 0) return false;
    sum += value;
  }
  return code[15] == static_cast<char>('A' + sum % 26);
}

bool CheckPartIva(const char* s) {
  char number[29];
  strzcpy(number, s, sizeof number);
  strtrim(number);
  size_t len = std::strlen(number);
  if (len == 0) return true;
  if (len != 11) return false;
  int sum = 0;
  for (size_t i = 0; i < 11; ++i) {
    if (!IsDigitAscii(static_cast<unsigned char>(number[i]))) return false;
  }
  for (size_t i = 0; i < 10; ++i) {
    int digit = number[i] - '0';
    if (i % 2 == 0) {
      sum += digit;
    } else {
      int twice = 2 * digit;
      sum += twice > 9 ? twice - 9 : twice;
    }
  }
  return (10 - sum % 10) % 10 == number[10] - '0';
}

bool CheckNumFiscale(const char* s) { return CheckCodFiscale(s) || CheckPartIva(s); }
bool CheckSesso(const char* s) { return OneOf(s, "mMfF"); }
bool CheckYesno(const char* s) { return OneOf(s, "sSnN"); }
bool CheckDareAvere(const char* s) { return OneOf(s, "dDaA"); }
bool CheckDareAvereSpace(const char* s) {
  return s == nullptr || s[0] == '\0' || OneOf(s, "dDaA");
}
bool CheckCorrPrec(const char* s) { return OneOf(s, "cCpP"); }

// --- filters ---------------------------------------------------------------

bool filter_space(unsigned int c) { return c <= 0xFF && c != ' '; }
bool filter_letter(unsigned int c) { return IsAlpha8(c); }
bool filter_digit(unsigned int c) { return IsDigit8(c); }
bool filter_phone(unsigned int c) { return IsDigit8(c); }
bool filter_digit_star(unsigned int c) { return IsDigit8(c) || InSet(c, "*?"); }
bool filter_digit_comma(unsigned int c) { return IsDigit8(c) || InSet(c, ","); }
bool filter_digit_dot(unsigned int c) { return IsDigit8(c) || InSet(c, "."); }
bool filter_sitecode(unsigned int c) {
  return IsDigit8(c) || InSet(c, "abcdefABCDEF");
}
bool filter_sesso(unsigned int c) { return InSet(c, "mMfF"); }
bool filter_yesno(unsigned int c) { return InSet(c, "sSnN"); }
bool filter_annomese(unsigned int c) { return InSet(c, "aAmM"); }
bool filter_dareavere(unsigned int c) { return InSet(c, "dDaA"); }
bool filter_corrprec(unsigned int c) { return InSet(c, "cCpP"); }
bool filter_cau_pag_rit_acc(unsigned int c) {
  if (c > 0xFF) return false;
  unsigned char b = static_cast<unsigned char>(c);
  if (IsDigitAscii(b)) return true;
  unsigned char up = (b >= 'a' && b <= 'z') ? static_cast<unsigned char>(b - 0x20) : b;
  return IsUpperAscii(up) && up != 'F' && up != 'J' && up != 'K';
}
bool filter_all(unsigned int) { return false; }
bool filter_space_letter(unsigned int c) { return filter_space(c); }

// --- rounding --------------------------------------------------------------

double Round(double x, short d) {
  UseNumericPointLocale();
  double scale = PowerOfTen(d);
  return std::floor((x + 5.0 / PowerOfTen(static_cast<short>(d + 1))) * scale) / scale;
}

double MyCeil(double x, short d) {
  UseNumericPointLocale();
  for (short i = 0; i < d; ++i) x *= 10;
  x = std::ceil(x);
  for (short i = 0; i < d; ++i) x /= 10;
  return x;
}

double MyFloor(double x, short d) {
  UseNumericPointLocale();
  for (short i = 0; i < d; ++i) x *= 10;
  x = std::floor(x);
  for (short i = 0; i < d; ++i) x /= 10;
  return x;
}

double CeilToFiveCents(double x) { return std::ceil(20 * x) / 20; }

void ClearZeri(char* s, char sep) {
  if (s == nullptr || sep == '\0') return;
  char* at = std::strchr(s, sep);
  if (at == nullptr) return;
  char* end = s + std::strlen(s);
  while (end > at + 1 && end[-1] == '0') --end;
  if (end == at + 1) end = at;  // nothing left after the separator
  *end = '\0';
}

int TestIfZero(double* v, short d) {
  UseNumericPointLocale();
  if (v == nullptr) return 0;
  double a = std::fabs(*v);
  if (!(a <= 1.0) || d < 0 || d > 8) return 0;
  static constexpr double kLimits[9] = {
      0.0,  // d = 0 has no limit
      0.1,
      0.01,
      0.0009999999999999998,
      9.99999999999999e-05,
      9.9999999999999e-06,
      9.999999999999e-07,
      9.99999999999e-08,
      9.9999999999e-09,
  };
  if (d >= 1 && a < kLimits[d]) {
    *v = 0;
    return 1;
  }
  // "%.8f" with "." whatever the locale; |v| <= 1 needs at most 11 bytes.
  char text[51];
  auto [ptr, ec] = std::to_chars(text, text + sizeof text - 1, *v,
                                 std::chars_format::fixed, 8);
  if (ec != std::errc()) return 0;
  size_t len = static_cast<size_t>(ptr - text) - static_cast<size_t>(8 - d);
  text[len] = '\0';
  const size_t n = static_cast<size_t>(d);
  if (std::strncmp(text, "0.0000000000", n + 2) == 0 ||
      std::strncmp(text, "-0.0000000000", n + 3) == 0) {
    *v = 0;
    return 1;
  }
  double cut = 0;
  std::from_chars(text, text + len, cut, std::chars_format::fixed);
  *v = cut;
  return 0;
}

int TestIfZero(float* v, short d) {
  if (v == nullptr) {
    UseNumericPointLocale();
    return 0;
  }
  double wide = *v;
  int zero = TestIfZero(&wide, d);
  *v = static_cast<float>(wide);
  return zero;
}
