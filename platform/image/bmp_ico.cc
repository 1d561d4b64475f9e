// Windows bitmaps (file or packed DIB) and icons, parsed here: every offset
// and size is checked against the data before it is read.
#include <cstring>

#include "image/image.h"

namespace vkt::image {
namespace {

constexpr uint32_t kBiRgb = 0, kBiBitfields = 3, kBiAlphaBitfields = 6;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Fail(std::string* error, const char* why) {
  *error = why;
  return false;
}

// One channel of a bit-field pixel, scaled to 0..255.
uint32_t Channel(uint32_t pixel, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  uint32_t m = mask >> shift;
  uint32_t v = (pixel >> shift) & m;
  return m == 0 ? 0 : static_cast<uint32_t>((static_cast<uint64_t>(v) * 255 + m / 2) / m);
}

bool Contiguous(uint32_t mask) {
  if (mask == 0) return true;
  while ((mask & 1) == 0) mask >>= 1;
  return (mask & (mask + 1)) == 0;
}

// A DIB: info header at `data`, `size` bytes in all. `bits_at` is the pixel
// data's offset from `data` (0: right after the palette). `icon`: the
// height counts the AND mask too, and the mask gives the transparency.
bool DecodeDib(const uint8_t* data, size_t size, size_t bits_at, bool icon, Decoded* out,
               std::string* error) {
  if (size < 4) return Fail(error, "intestazione della bitmap troncata");
  const uint32_t hsize = Le32(data);
  int64_t width, height;
  uint32_t bpp, compression = kBiRgb, colours_used = 0;
  size_t palette_entry = 4;
  if (hsize == 12) {
    if (size < 12) return Fail(error, "intestazione della bitmap troncata");
    width = Le16(data + 4);
    height = Le16(data + 6);
    bpp = Le16(data + 10);
    palette_entry = 3;
  } else if (hsize >= 40 && hsize <= 124) {
    if (size < hsize) return Fail(error, "intestazione della bitmap troncata");
    width = static_cast<int32_t>(Le32(data + 4));
    height = static_cast<int32_t>(Le32(data + 8));
    bpp = Le16(data + 14);
    compression = Le32(data + 16);
    colours_used = Le32(data + 32);
  } else {
    return Fail(error, "intestazione della bitmap sconosciuta");
  }
  bool top_down = false;
  if (height < 0) {
    if (icon) return Fail(error, "icona capovolta non valida");
    top_down = true;
    height = -height;
  }
  if (icon) {
    if (height % 2 != 0) return Fail(error, "altezza dell'icona non valida");
    height /= 2;
  }
  if (!SizeOk(width, height, error)) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
    return Fail(error, "profondit\xE0 di colore della bitmap non supportata");
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  size_t after = hsize;
  if (compression == kBiBitfields || compression == kBiAlphaBitfields) {
    if (bpp != 16 && bpp != 32) return Fail(error, "maschere di colore non valide");
    const size_t n = compression == kBiAlphaBitfields ? 4 : 3;
    if (hsize >= 52) {
      for (size_t i = 0; i < n && 40 + 4 * i + 4 <= hsize; ++i) masks[i] = Le32(data + 40 + 4 * i);
      if (hsize >= 56) masks[3] = Le32(data + 52);
    } else {
      if (size - after < 4 * n) return Fail(error, "maschere di colore troncate");
      for (size_t i = 0; i < n; ++i) masks[i] = Le32(data + after + 4 * i);
      after += 4 * n;
    }
    for (uint32_t m : masks)
      if (!Contiguous(m)) return Fail(error, "maschere di colore non valide");
  } else if (compression != kBiRgb) {
    return Fail(error, "compressione della bitmap non supportata");
  } else if (bpp == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
  // The palette.
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const uint32_t max = 1u << bpp;
    uint32_t n = colours_used == 0 ? max : colours_used;
    if (n > max) return Fail(error, "tavolozza della bitmap troppo lunga");
    if (after > size || (size - after) / palette_entry < n)
      return Fail(error, "tavolozza della bitmap troncata");
    palette.resize(max, 0xFF000000u);
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* p = data + after + i * palette_entry;
      palette[i] = 0xFF000000u | (p[2] << 16) | (p[1] << 8) | p[0];
    }
    after += static_cast<size_t>(n) * palette_entry;
  }
  if (bits_at == 0) bits_at = after;
  const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
  const uint64_t mask_stride = (static_cast<uint64_t>(width) + 31) / 32 * 4;
  const uint64_t need = stride * height + (icon ? mask_stride * height : 0);
  if (bits_at > size || size - bits_at < need) return Fail(error, "dati della bitmap troncati");
  const uint8_t* bits = data + bits_at;

  out->width = static_cast<int>(width);
  out->height = static_cast<int>(height);
  out->pixels.assign(static_cast<size_t>(width * height), 0xFF000000u);
  bool any_alpha = false;
  for (int64_t row = 0; row < height; ++row) {
    const int64_t y = top_down ? row : height - 1 - row;
    const uint8_t* src = bits + row * stride;
    uint32_t* dst = &out->pixels[static_cast<size_t>(y * width)];
    for (int64_t x = 0; x < width; ++x) {
      uint32_t p;
      switch (bpp) {
        case 1: p = palette[(src[x >> 3] >> (7 - (x & 7))) & 1]; break;
        case 4: p = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 15]; break;
        case 8: p = palette[src[x]]; break;
        case 16: {
          uint32_t v = Le16(src + 2 * x);
          p = (masks[3] ? Channel(v, masks[3]) << 24 : 0xFF000000u) | (Channel(v, masks[0]) << 16) |
              (Channel(v, masks[1]) << 8) | Channel(v, masks[2]);
          break;
        }
        case 24: {
          const uint8_t* q = src + 3 * x;
          p = 0xFF000000u | (q[2] << 16) | (q[1] << 8) | q[0];
          break;
        }
        default: {
          uint32_t v = Le32(src + 4 * x);
          if (compression == kBiRgb) {
            p = v;  // alpha decided below
            if ((v >> 24) != 0) any_alpha = true;
          } else {
            p = (masks[3] ? Channel(v, masks[3]) << 24 : 0xFF000000u) |
                (Channel(v, masks[0]) << 16) | (Channel(v, masks[1]) << 8) | Channel(v, masks[2]);
          }
        }
      }
      dst[x] = p;
    }
  }
  if (bpp == 32 && compression == kBiRgb) {
    // The fourth byte is alpha only in icons that use it; bitmaps ignore it.
    const bool use_alpha = icon && any_alpha;
    for (uint32_t& p : out->pixels)
      if (!use_alpha) p |= 0xFF000000u;
  }
  if (icon && !(bpp == 32 && any_alpha)) {
    const uint8_t* mask = bits + stride * height;
    for (int64_t row = 0; row < height; ++row) {
      const int64_t y = height - 1 - row;
      const uint8_t* m = mask + row * mask_stride;
      for (int64_t x = 0; x < width; ++x)
        if ((m[x >> 3] >> (7 - (x & 7))) & 1) out->pixels[static_cast<size_t>(y * width + x)] = 0;
    }
  }
  return true;
}

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, bool file_header, Decoded* out,
               std::string* error) {
  if (!file_header) return DecodeDib(data, size, 0, false, out, error);
  if (size < 14 + 4) return Fail(error, "bitmap troncata");
  const uint32_t off = Le32(data + 10);
  if (off < 14 + 12 || off > size) return Fail(error, "posizione dei dati della bitmap non valida");
  return DecodeDib(data + 14, size - 14, off - 14, false, out, error);
}

bool DecodeIcon(const uint8_t* data, size_t size, Decoded* out, std::string* error) {
  if (size < 6) return Fail(error, "icona troncata");
  const uint16_t count = Le16(data + 4);
  if (count == 0) return Fail(error, "icona senza immagini");
  if ((size - 6) / 16 < count) return Fail(error, "indice dell'icona troncato");
  // The largest image, the deepest among equals.
  int best = -1;
  uint64_t best_score = 0;
  for (int i = 0; i < count; ++i) {
    const uint8_t* e = data + 6 + 16 * i;
    const uint32_t w = e[0] ? e[0] : 256, h = e[1] ? e[1] : 256;
    const uint32_t bits = data[2] == 1 ? Le16(e + 6) : 0;
    const uint64_t score = (static_cast<uint64_t>(w) * h << 8) | (bits & 255);
    if (best < 0 || score > best_score) {
      best = i;
      best_score = score;
    }
  }
  const uint8_t* e = data + 6 + 16 * best;
  const uint32_t length = Le32(e + 8), offset = Le32(e + 12);
  if (offset > size || length > size - offset || length < 12)
    return Fail(error, "immagine dell'icona fuori dal file");
  const uint8_t* img = data + offset;
  if (length >= 8 && std::memcmp(img, "\x89PNG\r\n\x1a\n", 8) == 0)
    return DecodePng(img, length, out, error);
  return DecodeDib(img, length, 0, true, out, error);
}

}  // namespace vkt::image
