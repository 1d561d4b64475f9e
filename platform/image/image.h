// Image decoding for pictures loaded from files, resources or memory:
// Windows bitmaps, icons and placeable metafiles (through gdk-pixbuf and
// libwmf), JPEG (libjpeg-turbo) and GIF (giflib). Every decoder works on a
// bounded byte range, checks each size and offset it needs before it reads
// and refuses absurd dimensions before the library allocates, so a truncated
// or hostile file gives an error, never an over-read or a huge allocation.
//
//   vkt::image::Decoded img;
//   std::string why;
//   if (!vkt::image::Decode(bytes.data(), bytes.size(), &img, &why)) ...
//   uint32_t argb = img.pixels[y * img.width + x];   // 0xAARRGGBB
#ifndef VKT_IMAGE_IMAGE_H_
#define VKT_IMAGE_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vkt_export.h"

namespace vkt::image {

enum class Format { kUnknown, kBmp, kIcon, kJpeg, kGif, kWmf, kEmf, kPng };

// Largest side and largest pixel count a decoder accepts.
constexpr int kMaxSide = 16384;
constexpr int64_t kMaxPixels = int64_t{1} << 25;

struct Decoded {
  Format format = Format::kUnknown;
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // row by row from the top, 0xAARRGGBB, straight alpha
};

// What the first bytes say the data is.
VKT_API Format Sniff(const uint8_t* data, size_t size);
// Decodes a bitmap, icon, JPEG, GIF or placeable WMF metafile (drawn at 96
// pixels per inch). False with a reason in `error` for anything else (EMF
// metafiles included: no reader for them), for truncated or inconsistent
// data and for sizes beyond the limits.
VKT_API bool Decode(const uint8_t* data, size_t size, Decoded* out, std::string* error);

// The single decoders (the data's format already known).
bool DecodeBmp(const uint8_t* data, size_t size, bool file_header, Decoded* out, std::string* error);
bool DecodeIcon(const uint8_t* data, size_t size, Decoded* out, std::string* error);
bool DecodeJpeg(const uint8_t* data, size_t size, Decoded* out, std::string* error);
bool DecodeGif(const uint8_t* data, size_t size, Decoded* out, std::string* error);
bool DecodePng(const uint8_t* data, size_t size, Decoded* out, std::string* error);
// A placeable metafile drawn by libwmf at its own size at 96 pixels per
// inch; one without the placeable header has no size and is refused.
bool DecodeWmf(const uint8_t* data, size_t size, Decoded* out, std::string* error);

// Encoders for tests and tools: a JPEG of the given quality and a GIF of at
// most 256 colours (the first colours met; the rest become the nearest),
// its rows stored in the four interlaced passes on request.
VKT_API bool EncodeJpeg(const Decoded& img, int quality, std::string* out);
VKT_API bool EncodeGif(const Decoded& img, std::string* out, bool interlaced = false);
// An uncompressed 24-bit bitmap file.
VKT_API std::string EncodeBmp(const Decoded& img);

// True when width and height are positive and within the limits.
bool SizeOk(int64_t width, int64_t height, std::string* error);

}  // namespace vkt::image

#endif  // VKT_IMAGE_IMAGE_H_
