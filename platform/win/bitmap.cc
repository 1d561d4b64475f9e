#include "win/bitmap.h"

#include <cairo.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>

namespace vkt::win {
namespace {

struct Image {
  int width = 0;
  int height = 0;
  std::vector<COLORREF> pixels;
};

struct Store {
  std::map<uintptr_t, Image> live;
  uintptr_t next = 0x50000;
  std::map<UINT, Image> resources;
};

Store& S() {
  static Store s;
  return s;
}

const Image* Find(HBITMAP bmp) {
  auto it = S().live.find(reinterpret_cast<uintptr_t>(bmp));
  return it == S().live.end() ? nullptr : &it->second;
}

HBITMAP Add(Image img) {
  uintptr_t h = S().next++;
  S().live.emplace(h, std::move(img));
  return reinterpret_cast<HBITMAP>(h);
}

uint32_t Le32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

HBITMAP LoadBmp(const std::string& data) {
  if (data.size() < 54 || data[0] != 'B' || data[1] != 'M') return nullptr;
  auto* p = reinterpret_cast<const unsigned char*>(data.data());
  uint32_t offset = Le32(p + 10);
  int32_t width = static_cast<int32_t>(Le32(p + 18));
  int32_t height = static_cast<int32_t>(Le32(p + 22));
  uint16_t bits = Le16(p + 28);
  uint32_t compression = Le32(p + 30);
  if (width <= 0 || height == 0 || width > 16384 || (bits != 24 && bits != 32)) return nullptr;
  if (compression != 0 && !(compression == 3 && bits == 32)) return nullptr;
  bool bottom_up = height > 0;
  int32_t rows = bottom_up ? height : -height;
  if (rows > 16384) return nullptr;
  size_t stride = (static_cast<size_t>(width) * (bits / 8) + 3) & ~static_cast<size_t>(3);
  if (offset > data.size() || (data.size() - offset) / stride < static_cast<size_t>(rows))
    return nullptr;
  Image img;
  img.width = width;
  img.height = rows;
  img.pixels.resize(static_cast<size_t>(width) * static_cast<size_t>(rows));
  for (int32_t y = 0; y < rows; ++y) {
    const unsigned char* row = p + offset + stride * static_cast<size_t>(bottom_up ? rows - 1 - y : y);
    for (int32_t x = 0; x < width; ++x) {
      const unsigned char* px = row + static_cast<size_t>(x) * (bits / 8);
      img.pixels[static_cast<size_t>(y) * width + x] = RGB(px[2], px[1], px[0]);
    }
  }
  return Add(std::move(img));
}

HBITMAP LoadPng(const std::string& path) {
  cairo_surface_t* s = cairo_image_surface_create_from_png(path.c_str());
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  cairo_surface_flush(s);
  Image img;
  img.width = cairo_image_surface_get_width(s);
  img.height = cairo_image_surface_get_height(s);
  cairo_format_t f = cairo_image_surface_get_format(s);
  if (img.width <= 0 || img.height <= 0 ||
      (f != CAIRO_FORMAT_ARGB32 && f != CAIRO_FORMAT_RGB24)) {
    cairo_surface_destroy(s);
    return nullptr;
  }
  int stride = cairo_image_surface_get_stride(s);
  const unsigned char* data = cairo_image_surface_get_data(s);
  img.pixels.resize(static_cast<size_t>(img.width) * img.height);
  for (int y = 0; y < img.height; ++y) {
    const uint32_t* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < img.width; ++x) {
      uint32_t v = row[x];
      img.pixels[static_cast<size_t>(y) * img.width + x] = RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    }
  }
  cairo_surface_destroy(s);
  return Add(std::move(img));
}

// A cairo surface over a copy of the image (cairo wants its own layout).
cairo_surface_t* SurfaceOf(const Image& img) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, img.width, img.height);
  cairo_surface_flush(s);
  int stride = cairo_image_surface_get_stride(s);
  unsigned char* data = cairo_image_surface_get_data(s);
  for (int y = 0; y < img.height; ++y) {
    uint32_t* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
    for (int x = 0; x < img.width; ++x) {
      COLORREF c = img.pixels[static_cast<size_t>(y) * img.width + x];
      row[x] = (static_cast<uint32_t>(GetRValue(c)) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    }
  }
  cairo_surface_mark_dirty(s);
  return s;
}

}  // namespace

HBITMAP CreateBitmap(int width, int height, std::vector<COLORREF> pixels) {
  if (width <= 0 || height <= 0 ||
      pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
    return nullptr;
  return Add(Image{width, height, std::move(pixels)});
}

HBITMAP CreateSolidBitmap(int width, int height, COLORREF colour) {
  if (width <= 0 || height <= 0) return nullptr;
  return CreateBitmap(width, height,
                      std::vector<COLORREF>(static_cast<size_t>(width) * height, colour));
}

bool GetBitmapInfo(HBITMAP bmp, BITMAP* info) {
  const Image* img = Find(bmp);
  if (!img || !info) return false;
  info->bmType = 0;
  info->bmWidth = img->width;
  info->bmHeight = img->height;
  info->bmWidthBytes = img->width * 4;
  info->bmPlanes = 1;
  info->bmBitsPixel = 32;
  return true;
}

bool IsBitmap(HBITMAP bmp) { return Find(bmp) != nullptr; }

COLORREF BitmapPixel(HBITMAP bmp, int x, int y) {
  const Image* img = Find(bmp);
  if (!img || x < 0 || y < 0 || x >= img->width || y >= img->height) return 0;
  return img->pixels[static_cast<size_t>(y) * img->width + x];
}

bool DeleteBitmap(HBITMAP bmp) { return S().live.erase(reinterpret_cast<uintptr_t>(bmp)) == 1; }

size_t LiveBitmaps() { return S().live.size(); }

HBITMAP LoadBitmapFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return nullptr;
  std::string head(8, '\0');
  in.read(head.data(), 8);
  if (in.gcount() < 8) return nullptr;
  if (static_cast<unsigned char>(head[0]) == 0x89 && head.compare(1, 3, "PNG") == 0) return LoadPng(path);
  in.seekg(0);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return LoadBmp(data);
}

void RegisterBitmapResource(UINT id, int width, int height, std::vector<COLORREF> pixels) {
  if (width <= 0 || height <= 0 ||
      pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height))
    return;
  S().resources[id] = Image{width, height, std::move(pixels)};
}

HBITMAP LoadBitmapResource(UINT id) {
  auto it = S().resources.find(id);
  if (it == S().resources.end()) return nullptr;
  return Add(it->second);
}

void ClearBitmapResources() { S().resources.clear(); }

void BitBlt(CDC* dc, const CRect& dst, HBITMAP bmp, int src_x, int src_y) {
  const Image* img = Find(bmp);
  if (!dc || !dc->cairo() || !img || dst.IsRectEmpty()) return;
  cairo_t* cr = dc->cairo();
  cairo_surface_t* s = SurfaceOf(*img);
  cairo_save(cr);
  cairo_rectangle(cr, dst.left, dst.top, dst.Width(), dst.Height());
  cairo_clip(cr);
  cairo_set_source_surface(cr, s, dst.left - src_x, dst.top - src_y);
  cairo_rectangle(cr, dst.left - src_x, dst.top - src_y, img->width, img->height);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(s);
}

void StretchBlt(CDC* dc, const CRect& dst, HBITMAP bmp) {
  const Image* img = Find(bmp);
  if (!dc || !dc->cairo() || !img || dst.IsRectEmpty()) return;
  cairo_t* cr = dc->cairo();
  cairo_surface_t* s = SurfaceOf(*img);
  cairo_save(cr);
  cairo_translate(cr, dst.left, dst.top);
  cairo_scale(cr, static_cast<double>(dst.Width()) / img->width,
              static_cast<double>(dst.Height()) / img->height);
  cairo_set_source_surface(cr, s, 0, 0);
  cairo_rectangle(cr, 0, 0, img->width, img->height);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(s);
}

}  // namespace vkt::win
