// Windows bitmaps and icons through gdk-pixbuf's loaders, fed from memory
// with the format named: nothing is guessed from a file name or the bytes.
//
// What is read here is only what must be known before a loader runs: the
// declared sizes (refused beyond the limits before anything is allocated),
// that every row is there (the loaders take a truncated file and draw the
// missing rows black), the icon entry to show and where a packed DIB's
// pixels start. Every offset is checked against the data first.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstring>
#include <string>

#include "image/image.h"

namespace vkt::image {
namespace {

constexpr uint32_t kBiBitfields = 3, kBiAlphaBitfields = 6;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Fail(std::string* error, const char* why) {
  *error = why;
  return false;
}

// The fields of a DIB's info header that bound the work.
struct DibHeader {
  uint32_t header_size = 0;
  int64_t width = 0;
  int64_t height = 0;  // negative: rows from the top
  uint32_t bpp = 0;
  uint32_t compression = 0;
  uint32_t image_size = 0;  // bytes of pixel data; required when compressed
  uint32_t colours_used = 0;
};

bool ReadDibHeader(const uint8_t* data, size_t size, DibHeader* h, std::string* error) {
  if (size < 4) return Fail(error, "intestazione della bitmap troncata");
  h->header_size = Le32(data);
  if (h->header_size == 12) {  // OS/2 1.x: 16-bit sizes
    if (size < 12) return Fail(error, "intestazione della bitmap troncata");
    h->width = Le16(data + 4);
    h->height = static_cast<int16_t>(Le16(data + 6));
    h->bpp = Le16(data + 10);
  } else if (h->header_size >= 16 && h->header_size <= 124) {
    if (size < h->header_size) return Fail(error, "intestazione della bitmap troncata");
    h->width = static_cast<int32_t>(Le32(data + 4));
    h->height = static_cast<int32_t>(Le32(data + 8));
    h->bpp = Le16(data + 14);
    if (h->header_size >= 20) h->compression = Le32(data + 16);
    if (h->header_size >= 24) h->image_size = Le32(data + 20);
    if (h->header_size >= 36) h->colours_used = Le32(data + 32);
  } else {
    return Fail(error, "intestazione della bitmap sconosciuta");
  }
  return true;
}

// Where a DIB's pixels start, from the start of its info header: after the
// colour masks a 40-byte header leaves outside and after the palette.
uint64_t DibBitsOffset(const DibHeader& h) {
  uint64_t at = h.header_size;
  if (h.header_size == 40 && h.compression == kBiBitfields) at += 12;
  if (h.header_size == 40 && h.compression == kBiAlphaBitfields) at += 16;
  const uint64_t entry = h.header_size == 12 ? 3 : 4;
  uint64_t colours = h.colours_used;
  if (colours == 0 && h.bpp >= 1 && h.bpp <= 8) colours = uint64_t{1} << h.bpp;
  return at + colours * entry;
}

// What must hold before the loader sees a bitmap whose pixels start at
// `bits_at` of `total` bytes: sizes within the limits, a palette no longer
// than the depth allows, and every row there. The loader would draw the
// rows a truncated file lacks as black, and take it.
bool CheckDib(const DibHeader& h, uint64_t bits_at, uint64_t total, std::string* error) {
  const int64_t height = h.height < 0 ? -h.height : h.height;
  if (!SizeOk(h.width, height, error)) return false;
  if (h.bpp <= 8 && h.colours_used > (uint32_t{1} << h.bpp))
    return Fail(error, "tavolozza della bitmap troppo lunga");
  uint64_t need;
  if (h.compression == 0 || h.compression == kBiBitfields || h.compression == kBiAlphaBitfields) {
    need = (static_cast<uint64_t>(h.width) * h.bpp + 31) / 32 * 4 * static_cast<uint64_t>(height);
  } else {
    if (h.image_size == 0) return Fail(error, "bitmap compressa senza la lunghezza dei dati");
    need = h.image_size;
  }
  if (bits_at > total || total - bits_at < need) return Fail(error, "dati della bitmap troncati");
  return true;
}

// Refuses zero or absurd sizes from the loader's own reading too, before it
// allocates the picture: a size of 0 tells the loader to stop.
struct SizeGuard {
  std::string* error;
  bool refused = false;
};

void OnSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
  auto* guard = static_cast<SizeGuard*>(data);
  if (!SizeOk(width, height, guard->error)) {
    guard->refused = true;
    gdk_pixbuf_loader_set_size(loader, 0, 0);
  }
}

// Runs the gdk-pixbuf loader `type` on the bytes; `what` names the picture
// in the messages. Transparent pixels keep the colour the loader gave them.
bool RunLoader(const char* type, const char* what, const uint8_t* data, size_t size, Decoded* out,
               std::string* error) {
  GError* gerror = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type(type, &gerror);
  if (loader == nullptr) {
    g_clear_error(&gerror);
    *error = std::string("nessun lettore installato per: ") + what;
    return false;
  }
  SizeGuard guard{error};
  g_signal_connect(loader, "size-prepared", G_CALLBACK(&OnSizePrepared), &guard);
  // A failed write closes the loader itself; a loader is closed exactly once.
  bool ok = gdk_pixbuf_loader_write(loader, data, size, &gerror) &&
            gdk_pixbuf_loader_close(loader, &gerror);
  GdkPixbuf* pixbuf = ok ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (guard.refused) {
    ok = false;
  } else if (!ok || pixbuf == nullptr) {
    *error = std::string(what) + " non valida o troncata";
    if (gerror != nullptr && gerror->message != nullptr) *error += std::string(": ") + gerror->message;
    ok = false;
  } else {
    const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
    const int channels = gdk_pixbuf_get_n_channels(pixbuf);
    const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    ok = SizeOk(w, h, error);
    if (ok && (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB ||
               gdk_pixbuf_get_bits_per_sample(pixbuf) != 8 || channels != (alpha ? 4 : 3))) {
      *error = std::string(what) + ": formato dei pixel inatteso";
      ok = false;
    }
    if (ok) {
      const uint8_t* base = gdk_pixbuf_read_pixels(pixbuf);
      const size_t stride = static_cast<size_t>(gdk_pixbuf_get_rowstride(pixbuf));
      out->width = w;
      out->height = h;
      out->pixels.resize(static_cast<size_t>(w) * h);
      for (int y = 0; y < h; ++y) {
        const uint8_t* src = base + y * stride;  // the last row may be shorter than the stride
        uint32_t* dst = out->pixels.data() + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x, src += channels) {
          const uint32_t a = alpha ? src[3] : 255;
          dst[x] = (a << 24) | (src[0] << 16) | (src[1] << 8) | src[2];
        }
      }
    }
  }
  g_clear_error(&gerror);
  g_object_unref(loader);
  if (!ok) out->pixels.clear();
  return ok;
}

// A 32-bit icon image whose alpha bytes are all 0 was made before icons had
// alpha: Windows shows it through its AND mask, which gdk-pixbuf ignores
// for 32-bit images (it would show nothing at all). The colours are the
// loader's, kept under the zero alpha; only the mask's bits are read here.
void MaskWhenAlphaIsEmpty(const uint8_t* dib, size_t size, const DibHeader& h, Decoded* out) {
  if (h.bpp != 32 || h.header_size < 40 || out->width != h.width || out->height * 2 != h.height)
    return;
  for (uint32_t p : out->pixels)
    if ((p >> 24) != 0) return;
  const uint64_t w = static_cast<uint64_t>(out->width), rows = static_cast<uint64_t>(out->height);
  const uint64_t mask_at = DibBitsOffset(h) + w * 4 * rows;
  const uint64_t mask_stride = (w + 31) / 32 * 4;
  if (mask_at > size || (size - mask_at) / mask_stride < rows) return;
  for (uint64_t row = 0; row < rows; ++row) {
    const uint64_t y = rows - 1 - row;  // the mask's rows go bottom up
    const uint8_t* m = dib + mask_at + row * mask_stride;
    for (uint64_t x = 0; x < w; ++x)
      if (((m[x >> 3] >> (7 - (x & 7))) & 1) == 0) out->pixels[y * w + x] |= 0xFF000000u;
  }
}

// A transparent pixel has no colour: 0, as every decoder here gives it.
void ClearTransparent(Decoded* out) {
  for (uint32_t& p : out->pixels)
    if ((p >> 24) == 0) p = 0;
}

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, bool file_header, Decoded* out,
               std::string* error) {
  if (file_header) {
    if (size < 14) return Fail(error, "bitmap troncata");
    DibHeader h;
    if (!ReadDibHeader(data + 14, size - 14, &h, error)) return false;
    if (!CheckDib(h, Le32(data + 10), size, error)) return false;
    if (!RunLoader("bmp", "bitmap", data, size, out, error)) return false;
    ClearTransparent(out);
    return true;
  }
  // A packed DIB: the loader reads files, so it gets the 14-byte file
  // header the DIB would have, pointing past the palette.
  DibHeader h;
  if (!ReadDibHeader(data, size, &h, error)) return false;
  const uint64_t bits_at = 14 + DibBitsOffset(h);
  if (!CheckDib(h, bits_at, 14 + static_cast<uint64_t>(size), error)) return false;
  if (size > 0xFFFFFFFFu - 14) return Fail(error, "bitmap troppo grande");
  std::string file(14, '\0');
  file[0] = 'B';
  file[1] = 'M';
  for (int i = 0; i < 4; ++i) {
    file[2 + i] = static_cast<char>(((size + 14) >> (8 * i)) & 255);
    file[10 + i] = static_cast<char>((bits_at >> (8 * i)) & 255);
  }
  file.append(reinterpret_cast<const char*>(data), size);
  if (!RunLoader("bmp", "bitmap", reinterpret_cast<const uint8_t*>(file.data()), file.size(), out,
                 error))
    return false;
  ClearTransparent(out);
  return true;
}

bool DecodeIcon(const uint8_t* data, size_t size, Decoded* out, std::string* error) {
  if (size < 6) return Fail(error, "icona troncata");
  const uint16_t count = Le16(data + 4);
  if (count == 0) return Fail(error, "icona senza immagini");
  if ((size - 6) / 16 < count) return Fail(error, "indice dell'icona troncato");
  // The largest image, the deepest among equals (a cursor's entry holds its
  // hot spot where an icon's holds the depth).
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
  // gdk-pixbuf reads no PNG-compressed icon image; cairo's PNG reader does.
  if (std::memcmp(img, "\x89PNG\r\n\x1a\n", 8) == 0) return DecodePng(img, length, out, error);
  DibHeader h;
  if (!ReadDibHeader(img, length, &h, error)) return false;
  if (h.height < 0 || h.height % 2 != 0) return Fail(error, "altezza dell'icona non valida");
  // The height counts the AND mask's rows too, which follow the colours.
  DibHeader colours = h;
  colours.height = h.height / 2;
  if (!CheckDib(colours, DibBitsOffset(h), length, error)) return false;
  const uint64_t w = static_cast<uint64_t>(h.width), rows = static_cast<uint64_t>(colours.height);
  if (h.compression == 0 && length - DibBitsOffset(h) - (w * h.bpp + 31) / 32 * 4 * rows <
                                (w + 31) / 32 * 4 * rows)
    return Fail(error, "maschera dell'icona troncata");
  // The loader gets an icon of that one image.
  std::string one(6 + 16, '\0');
  std::memcpy(&one[0], data, 4);
  one[4] = 1;
  std::memcpy(&one[6], e, 12);
  one[6 + 12] = 6 + 16;
  one.append(reinterpret_cast<const char*>(img), length);
  if (!RunLoader("ico", "icona", reinterpret_cast<const uint8_t*>(one.data()), one.size(), out,
                 error))
    return false;
  MaskWhenAlphaIsEmpty(img, length, h, out);
  ClearTransparent(out);
  return true;
}

}  // namespace vkt::image
