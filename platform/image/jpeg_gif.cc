// JPEG through libjpeg-turbo and GIF through giflib, both fed from memory.
#include <csetjmp>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include <gif_lib.h>
#include <jpeglib.h>
#include <jerror.h>

#include "image/image.h"

namespace vkt::image {
namespace {

// libjpeg reports errors by a callback that must not return: it jumps back.
struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  bool truncated = false;
  char message[JMSG_LENGTH_MAX] = {};
};

void JpegExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->message);
  std::longjmp(e->jump, 1);
}

// Progressive files of thousands of tiny scans take minutes to decode;
// real ones have a dozen.
void JpegProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > 200) {
    auto* e = reinterpret_cast<JpegError*>(cinfo->err);
    std::snprintf(e->message, sizeof e->message, "troppe scansioni");
    std::longjmp(e->jump, 1);
  }
}

void JpegMessage(j_common_ptr cinfo, int level) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  // A warning of data ending early: the rest of the image would be grey.
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) e->truncated = true;
}

struct GifSource {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int ReadGif(GifFileType* gif, GifByteType* buf, int length) {
  auto* s = static_cast<GifSource*>(gif->UserData);
  if (length < 0) return 0;
  size_t n = std::min(static_cast<size_t>(length), s->size - s->pos);
  std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return static_cast<int>(n);
}

int WriteGif(GifFileType* gif, const GifByteType* buf, int length) {
  static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(buf),
                                                   static_cast<size_t>(length));
  return length;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, Decoded* out, std::string* error) {
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = &JpegExit;
  err.mgr.emit_message = &JpegMessage;
  // Everything the jump may cross is set up before setjmp and holds no
  // object with a destructor that the jump would skip.
  std::vector<uint32_t>* pixels = &out->pixels;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&cinfo);
    *error = std::string("JPEG non valido: ") + err.message;
    pixels->clear();
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_progress_mgr progress{};
  progress.progress_monitor = &JpegProgress;
  cinfo.progress = &progress;
  cinfo.mem->max_memory_to_use = 512L * 1024 * 1024;
  jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg_read_header(&cinfo, TRUE);
  if (!SizeOk(cinfo.image_width, cinfo.image_height, error)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&cinfo);
  const int w = static_cast<int>(cinfo.output_width), h = static_cast<int>(cinfo.output_height);
  const int comps = cinfo.output_components;
  if ((comps != 3 && comps != 4) || !SizeOk(w, h, error)) {
    jpeg_destroy_decompress(&cinfo);
    if (error->empty()) *error = "JPEG con componenti di colore inattese";
    return false;
  }
  pixels->resize(static_cast<size_t>(w) * h);
  // The row lives in libjpeg's own pool, freed by jpeg_destroy even after a jump.
  JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                               static_cast<JDIMENSION>(w * comps), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    uint32_t* dst = pixels->data() + static_cast<size_t>(y) * w;
    for (int x = 0; x < w; ++x) {
      const JSAMPLE* p = rows[0] + x * comps;
      if (comps == 3) {
        dst[x] = 0xFF000000u | (p[0] << 16) | (p[1] << 8) | p[2];
      } else {  // Adobe's inverted CMYK
        const uint32_t k = p[3];
        dst[x] = 0xFF000000u | ((p[0] * k / 255) << 16) | ((p[1] * k / 255) << 8) | (p[2] * k / 255);
      }
    }
  }
  const bool complete = cinfo.output_scanline == cinfo.output_height && !err.truncated;
  if (complete) jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  if (!complete || err.truncated) {
    *error = "JPEG troncato";
    pixels->clear();
    return false;
  }
  out->width = w;
  out->height = h;
  return true;
}

bool DecodeGif(const uint8_t* data, size_t size, Decoded* out, std::string* error) {
  // The logical screen's size, checked before giflib allocates for it.
  if (size < 13) {
    *error = "GIF troncato";
    return false;
  }
  const int sw = data[6] | (data[7] << 8), sh = data[8] | (data[9] << 8);
  if (!SizeOk(sw, sh, error)) return false;
  GifSource src{data, size, 0};
  int code = 0;
  GifFileType* gif = DGifOpen(&src, &ReadGif, &code);
  if (gif == nullptr) {
    *error = std::string("GIF non valido: ") + GifErrorString(code);
    return false;
  }
  // Record by record rather than DGifSlurp: each frame's size is checked
  // before anything is allocated for it, and only the first one is decoded.
  GraphicsControlBlock gcb;
  gcb.TransparentColor = NO_TRANSPARENT_COLOR;
  std::vector<GifByteType> raster;
  GifImageDesc desc{};
  const ColorMapObject* map = nullptr;
  bool have_image = false, ended = false;
  std::string why;
  while (why.empty() && !ended) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) {
      why = "GIF troncato";
      break;
    }
    switch (type) {
      case IMAGE_DESC_RECORD_TYPE: {
        if (DGifGetImageDesc(gif) == GIF_ERROR) {
          why = "GIF troncato";
          break;
        }
        const GifImageDesc& d = gif->Image;
        if (have_image) {  // later frames: skipped undecoded
          int size_code = 0;
          GifByteType* block = nullptr;
          if (DGifGetCode(gif, &size_code, &block) == GIF_ERROR) why = "GIF troncato";
          while (why.empty() && block != nullptr)
            if (DGifGetCodeNext(gif, &block) == GIF_ERROR) why = "GIF troncato";
          break;
        }
        if (d.Left < 0 || d.Top < 0 || d.Width <= 0 || d.Height <= 0 ||
            d.Left + d.Width > gif->SWidth || d.Top + d.Height > gif->SHeight) {
          why = "riquadro dell'immagine GIF fuori dallo schermo";
          break;
        }
        desc = d;
        map = d.ColorMap ? d.ColorMap : gif->SColorMap;
        if (map == nullptr || map->Colors == nullptr || map->ColorCount <= 0) {
          why = "GIF senza tavolozza";
          break;
        }
        raster.assign(static_cast<size_t>(d.Width) * d.Height, 0);
        // Interlaced rows come in four passes.
        std::vector<int> rows;
        if (d.Interlace) {
          const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
          for (int pass = 0; pass < 4; ++pass)
            for (int y = start[pass]; y < d.Height; y += step[pass]) rows.push_back(y);
        } else {
          for (int y = 0; y < d.Height; ++y) rows.push_back(y);
        }
        for (int y : rows)
          if (DGifGetLine(gif, raster.data() + static_cast<size_t>(y) * desc.Width, desc.Width) ==
              GIF_ERROR) {
            why = "GIF troncato";
            break;
          }
        have_image = true;
        break;
      }
      case EXTENSION_RECORD_TYPE: {
        int ext_code = 0;
        GifByteType* ext = nullptr;
        if (DGifGetExtension(gif, &ext_code, &ext) == GIF_ERROR) {
          why = "GIF troncato";
          break;
        }
        if (!have_image && ext_code == GRAPHICS_EXT_FUNC_CODE && ext != nullptr && ext[0] >= 4)
          DGifExtensionToGCB(ext[0], ext + 1, &gcb);
        while (why.empty() && ext != nullptr)
          if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) why = "GIF troncato";
        break;
      }
      case TERMINATE_RECORD_TYPE:
        ended = true;
        break;
      default:
        why = "GIF non valido";
        break;
    }
  }
  if (why.empty() && !have_image) why = "GIF senza immagini";
  if (why.empty()) {
    const int w = gif->SWidth, h = gif->SHeight;
    // The background of a still picture: transparent, as browsers show it.
    out->pixels.assign(static_cast<size_t>(w) * h, 0);
    for (int y = 0; y < desc.Height; ++y) {
      for (int x = 0; x < desc.Width; ++x) {
        const int index = raster[static_cast<size_t>(y) * desc.Width + x];
        uint32_t p = 0;
        if (index != gcb.TransparentColor && index < map->ColorCount) {
          const GifColorType& c = map->Colors[index];
          p = 0xFF000000u | (c.Red << 16) | (c.Green << 8) | c.Blue;
        }
        out->pixels[static_cast<size_t>(desc.Top + y) * w + desc.Left + x] = p;
      }
    }
    out->width = w;
    out->height = h;
  } else {
    *error = why;
  }
  int close_error = 0;
  DGifCloseFile(gif, &close_error);
  if (!why.empty()) out->pixels.clear();
  return why.empty();
}

bool EncodeJpeg(const Decoded& img, int quality, std::string* out) {
  if (img.width <= 0 || img.height <= 0 ||
      img.pixels.size() != static_cast<size_t>(img.width) * img.height)
    return false;
  jpeg_compress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = &JpegExit;
  unsigned char* buffer = nullptr;
  unsigned long length = 0;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return false;
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &buffer, &length);
  cinfo.image_width = static_cast<JDIMENSION>(img.width);
  cinfo.image_height = static_cast<JDIMENSION>(img.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPARRAY rows = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                               static_cast<JDIMENSION>(img.width * 3), 1);
  JSAMPLE* row = rows[0];
  while (cinfo.next_scanline < cinfo.image_height) {
    const uint32_t* src = img.pixels.data() + static_cast<size_t>(cinfo.next_scanline) * img.width;
    for (int x = 0; x < img.width; ++x) {
      row[3 * x] = static_cast<JSAMPLE>((src[x] >> 16) & 255);
      row[3 * x + 1] = static_cast<JSAMPLE>((src[x] >> 8) & 255);
      row[3 * x + 2] = static_cast<JSAMPLE>(src[x] & 255);
    }
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  out->assign(reinterpret_cast<const char*>(buffer), length);
  jpeg_destroy_compress(&cinfo);
  std::free(buffer);
  return true;
}

bool EncodeGif(const Decoded& img, std::string* out, bool interlaced) {
  if (img.width <= 0 || img.height <= 0 || img.width > 65535 || img.height > 65535 ||
      img.pixels.size() != static_cast<size_t>(img.width) * img.height)
    return false;
  // The palette: the first 255 colours met; index 255 is transparency.
  std::map<uint32_t, int> index;
  std::vector<GifColorType> colours;
  std::vector<GifByteType> raster(img.pixels.size());
  bool transparent = false;
  for (size_t i = 0; i < img.pixels.size(); ++i) {
    const uint32_t p = img.pixels[i];
    if ((p >> 24) < 128) {
      raster[i] = 255;
      transparent = true;
      continue;
    }
    const uint32_t rgb = p & 0xFFFFFF;
    auto it = index.find(rgb);
    if (it == index.end()) {
      if (colours.size() < 255) {
        it = index.emplace(rgb, static_cast<int>(colours.size())).first;
        colours.push_back({static_cast<GifByteType>(rgb >> 16), static_cast<GifByteType>(rgb >> 8),
                           static_cast<GifByteType>(rgb)});
      } else {
        int best = 0;
        long best_d = -1;
        for (size_t c = 0; c < colours.size(); ++c) {
          const long dr = colours[c].Red - static_cast<long>((rgb >> 16) & 255);
          const long dg = colours[c].Green - static_cast<long>((rgb >> 8) & 255);
          const long db = colours[c].Blue - static_cast<long>(rgb & 255);
          const long dist = dr * dr + dg * dg + db * db;
          if (best_d < 0 || dist < best_d) {
            best_d = dist;
            best = static_cast<int>(c);
          }
        }
        raster[i] = static_cast<GifByteType>(best);
        continue;
      }
    }
    raster[i] = static_cast<GifByteType>(it->second);
  }
  colours.resize(256, GifColorType{0, 0, 0});
  ColorMapObject* map = GifMakeMapObject(256, colours.data());
  if (map == nullptr) return false;
  out->clear();
  int code = 0;
  GifFileType* gif = EGifOpen(out, &WriteGif, &code);
  bool ok = gif != nullptr;
  if (ok) {
    EGifSetGifVersion(gif, true);
    ok = EGifPutScreenDesc(gif, img.width, img.height, 8, 0, map) == GIF_OK;
    if (ok && transparent) {
      GraphicsControlBlock gcb{};
      gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
      gcb.DelayTime = 0;
      gcb.TransparentColor = 255;
      GifByteType ext[4];
      const size_t n = EGifGCBToExtension(&gcb, ext);
      ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, img.width, img.height, interlaced, nullptr) == GIF_OK;
    std::vector<int> rows;
    if (interlaced) {
      const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < img.height; y += step[pass]) rows.push_back(y);
    } else {
      for (int y = 0; y < img.height; ++y) rows.push_back(y);
    }
    for (size_t i = 0; ok && i < rows.size(); ++i)
      ok = EGifPutLine(gif, raster.data() + static_cast<size_t>(rows[i]) * img.width, img.width) ==
           GIF_OK;
    int close_error = 0;
    if (EGifCloseFile(gif, &close_error) != GIF_OK) ok = false;
  }
  GifFreeMapObject(map);
  return ok;
}

}  // namespace vkt::image
