// Rectangles and points in window coordinates (32-bit, as Win32 keeps them).
#ifndef VKT_WIN_RECT_H_
#define VKT_WIN_RECT_H_

#include <cstdint>

struct CPoint {
  int32_t x = 0;
  int32_t y = 0;
  constexpr CPoint() = default;
  constexpr CPoint(int32_t x_, int32_t y_) : x(x_), y(y_) {}
  friend constexpr bool operator==(const CPoint&, const CPoint&) = default;
};

struct CSize {
  int32_t cx = 0;
  int32_t cy = 0;
  constexpr CSize() = default;
  constexpr CSize(int32_t w, int32_t h) : cx(w), cy(h) {}
  friend constexpr bool operator==(const CSize&, const CSize&) = default;
};

// Right and bottom are exclusive, as in Win32.
struct CRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  constexpr CRect() = default;
  constexpr CRect(int32_t l, int32_t t, int32_t r, int32_t b)
      : left(l), top(t), right(r), bottom(b) {}

  constexpr int32_t Width() const { return right - left; }
  constexpr int32_t Height() const { return bottom - top; }
  constexpr bool IsRectEmpty() const { return right <= left || bottom <= top; }
  constexpr bool PtInRect(CPoint p) const {
    return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
  }
  constexpr void OffsetRect(int32_t dx, int32_t dy) {
    left += dx; right += dx; top += dy; bottom += dy;
  }
  constexpr void DeflateRect(int32_t dx, int32_t dy) {
    left += dx; right -= dx; top += dy; bottom -= dy;
  }
  constexpr void InflateRect(int32_t dx, int32_t dy) { DeflateRect(-dx, -dy); }
  friend constexpr bool operator==(const CRect&, const CRect&) = default;
};

#endif  // VKT_WIN_RECT_H_
