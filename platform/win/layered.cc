#include "win/layered.h"

#include <map>

#include "win/window.h"

namespace vkt::win {
namespace {

struct Attributes {
  COLORREF key = 0;
  BYTE alpha = 255;
  DWORD flags = 0;
};

std::map<HWND, Attributes>& Table() {
  static std::map<HWND, Attributes> t;
  return t;
}

bool g_available = true;

BOOL SetAttributes(HWND hwnd, COLORREF key, BYTE alpha, DWORD flags) {
  // As Win32: only a layered window takes attributes.
  if (!IsWindow(hwnd) || !(GetWindowLong(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED)) return FALSE;
  Table()[hwnd] = Attributes{key, alpha, flags};
  return TRUE;
}

}  // namespace

SetLayeredWindowAttributesFn FindSetLayeredWindowAttributes() {
  return g_available ? &SetAttributes : nullptr;
}

void SetLayeredAttributesAvailable(bool available) { g_available = available; }

bool GetLayeredWindowAttributes(HWND hwnd, COLORREF* key, BYTE* alpha, DWORD* flags) {
  auto& t = Table();
  auto it = t.find(hwnd);
  if (it == t.end()) return false;
  // A stale entry (the handle's window is gone or no longer layered).
  if (!IsWindow(hwnd) || !(GetWindowLong(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED)) {
    t.erase(it);
    return false;
  }
  if (key) *key = it->second.key;
  if (alpha) *alpha = it->second.alpha;
  if (flags) *flags = it->second.flags;
  return true;
}

}  // namespace vkt::win
