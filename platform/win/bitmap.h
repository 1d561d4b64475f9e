// Bitmaps of the window model: handles to RGB images that dialogs own and
// paint, loaded from files (PNG or uncompressed BMP) or from the library's
// bitmap resources, and copied onto a device context as BitBlt and
// StretchBlt would.
//
//   HBITMAP bmp = vkt::win::LoadBitmapFile("/srv/mirto/sfondo.bmp");
//   BITMAP info;
//   if (bmp && vkt::win::GetBitmapInfo(bmp, &info)) { /* info.bmWidth ... */ }
//   vkt::win::BitBlt(&dc, CRect(0, 0, 100, 50), bmp, 0, 0);
//   vkt::win::DeleteBitmap(bmp);
#ifndef VKT_WIN_BITMAP_H_
#define VKT_WIN_BITMAP_H_

#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/gdi.h"

struct HBITMAP__;
using HBITMAP = HBITMAP__*;

// What GetObject tells of a bitmap.
struct BITMAP {
  LONG bmType = 0;
  LONG bmWidth = 0;
  LONG bmHeight = 0;
  LONG bmWidthBytes = 0;
  WORD bmPlanes = 1;
  WORD bmBitsPixel = 32;
};

namespace vkt::win {

// A new bitmap of `pixels` (row by row, width * height); null for an empty
// size or a pixel count that does not match.
VKT_API HBITMAP CreateBitmap(int width, int height, std::vector<COLORREF> pixels);
VKT_API HBITMAP CreateSolidBitmap(int width, int height, COLORREF colour);
// False for a deleted or unknown handle.
VKT_API bool GetBitmapInfo(HBITMAP bmp, BITMAP* info);
VKT_API bool IsBitmap(HBITMAP bmp);
// The colour at (x, y); black outside or for a stale handle.
VKT_API COLORREF BitmapPixel(HBITMAP bmp, int x, int y);
// False when the handle was not a live bitmap.
VKT_API bool DeleteBitmap(HBITMAP bmp);
VKT_API size_t LiveBitmaps();

// A PNG file or an uncompressed 24- or 32-bit BMP file; null when the file
// cannot be read or decoded.
VKT_API HBITMAP LoadBitmapFile(const std::string& path);
// The library's and the host's bitmap resources: a registered image is
// copied into a new bitmap at every load; null for an unknown id.
VKT_API void RegisterBitmapResource(UINT id, int width, int height,
                                    std::vector<COLORREF> pixels);
VKT_API HBITMAP LoadBitmapResource(UINT id);
VKT_API void ClearBitmapResources();

// Copies the bitmap's block from (src_x, src_y) into `dst` unscaled.
VKT_API void BitBlt(CDC* dc, const CRect& dst, HBITMAP bmp, int src_x, int src_y);
// Scales the whole bitmap to `dst`.
VKT_API void StretchBlt(CDC* dc, const CRect& dst, HBITMAP bmp);

}  // namespace vkt::win

#endif  // VKT_WIN_BITMAP_H_
