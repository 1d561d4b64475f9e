// Placeable Windows metafiles through libwmf: its player draws them with its
// gd device at the size the placeable header gives at 96 pixels per inch,
// into a PNG held in memory that cairo's PNG reader turns into pixels. (The
// device's other way out, a gd image handed to the caller, cannot be freed
// through libwmf's interface: every picture would leak.)
//
// Before libwmf sees the data the header's sizes are checked: the size of
// the picture against the limits, the metafile's own length against the
// bytes there, and its largest record (which the player allocates) against
// that length.
#include <libwmf/api.h>
#include <libwmf/gd.h>

#include <string>

#include "image/image.h"

namespace vkt::image {
namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7u;
constexpr size_t kPlaceableSize = 22, kHeaderSize = 18;
constexpr int64_t kScreenDpi = 96;

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool Fail(std::string* error, const char* why) {
  *error = why;
  return false;
}

int AppendPng(void* context, char* buffer, int length) {
  static_cast<std::string*>(context)->append(buffer, static_cast<size_t>(length));
  return length;
}

const char* Why(wmf_error_t e) {
  switch (e) {
    case wmf_E_InsMem: return "metafile WMF: memoria insufficiente";
    case wmf_E_EOF: return "metafile WMF troncato";
    case wmf_E_DeviceError: return "metafile WMF: errore nel disegno";
    default: return "metafile WMF non valido";
  }
}

}  // namespace

bool DecodeWmf(const uint8_t* data, size_t size, Decoded* out, std::string* error) {
  // Only a placeable metafile says how big it is; the others are drawings
  // without a size, and no picture is made of them.
  if (size < 4 || Le32(data) != kPlaceableKey)
    return Fail(error, "metafile WMF senza intestazione posizionabile: dimensioni sconosciute");
  if (size < kPlaceableSize + kHeaderSize) return Fail(error, "metafile WMF troncato");
  const int64_t left = static_cast<int16_t>(Le16(data + 6)),
                top = static_cast<int16_t>(Le16(data + 8)),
                right = static_cast<int16_t>(Le16(data + 10)),
                bottom = static_cast<int16_t>(Le16(data + 12));
  const int64_t inch = Le16(data + 14);
  if (inch == 0) return Fail(error, "metafile WMF senza unit\xE0 per pollice");
  const uint8_t* header = data + kPlaceableSize;
  if (Le16(header + 2) != kHeaderSize / 2)
    return Fail(error, "intestazione del metafile WMF non valida");
  // Lengths in 16-bit words, the header's included.
  const uint32_t words = Le32(header + 6), largest = Le32(header + 12);
  if (words > (size - kPlaceableSize) / 2) return Fail(error, "metafile WMF troncato");
  if (largest > words) return Fail(error, "metafile WMF con un record pi\xF9 lungo del file");
  const int64_t units_w = right > left ? right - left : left - right;
  const int64_t units_h = bottom > top ? bottom - top : top - bottom;
  const int64_t w = (units_w * kScreenDpi + inch / 2) / inch;
  const int64_t h = (units_h * kScreenDpi + inch / 2) / inch;
  if (!SizeOk(w, h, error)) return false;

  wmfAPI* api = nullptr;
  wmfAPI_Options options{};
  options.function = wmf_gd_function;
  // Errors come back here as the result; libwmf writes none to stderr.
  const unsigned long flags =
      WMF_OPT_FUNCTION | WMF_OPT_IGNORE_NONFATAL | WMF_OPT_NO_ERROR | WMF_OPT_NO_DEBUG;
  wmf_error_t e = wmf_api_create(&api, flags, &options);
  if (e != wmf_E_None) {
    if (api != nullptr) wmf_api_destroy(api);
    return Fail(error, "metafile WMF: lettore non inizializzato");
  }
  wmf_gd_t* device = WMF_GD_GetData(api);
  std::string png;
  if ((device->flags & WMF_GD_SUPPORTS_PNG) == 0) {
    wmf_api_destroy(api);
    return Fail(error, "metafile WMF: lettore senza uscita PNG");
  }
  device->type = wmf_gd_png;
  device->flags |= WMF_GD_OUTPUT_MEMORY | WMF_GD_OWN_BUFFER;
  device->sink.context = &png;
  device->sink.function = &AppendPng;
  // libwmf reads the bytes and never writes them.
  e = wmf_mem_open(api, const_cast<unsigned char*>(data), static_cast<long>(size));
  if (e == wmf_E_None) {
    wmfD_Rect bbox;
    e = wmf_scan(api, 0, &bbox);
    if (e == wmf_E_None) {
      device->bbox = bbox;
      device->width = static_cast<unsigned int>(w);
      device->height = static_cast<unsigned int>(h);
      e = wmf_play(api, 0, &bbox);
    }
    wmf_mem_close(api);
  }
  // The device writes the PNG when it closes, with the API.
  const wmf_error_t closed = wmf_api_destroy(api);
  if (e == wmf_E_None) e = closed;
  if (e != wmf_E_None) return Fail(error, Why(e));
  if (png.empty()) return Fail(error, "metafile WMF: nessuna immagine prodotta");
  if (!DecodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), out, error)) return false;
  if (out->width != w || out->height != h) {
    out->pixels.clear();
    return Fail(error, "metafile WMF disegnato a una dimensione inattesa");
  }
  return true;
}

}  // namespace vkt::image
