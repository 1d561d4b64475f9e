// Layered (translucent) windows of the window model: the attributes that
// SetLayeredWindowAttributes gives a window with WS_EX_LAYERED, kept so that
// tests and the canvas can read them back.
//
//   auto set = vkt::win::FindSetLayeredWindowAttributes();   // null: absent
//   if (set) set(hwnd, 0, 230, LWA_ALPHA);
#ifndef VKT_WIN_LAYERED_H_
#define VKT_WIN_LAYERED_H_

#include "vkt_export.h"
#include "win/winmsg.h"

constexpr DWORD LWA_COLORKEY = 0x00000001;
constexpr DWORD LWA_ALPHA = 0x00000002;

using SetLayeredWindowAttributesFn = BOOL (*)(HWND hwnd, COLORREF key, BYTE alpha, DWORD flags);

namespace vkt::win {

// The system's function, looked up by name as on systems that may lack it;
// null when it is not available.
VKT_API SetLayeredWindowAttributesFn FindSetLayeredWindowAttributes();
// Tests take the function away (false) and give it back (true).
VKT_API void SetLayeredAttributesAvailable(bool available);

// The attributes last set on `hwnd`; false when none were set since the
// window last gained WS_EX_LAYERED, or the window does not exist.
VKT_API bool GetLayeredWindowAttributes(HWND hwnd, COLORREF* key, BYTE* alpha, DWORD* flags);

}  // namespace vkt::win

#endif  // VKT_WIN_LAYERED_H_
