#include "controls/vktpicture.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace vkt::controls {
namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::map<std::pair<std::string, std::string>, std::vector<unsigned char>>& Resources() {
  static std::map<std::pair<std::string, std::string>, std::vector<unsigned char>> r;
  return r;
}

// Files bigger than this are no pictures the library shows.
constexpr long kMaxFileBytes = 256L * 1024 * 1024;

}  // namespace

void RegisterRawResource(const std::string& type, const std::string& name,
                         std::vector<unsigned char> bytes) {
  Resources()[{Lower(type), Lower(name)}] = std::move(bytes);
}

void ClearRawResources() { Resources().clear(); }

int PixelsPerInch(CDC*) { return 96; }

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t p = static_cast<int64_t>(a) * b;
  const int64_t half = (c < 0 ? -static_cast<int64_t>(c) : c) / 2;
  const bool negative = (p < 0) != (c < 0);
  const int64_t q = ((p < 0 ? -p : p) + half) / (c < 0 ? -static_cast<int64_t>(c) : c);
  return static_cast<int>(negative ? -q : q);
}

}  // namespace vkt::controls

using vkt::controls::MulDiv;
using vkt::controls::PixelsPerInch;

CVKTPicture::CVKTPicture() = default;
CVKTPicture::~CVKTPicture() { UnLoad(); }

void CVKTPicture::UnLoad() {
  picture_.reset();
  himetric_ = CSize(0, 0);
}

bool CVKTPicture::Load(CString file) {
  UnLoad();
  std::FILE* f = std::fopen(file.GetString(), "rb");
  if (f == nullptr) {
    last_error_ = "file non apribile: " + file.str();
    return false;
  }
  std::vector<unsigned char> bytes;
  bool ok = std::fseek(f, 0, SEEK_END) == 0;
  long length = ok ? std::ftell(f) : -1;
  ok = ok && length >= 0 && length <= vkt::controls::kMaxFileBytes && std::fseek(f, 0, SEEK_SET) == 0;
  if (ok) {
    bytes.resize(static_cast<size_t>(length));
    ok = std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
  }
  std::fclose(f);
  if (!ok) {
    last_error_ = length > vkt::controls::kMaxFileBytes ? "file troppo grande: " + file.str()
                                                       : "file non leggibile: " + file.str();
    return false;
  }
  return LoadFromBuffer(bytes.data(), static_cast<int>(bytes.size()));
}

bool CVKTPicture::GetResource(const char* name, const char* type, void* buffer, int& size) {
  if (name == nullptr || type == nullptr) return false;
  auto& r = vkt::controls::Resources();
  auto it = r.find({vkt::controls::Lower(type), vkt::controls::Lower(name)});
  if (it == r.end()) return false;
  const int length = static_cast<int>(it->second.size());
  if (buffer == nullptr) {
    size = length;
    return true;
  }
  if (size < length) return false;
  std::copy(it->second.begin(), it->second.end(), static_cast<unsigned char*>(buffer));
  return true;
}

bool CVKTPicture::Load(CString type, CString name) {
  UnLoad();
  int size = 0;
  if (!GetResource(name.GetString(), type.GetString(), nullptr, size) || size <= 0) {
    last_error_ = "risorsa assente o vuota: " + type.str() + " " + name.str();
    return false;
  }
  std::vector<unsigned char> bytes(static_cast<size_t>(size));
  if (!GetResource(name.GetString(), type.GetString(), bytes.data(), size)) {
    last_error_ = "risorsa non leggibile: " + type.str() + " " + name.str();
    return false;
  }
  return LoadFromBuffer(bytes.data(), size);
}

bool CVKTPicture::LoadFromBuffer(const unsigned char* data, int size) {
  UnLoad();
  last_error_.clear();
  auto img = std::make_unique<vkt::image::Decoded>();
  if (data == nullptr || size <= 0 ||
      !vkt::image::Decode(data, static_cast<size_t>(size), img.get(), &last_error_)) {
    if (last_error_.empty()) last_error_ = "dati vuoti";
    return false;
  }
  last_error_.clear();
  // A picture object measures bitmaps at the screen's 96 pixels per inch.
  himetric_ = CSize(MulDiv(img->width, 2540, 96), MulDiv(img->height, 2540, 96));
  picture_ = std::move(img);
  return true;
}

CSize CVKTPicture::GetHimetricSize() const { return picture_ ? himetric_ : CSize(0, 0); }

CSize CVKTPicture::GetSize(CDC* dc) const {
  if (!picture_) return CSize(0, 0);
  const int dpi = PixelsPerInch(dc);
  return CSize(MulDiv(himetric_.cx, dpi, 2540), MulDiv(himetric_.cy, dpi, 2540));
}

bool CVKTPicture::Draw(CDC* dc) { return Draw(dc, CPoint(0, 0)); }

bool CVKTPicture::Draw(CDC* dc, CPoint pos) {
  if (!picture_) return false;
  const CSize s = GetSize(dc);
  return Draw(dc, pos.x, pos.y, s.cx, s.cy);
}

bool CVKTPicture::Draw(CDC* dc, CPoint pos, CSize size) {
  if (!picture_) return false;
  return Draw(dc, pos.x, pos.y, size.cx, size.cy);
}

bool CVKTPicture::Draw(CDC* dc, double scale) { return Draw(dc, CPoint(0, 0), scale); }

bool CVKTPicture::Draw(CDC* dc, CPoint pos, double scale) {
  if (!picture_ || !std::isfinite(scale)) return false;
  const CSize s = GetSize(dc);
  const double cx = s.cx * scale, cy = s.cy * scale;
  if (std::fabs(cx) > 1e6 || std::fabs(cy) > 1e6) return false;
  return Draw(dc, pos.x, pos.y, static_cast<int>(cx), static_cast<int>(cy));
}

bool CVKTPicture::Draw(CDC* dc, int x, int y, int cx, int cy) {
  if (!picture_ || dc == nullptr || cx <= 0 || cy <= 0) return false;
  cairo_t* cr = dc->cairo();
  if (cr == nullptr) return true;  // a device context without a surface draws nothing
  const vkt::image::Decoded& img = *picture_;
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, img.width, img.height);
  if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(s);
    return false;
  }
  unsigned char* base = cairo_image_surface_get_data(s);
  const int stride = cairo_image_surface_get_stride(s);
  for (int row = 0; row < img.height; ++row) {
    auto* dst = reinterpret_cast<uint32_t*>(base + static_cast<size_t>(row) * stride);
    const uint32_t* src = img.pixels.data() + static_cast<size_t>(row) * img.width;
    for (int col = 0; col < img.width; ++col) {
      const uint32_t p = src[col], a = p >> 24;
      // cairo wants premultiplied colours.
      const uint32_t r = ((p >> 16) & 255) * a / 255, g = ((p >> 8) & 255) * a / 255,
                     b = (p & 255) * a / 255;
      dst[col] = (a << 24) | (r << 16) | (g << 8) | b;
    }
  }
  cairo_surface_mark_dirty(s);
  cairo_save(cr);
  cairo_rectangle(cr, x, y, cx, cy);
  cairo_clip(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, static_cast<double>(cx) / img.width, static_cast<double>(cy) / img.height);
  cairo_set_source_surface(cr, s, 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_restore(cr);
  const bool ok = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(s);
  return ok;
}
