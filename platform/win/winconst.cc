#include "win/winconst.h"

namespace vkt::win {
namespace {

struct ButtonSet {
  int count;
  int ids[3];
};

ButtonSet ButtonsOf(unsigned type) {
  switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL: return {2, {IDOK, IDCANCEL, 0}};
    case MB_ABORTRETRYIGNORE: return {3, {IDABORT, IDRETRY, IDIGNORE}};
    case MB_YESNOCANCEL: return {3, {IDYES, IDNO, IDCANCEL}};
    case MB_YESNO: return {2, {IDYES, IDNO, 0}};
    case MB_RETRYCANCEL: return {2, {IDRETRY, IDCANCEL, 0}};
    default: return {1, {IDOK, 0, 0}};
  }
}

}  // namespace

int ButtonCount(unsigned type) { return ButtonsOf(type).count; }

int ButtonAt(unsigned type, int index) {
  ButtonSet b = ButtonsOf(type);
  if (index < 0 || index >= b.count) return 0;
  return b.ids[index];
}

int DefaultAnswer(unsigned type) {
  ButtonSet b = ButtonsOf(type);
  int index = static_cast<int>((type & MB_DEFMASK) >> 8);
  if (index >= b.count) index = 0;
  return b.ids[index];
}

int AffirmativeAnswer(unsigned type) { return ButtonsOf(type).ids[0]; }

}  // namespace vkt::win
