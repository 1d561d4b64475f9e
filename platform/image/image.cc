#include "image/image.h"

#include <cairo.h>

#include <cstring>

namespace vkt::image {
namespace {

uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct PngReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

cairo_status_t ReadPng(void* closure, unsigned char* buf, unsigned int length) {
  auto* r = static_cast<PngReader*>(closure);
  if (length > r->size - r->pos) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(buf, r->data + r->pos, length);
  r->pos += length;
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

bool SizeOk(int64_t width, int64_t height, std::string* error) {
  if (width <= 0 || height <= 0) {
    *error = "dimensioni dell'immagine nulle";
    return false;
  }
  if (width > kMaxSide || height > kMaxSide || width * height > kMaxPixels) {
    *error = "dimensioni dell'immagine eccessive (" + std::to_string(width) + " x " +
             std::to_string(height) + ")";
    return false;
  }
  return true;
}

Format Sniff(const uint8_t* data, size_t size) {
  if (data == nullptr) return Format::kUnknown;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return Format::kBmp;
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return Format::kJpeg;
  if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
    return Format::kGif;
  if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) return Format::kPng;
  if (size >= 4 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || data[2] == 2) && data[3] == 0)
    return Format::kIcon;  // 1 icon, 2 cursor
  if (size >= 4 && Le32(data) == 0x9AC6CDD7u) return Format::kWmf;  // placeable
  if (size >= 6 && (data[0] == 1 || data[0] == 2) && data[1] == 0 && data[2] == 9 && data[3] == 0)
    return Format::kWmf;
  if (size >= 44 && Le32(data) == 1 && std::memcmp(data + 40, " EMF", 4) == 0) return Format::kEmf;
  return Format::kUnknown;
}

bool Decode(const uint8_t* data, size_t size, Decoded* out, std::string* error) {
  *out = Decoded();
  std::string scratch;
  if (error == nullptr) error = &scratch;
  const Format f = Sniff(data, size);
  bool ok = false;
  switch (f) {
    case Format::kBmp: ok = DecodeBmp(data, size, true, out, error); break;
    case Format::kIcon: ok = DecodeIcon(data, size, out, error); break;
    case Format::kJpeg: ok = DecodeJpeg(data, size, out, error); break;
    case Format::kGif: ok = DecodeGif(data, size, out, error); break;
    case Format::kWmf: ok = DecodeWmf(data, size, out, error); break;
    case Format::kEmf:
      // No library that Debian ships reads enhanced metafiles.
      *error = "metafile EMF non supportato";
      break;
    case Format::kPng:
      *error = "formato PNG non previsto per le immagini";
      break;
    case Format::kUnknown:
      *error = size == 0 ? "dati vuoti" : "i dati non sono un'immagine";
      break;
  }
  if (!ok) {
    *out = Decoded();
    return false;
  }
  out->format = f;
  return true;
}

bool DecodePng(const uint8_t* data, size_t size, Decoded* out, std::string* error) {
  // The header gives the size before cairo allocates anything.
  if (size < 24 || std::memcmp(data + 12, "IHDR", 4) != 0) {
    *error = "PNG troncato";
    return false;
  }
  auto be = [](const uint8_t* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
  };
  if (!SizeOk(be(data + 16), be(data + 20), error)) return false;
  PngReader r{data, size, 0};
  cairo_surface_t* s = cairo_image_surface_create_from_png_stream(&ReadPng, &r);
  bool ok = cairo_surface_status(s) == CAIRO_STATUS_SUCCESS &&
            cairo_image_surface_get_format(s) != CAIRO_FORMAT_INVALID;
  if (ok) {
    cairo_surface_flush(s);
    const int w = cairo_image_surface_get_width(s), h = cairo_image_surface_get_height(s);
    const int stride = cairo_image_surface_get_stride(s);
    const cairo_format_t fmt = cairo_image_surface_get_format(s);
    ok = (fmt == CAIRO_FORMAT_ARGB32 || fmt == CAIRO_FORMAT_RGB24) && SizeOk(w, h, error);
    if (ok) {
      const uint8_t* base = cairo_image_surface_get_data(s);
      out->width = w;
      out->height = h;
      out->pixels.resize(static_cast<size_t>(w) * h);
      for (int y = 0; y < h; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(base + static_cast<size_t>(y) * stride);
        for (int x = 0; x < w; ++x) {
          uint32_t p = row[x];
          uint32_t a = fmt == CAIRO_FORMAT_RGB24 ? 255 : p >> 24;
          uint32_t rr = (p >> 16) & 255, gg = (p >> 8) & 255, bb = p & 255;
          if (a != 0 && a != 255) {  // cairo keeps premultiplied colours
            rr = rr * 255 / a;
            gg = gg * 255 / a;
            bb = bb * 255 / a;
          }
          out->pixels[static_cast<size_t>(y) * w + x] = (a << 24) | (rr << 16) | (gg << 8) | bb;
        }
      }
    }
  }
  if (!ok && error->empty()) *error = "PNG non valido o troncato";
  cairo_surface_destroy(s);
  return ok;
}

std::string EncodeBmp(const Decoded& img) {
  const uint32_t row = (static_cast<uint32_t>(img.width) * 3 + 3) & ~3u;
  const uint32_t image = row * static_cast<uint32_t>(img.height);
  std::string out(54 + image, '\0');
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<char>((v >> (8 * i)) & 255);
  };
  out[0] = 'B';
  out[1] = 'M';
  put32(2, 54 + image);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<uint32_t>(img.width));
  put32(22, static_cast<uint32_t>(img.height));
  out[26] = 1;
  out[28] = 24;
  put32(34, image);
  put32(38, 3780);  // 96 dpi
  put32(42, 3780);
  for (int y = 0; y < img.height; ++y) {
    size_t at = 54 + static_cast<size_t>(img.height - 1 - y) * row;
    for (int x = 0; x < img.width; ++x) {
      uint32_t p = img.pixels[static_cast<size_t>(y) * img.width + x];
      out[at++] = static_cast<char>(p & 255);
      out[at++] = static_cast<char>((p >> 8) & 255);
      out[at++] = static_cast<char>((p >> 16) & 255);
    }
  }
  return out;
}

}  // namespace vkt::image
