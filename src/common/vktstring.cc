#include "common/vktstring.h"

#include <cctype>
#include <cstdint>
#include <cstring>
// GCC 12 reports a false "maybe uninitialized" inside <regex> when it
// optimises with the sanitizers on.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#include <string>

#include "win/cp1252.h"

namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Fills with c from the end of the text to width n and ends it at n.
char* PadTo(char* s, char c, int n) {
  if (s == nullptr || n < 0) return s;
  size_t len = std::strlen(s);
  size_t width = static_cast<size_t>(n);
  if (len < width) std::memset(s + len, c, width - len);
  s[width] = '\0';
  return s;
}

}  // namespace

// --- width and alignment ---------------------------------------------------

char* strclip(char* s) {
  if (s == nullptr) return s;
  size_t len = std::strlen(s);
  while (len > 0 && s[len - 1] == ' ') --len;
  s[len] = '\0';
  return s;
}

char* strpreclip(char* s) {
  if (s == nullptr || *s == '\0') return s;
  size_t lead = 0;
  while (s[lead] == ' ') ++lead;
  if (lead > 0) std::memmove(s, s + lead, std::strlen(s + lead) + 1);
  return s;
}

char* strtrim(char* s) { return strpreclip(strclip(s)); }

char* strpad(char* s, int n) { return PadTo(s, ' ', n); }

char* strpadwith(char* s, int c, int n) { return PadTo(s, static_cast<char>(c), n); }

char* strfill(char* s, char c, int n) {
  if (s == nullptr || n < 0) return s;
  std::memset(s, c, static_cast<size_t>(n));
  s[n] = '\0';
  return s;
}

char* StrFill(char* s, char c, int n) {
  if (s == nullptr || n < 0) return s;
  return PadTo(strclip(s), c, n);
}

char* strleft(char* s, int n) {
  if (s == nullptr || n < 0) return s;
  return strpad(strpreclip(s), n);
}

char* strright(char* s, int n) {
  if (s == nullptr || n < 0) return s;
  strclip(s);
  size_t len = std::strlen(s);
  size_t width = static_cast<size_t>(n);
  if (len < width) {
    std::memmove(s + (width - len), s, len + 1);
    std::memset(s, ' ', width - len);
  }
  return s;
}

char* strcenter(char* s, int n) {
  if (s == nullptr || n < 0) return s;
  strtrim(s);
  size_t len = std::strlen(s);
  size_t width = static_cast<size_t>(n);
  if (len < width) {
    size_t front = (width - len) / 2;
    std::memmove(s + front, s, len + 1);
    std::memset(s, ' ', front);
    strpad(s, n);
  }
  return s;
}

// --- character edits -------------------------------------------------------

char* strcompact(char* s) {
  if (s == nullptr) return s;
  char* w = s;
  for (const char* r = s; *r != '\0'; ++r) {
    char c = *r;
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t' || c == '.' || c == '-') continue;
    *w++ = c;
  }
  *w = '\0';
  return s;
}

void strsost(char* s, char from, char to) {
  if (s == nullptr || from == '\0') return;
  for (; *s != '\0'; ++s) {
    if (*s == from) *s = to;
  }
}

void RemoveChar(char* s, int c) {
  if (s == nullptr) return;
  // Through a private buffer of 201 bytes: only the first 201 characters
  // are looked at and at most 200 come back.
  constexpr size_t kExamined = 201;
  constexpr size_t kKept = 200;
  const char drop = static_cast<char>(c);
  char buf[kExamined];
  size_t kept = 0;
  for (size_t i = 0; i < kExamined && s[i] != '\0'; ++i) {
    if (s[i] != drop && kept < kKept) buf[kept++] = s[i];
  }
  std::memcpy(s, buf, kept);
  s[kept] = '\0';
}

char* strrotate(char* s) {
  if (s == nullptr) return s;
  size_t len = std::strlen(s);
  for (size_t i = 0, j = len; i + 1 < j; ++i, --j) {
    char t = s[i];
    s[i] = s[j - 1];
    s[j - 1] = t;
  }
  return s;
}

char* strproper(char* s) {
  if (s == nullptr) return s;
  bool start = true;
  for (char* p = s; *p != '\0'; ++p) {
    unsigned char b = static_cast<unsigned char>(*p);
    *p = static_cast<char>(start ? std::toupper(b) : std::tolower(b));
    start = *p == ' ';
  }
  return s;
}

char invert_char(char c) {
  unsigned char b = static_cast<unsigned char>(c);
  return static_cast<char>(((b & 0x0F) << 4) | (b >> 4));
}

// --- numbers as text -------------------------------------------------------

namespace {

// The separator walk over s[0..end): position 0 is never counted and a
// separator is inserted only when the blank at position 0 can make room.
void CommaField(char* s, size_t end) {
  int count = 0;
  for (size_t i = end; i-- > 1;) {
    char c = s[i];
    if (IsDigit(c)) {
      ++count;
      if (count % 3 == 0 && IsDigit(s[i - 1]) && s[0] == ' ') {
        std::memmove(s, s + 1, i - 1);
        s[i - 1] = '.';
        --i;  // the next step reads the moved digit, now at i-2
      }
    } else if (c == '.') {
      if (!(count > 0 && count % 3 == 0 && IsDigit(s[i - 1]))) {
        std::memmove(s + 1, s, i);
        s[0] = ' ';
        ++i;  // the character before the dot now stands at i: read it
      }
    }
  }
}

}  // namespace

char* strcomma(char* s) {
  if (s == nullptr || *s == '\0') return s;
  const char* comma = std::strchr(s, ',');
  size_t end = comma != nullptr ? static_cast<size_t>(comma - s) : std::strlen(s);
  if (s[0] != ' ' && end > 1 && s[1] == ' ') {
    // A sign or mark in the first column stays there; the blanks after it
    // are the room.
    CommaField(s + 1, end - 1);
  } else {
    CommaField(s, end);
  }
  return s;
}

char* strnocomma(char* s) {
  if (s == nullptr) return s;
  for (size_t i = 0; s[i] != '\0'; ++i) {
    if (s[i] == '.') {
      std::memmove(s + 1, s, i);
      s[0] = ' ';
    }
  }
  return s;
}

namespace {

constexpr const char* kWords[28] = {
    "",        "uno",         "due",      "tre",         "quattro",  "cinque",
    "sei",     "sette",       "otto",     "nove",        "dieci",    "undici",
    "dodici",  "tredici",     "quattordici", "quindici", "sedici",   "diciassette",
    "diciotto", "diciannove", "venti",    "trenta",      "quaranta", "cinquanta",
    "sessanta", "settanta",   "ottanta",  "novanta",
};

}  // namespace

void ctol(double v, char* out) {
  if (out == nullptr) return;
  out[0] = '\0';
  if (!(v >= 0.0 && v < 1e12)) return;
  std::string w;
  int64_t rest = static_cast<int64_t>(v);
  struct Scale {
    int64_t value;
    const char* one;   // replaces the "uno" of a group of 1
    const char* many;
  };
  static constexpr Scale kScales[4] = {
      {1000000000, "unmiliardo", "miliardi"},
      {1000000, "unmilione", "milioni"},
      {1000, "mille", "mila"},
      {1, "", ""},
  };
  for (const Scale& sc : kScales) {
    int64_t g = rest / sc.value;
    if (g <= 0) continue;
    int64_t r = g;
    if (g >= 100 && g <= 999) {
      int64_t h = g / 100;
      if (h != 1) w += kWords[h];
      w += "cento";
      r = g % 100;
    }
    if (r >= 21 && r <= 99) {
      w += kWords[r / 10 + 18];
      int64_t u = r % 10;
      if (u == 1 || u == 8) w.pop_back();  // venti + uno = ventuno
      w += kWords[u];
    } else {
      w += kWords[r];
    }
    if (sc.value > 1) {
      if (g == 1) {
        w.resize(w.size() - 3);  // the "uno" just written
        w += sc.one;
      } else {
        w += sc.many;
      }
    }
    rest -= g * sc.value;
  }
  if (w.empty()) w = "zero";
  std::memcpy(out, w.c_str(), w.size() + 1);
}

int CalcOptimalStep(int n) {
  if (n < 100) return 1;
  if (n <= 10000) return (n + 99) / 100;
  return n / 1000 + (n % 1000 != 0 ? 1 : 0);
}

// --- quoting and copying ---------------------------------------------------

char* strzcpy(char* dst, const char* src, int n) {
  if (dst == nullptr || n <= 0) return dst;
  std::memset(dst, 0, static_cast<size_t>(n));
  if (src == nullptr) return dst;
  size_t len = strnlen(src, static_cast<size_t>(n - 1));
  std::memcpy(dst, src, len);
  return dst;
}

// Both quoting functions fill dst from the back: every write lands at or
// after the character it comes from, so dst may be src itself.
char* strquote(char* dst, const char* src) {
  if (dst == nullptr) return dst;
  if (src == nullptr) src = "";
  size_t len = std::strlen(src);
  size_t grown = len;
  for (size_t i = 0; i < len; ++i) {
    if (src[i] == '"' || src[i] == '\\') ++grown;
  }
  size_t w = grown;
  dst[w] = '\0';
  for (size_t i = len; i-- > 0;) {
    char c = src[i];
    dst[--w] = c;
    if (c == '"' || c == '\\') dst[--w] = '\\';
  }
  return dst;
}

char* strsqlquote(char* dst, const char* src) {
  if (dst == nullptr) return dst;
  if (src == nullptr) src = "";
  size_t len = std::strlen(src);
  size_t grown = len + 2;
  for (size_t i = 0; i < len; ++i) {
    if (src[i] == '\'') ++grown;
  }
  size_t w = grown;
  dst[w] = '\0';
  dst[--w] = '\'';
  for (size_t i = len; i-- > 0;) {
    char c = src[i];
    if (c == '*') c = '%';
    if (c == '?') c = '_';
    dst[--w] = c;
    if (c == '\'') dst[--w] = '\'';
  }
  dst[0] = '\'';
  return dst;
}

CString SqlQuote(CString s, bool leading, bool trailing, bool quote) {
  s.Replace("\\", "\\\\");  // first, so the escapes added below stay single
  s.Replace("*", "%");
  s.Replace("?", "_");
  s.Replace("'", "''");
  s.Replace("\b", "\\b");
  s.Replace("\n", "\\n");
  s.Replace("\r", "\\r");
  s.Replace("\t", "\\t");
  s.Replace("\x1A", "\\Z");
  const bool own_wildcards = s.Find('%') >= 0 || s.Find('_') >= 0;
  CString out;
  if (quote) out += '\'';
  if (leading && !own_wildcards) out += '%';
  out += s;
  if (trailing && !own_wildcards) out += '%';
  if (quote) out += '\'';
  return out;
}

// --- tests -----------------------------------------------------------------

bool endswith(const char* s, const char* suffix) {
  if (s == nullptr || suffix == nullptr) return false;
  size_t n = std::strlen(s);
  size_t m = std::strlen(suffix);
  return m <= n && std::memcmp(s + n - m, suffix, m) == 0;
}

int AllAlphaDigits(const char* s) {
  if (s == nullptr) return 1;
  for (; *s != '\0'; ++s) {
    if (!std::isalnum(static_cast<unsigned char>(*s))) return 0;
  }
  return 1;
}

int AllDigits(const char* s) {
  if (s == nullptr) return 1;
  for (; *s != '\0'; ++s) {
    if (!IsDigit(*s)) return 0;
  }
  return 1;
}

int AllPrintable(const char* s) {
  if (s == nullptr) return 1;
  for (; *s != '\0'; ++s) {
    unsigned char b = static_cast<unsigned char>(*s);
    if (b < 0x20 || b > 0x7E) return 0;
  }
  return 1;
}

int Like(const char* pattern, const char* text) {
  const char* p = pattern != nullptr ? pattern : "";
  const char* t = text != nullptr ? text : "";
  // The latest "*" met and the text position its current try starts from.
  // Retrying only the latest star gives the same answers as trying every
  // star's every split: whatever an earlier star could absorb, the later
  // one can absorb too.
  const char* star_rest = nullptr;
  const char* star_text = nullptr;
  for (;;) {
    if (*p == '\0' && *t == '\0') return 0;
    if (*p == '*' && p[1] == '\0') return 0;
    bool step = false;
    if (*t != '\0' && *p != '\0') {
      if (*p == '*') {
        star_rest = p + 1;
        star_text = t;
        p = star_rest;
        continue;
      }
      char want = *p;
      size_t width = 1;
      bool any = want == '?';
      if (want == '\\') {
        any = false;
        if (p[1] != '\0') {  // a lone trailing backslash stands for itself
          want = p[1];
          width = 2;
        }
      }
      if (any || want == *t) {
        p += width;
        ++t;
        step = true;
      }
    }
    if (step) continue;
    // Mismatch: the latest star takes one more character, while text is left.
    if (star_rest == nullptr || *++star_text == '\0') return 1;
    p = star_rest;
    t = star_text;
  }
}

bool VerifyString(const char* text, const char* pattern) {
  const std::regex re(pattern != nullptr ? pattern : "", std::regex::ECMAScript);
  return std::regex_match(text != nullptr ? text : "", re);
}

int Utf8Check(const char* s) {
  if (s == nullptr) return -1;
  std::string_view text(s);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t start = pos;
    char32_t cp;
    if (!vkt::win::DecodeUtf8(text, &pos, &cp)) return static_cast<int>(start);
  }
  return -1;
}

namespace {

// Lives from the first call to the end of the process (or a reset).
std::string& Utf8Result() {
  static std::string result;
  return result;
}

}  // namespace

const char* StrToUtf8(const char* s) {
  std::string& result = Utf8Result();
  result = vkt::win::Cp1252ToUtf8(s != nullptr ? s : "");
  return result.c_str();
}

namespace vkt {

void ResetStrToUtf8() { std::string().swap(Utf8Result()); }

}  // namespace vkt
