// The skin framework's state as the library's painting reads it: whether a
// skin is applied and the skin's metrics colours (system colour indexes,
// COLOR_BTNFACE and COLOR_BTNSHADOW among them). The skin manager sets it;
// without a skin the classic system colours stand.
//
//   vkt::win::SetSkinEnabled(true);
//   vkt::win::SetSkinColor(COLOR_BTNFACE, RGB(223, 233, 245));
//   if (vkt::win::SkinEnabled()) top = vkt::win::SkinColor(COLOR_BTNFACE);
#ifndef VKT_WIN_SKINFRAMEWORK_H_
#define VKT_WIN_SKINFRAMEWORK_H_

#include "vkt_export.h"
#include "win/winmsg.h"

namespace vkt::win {

VKT_API bool SkinEnabled();
VKT_API void SetSkinEnabled(bool enabled);
// The skin's colour of a system colour index (the system's own when the
// skin gives none).
VKT_API COLORREF SkinColor(int index);
VKT_API void SetSkinColor(int index, COLORREF colour);
// No skin, no skin colours (for tests).
VKT_API void ResetSkin();

}  // namespace vkt::win

#endif  // VKT_WIN_SKINFRAMEWORK_H_
