#include "win/skinframework.h"

#include <map>

#include "win/gdi.h"

namespace vkt::win {
namespace {

struct Skin {
  bool enabled = false;
  std::map<int, COLORREF> colours;
};

Skin& S() {
  static Skin s;
  return s;
}

}  // namespace

bool SkinEnabled() { return S().enabled; }
void SetSkinEnabled(bool enabled) { S().enabled = enabled; }

COLORREF SkinColor(int index) {
  auto it = S().colours.find(index);
  return it != S().colours.end() ? it->second : GetSysColor(index);
}

void SetSkinColor(int index, COLORREF colour) { S().colours[index] = colour; }

void ResetSkin() {
  S().enabled = false;
  S().colours.clear();
}

}  // namespace vkt::win
