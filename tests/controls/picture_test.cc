// Pictures from real files in a temporary folder: bitmaps, icons, placeable
// metafiles, JPEG and GIF made here (the last two with the libraries
// themselves), their sizes, scaled drawing on a cairo surface, and
// truncated, absurd and corrupted files that must give an error and nothing
// else.
#include <cairo.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "controls/vktpicture.h"
#include "image/image.h"
#include "system_fixture.h"

namespace {

using vkt::image::Decoded;

// Four quadrants: red, green, blue, white.
Decoded Quadrants(int w, int h) {
  Decoded d;
  d.width = w;
  d.height = h;
  d.pixels.resize(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool right = x >= w / 2, low = y >= h / 2;
      d.pixels[static_cast<size_t>(y) * w + x] =
          !low ? (!right ? 0xFFFF0000u : 0xFF00FF00u) : (!right ? 0xFF0000FFu : 0xFFFFFFFFu);
    }
  return d;
}


void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 255);
  s[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 255);
}

// An 8-bit icon of 16 x 16: colour 1 (red) everywhere but the left column,
// which the AND mask makes transparent.
std::string Icon8() {
  const int w = 16, h = 16;
  std::string dib(40 + 256 * 4 + w * h + 4 * h, '\0');
  Put32(dib, 0, 40);
  Put32(dib, 4, w);
  Put32(dib, 8, 2 * h);
  Put16(dib, 12, 1);
  Put16(dib, 14, 8);
  dib[40 + 4 + 2] = static_cast<char>(255);  // palette[1] = red (B, G, R, 0)
  for (int i = 0; i < w * h; ++i) dib[40 + 1024 + i] = 1;
  for (int y = 0; y < h; ++y) dib[40 + 1024 + w * h + 4 * y] = static_cast<char>(0x80);
  std::string ico(6 + 16, '\0');
  Put16(ico, 2, 1);
  Put16(ico, 4, 1);
  ico[6] = w;
  ico[7] = h;
  Put16(ico, 6 + 6, 8);
  Put32(ico, 6 + 8, static_cast<uint32_t>(dib.size()));
  Put32(ico, 6 + 12, 22);
  return ico + dib;
}

// An icon file of the given images, stored in this order.
struct IconImage {
  int width, height, bpp;
  std::string bytes;  // a DIB (header, palette, XOR pixels, AND mask) or a PNG
};
std::string IconFile(const std::vector<IconImage>& images) {
  std::string ico(6 + 16 * images.size(), '\0');
  Put16(ico, 2, 1);
  Put16(ico, 4, static_cast<uint16_t>(images.size()));
  for (size_t i = 0; i < images.size(); ++i) {
    const size_t e = 6 + 16 * i;
    ico[e] = static_cast<char>(images[i].width & 255);  // 256 is stored as 0
    ico[e + 1] = static_cast<char>(images[i].height & 255);
    Put16(ico, e + 4, 1);
    Put16(ico, e + 6, static_cast<uint16_t>(images[i].bpp));
    Put32(ico, e + 8, static_cast<uint32_t>(images[i].bytes.size()));
    Put32(ico, e + 12, static_cast<uint32_t>(ico.size()));  // where it is appended now
    ico += images[i].bytes;
  }
  return ico;
}

// A 32-bit icon DIB: `argb(x, y)` gives each pixel (top row first) with its
// alpha byte as stored, `masked(x, y)` the AND mask's bit.
template <typename Argb, typename Masked>
std::string Dib32(int w, int h, Argb argb, Masked masked) {
  const size_t mask_stride = static_cast<size_t>((w + 31) / 32 * 4);
  std::string dib(40 + 4 * w * h + mask_stride * h, '\0');
  Put32(dib, 0, 40);
  Put32(dib, 4, static_cast<uint32_t>(w));
  Put32(dib, 8, static_cast<uint32_t>(2 * h));
  Put16(dib, 12, 1);
  Put16(dib, 14, 32);
  for (int row = 0; row < h; ++row) {  // bottom up
    const int y = h - 1 - row;
    for (int x = 0; x < w; ++x) {
      Put32(dib, 40 + 4 * (static_cast<size_t>(row) * w + x), argb(x, y));
      if (masked(x, y))
        dib[40 + 4 * w * h + row * mask_stride + x / 8] |= static_cast<char>(0x80 >> (x % 8));
    }
  }
  return dib;
}

// A PNG of one colour, written by cairo.
std::string SolidPng(int w, int h, double r, double g, double b) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, r, g, b);
  cairo_paint(cr);
  cairo_destroy(cr);
  std::string png;
  cairo_surface_write_to_png_stream(
      s,
      [](void* closure, const unsigned char* data, unsigned int length) {
        static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  cairo_surface_destroy(s);
  return png;
}

// A placeable Windows metafile of 1 x 2/3 inch (1440 x 960 twips): a blue
// rectangle over the whole picture and a red one from (360, 240) to
// (1080, 720), both without outline. At 96 pixels per inch: 96 x 64 pixels,
// the red part from (24, 16) to (72, 48).
std::string Metafile() {
  std::string records;
  // A record: its size in 16-bit words, the function, the parameters.
  auto record = [&](uint16_t function, std::initializer_list<uint16_t> params) {
    std::string r(6 + 2 * params.size(), '\0');
    Put32(r, 0, static_cast<uint32_t>(r.size() / 2));
    Put16(r, 4, function);
    size_t at = 6;
    for (uint16_t p : params) {
      Put16(r, at, p);
      at += 2;
    }
    records += r;
  };
  record(0x0103, {8});           // SETMAPMODE MM_ANISOTROPIC: the window maps onto the picture
  record(0x020B, {0, 0});        // SETWINDOWORG y, x
  record(0x020C, {960, 1440});   // SETWINDOWEXT height, width
  // CREATEBRUSHINDIRECT: style BS_SOLID, colour 0x00BBGGRR, hatch; object 0.
  std::string brush(6 + 8, '\0');
  Put32(brush, 0, 7);
  Put16(brush, 4, 0x02FC);
  Put32(brush, 8, 0x00FF0000u);  // blue
  records += brush;
  // CREATEPENINDIRECT: style PS_NULL, width (0, 0), colour; object 1.
  std::string pen(6 + 10, '\0');
  Put32(pen, 0, 8);
  Put16(pen, 4, 0x02FA);
  Put16(pen, 6, 5);
  records += pen;
  record(0x012D, {0});                  // SELECTOBJECT the blue brush
  record(0x012D, {1});                  // SELECTOBJECT the null pen
  record(0x041B, {960, 1440, 0, 0});    // RECTANGLE bottom, right, top, left
  Put32(brush, 8, 0x000000FFu);         // red; object 2
  records += brush;
  record(0x012D, {2});
  record(0x041B, {720, 1080, 240, 360});
  record(0x0000, {});                   // EOF
  // META_HEADER: memory metafile, 9 words of header, version 3.0, size in
  // words of the whole, 3 objects, the largest record (8 words), no members.
  std::string header(18, '\0');
  Put16(header, 0, 1);
  Put16(header, 2, 9);
  Put16(header, 4, 0x0300);
  Put32(header, 6, static_cast<uint32_t>((header.size() + records.size()) / 2));
  Put16(header, 10, 3);
  Put32(header, 12, 8);
  // The placeable header: key, handle 0, bounds (left, top, right, bottom),
  // 1440 units per inch, reserved, and the XOR of its first ten words.
  std::string placeable(22, '\0');
  Put32(placeable, 0, 0x9AC6CDD7u);
  Put16(placeable, 10, 1440);
  Put16(placeable, 12, 960);
  Put16(placeable, 14, 1440);
  uint16_t sum = 0;
  for (int i = 0; i < 10; ++i)
    sum ^= static_cast<uint16_t>(static_cast<unsigned char>(placeable[2 * i]) |
                                 static_cast<unsigned char>(placeable[2 * i + 1]) << 8);
  Put16(placeable, 20, sum);
  return placeable + header + records;
}

class PictureTest : public vkt::test::SystemTest {
 protected:
  void TearDown() override {
    vkt::controls::ClearRawResources();
    SystemTest::TearDown();
  }
  std::string Save(const std::string& name, const std::string& bytes) {
    Write(name, bytes);
    return dir_ / name;
  }
  std::string Jpeg(const Decoded& d, int quality = 95) {
    std::string out;
    EXPECT_TRUE(vkt::image::EncodeJpeg(d, quality, &out));
    return out;
  }
  std::string Gif(const Decoded& d) {
    std::string out;
    EXPECT_TRUE(vkt::image::EncodeGif(d, &out));
    return out;
  }
};

uint32_t Px(const CVKTPicture& p, int x, int y) {
  const Decoded* d = p.GetImage();
  return d->pixels[static_cast<size_t>(y) * d->width + x];
}

bool Near(uint32_t a, uint32_t b, int tol) {
  for (int s = 0; s < 32; s += 8) {
    const int d = static_cast<int>((a >> s) & 255) - static_cast<int>((b >> s) & 255);
    if (d > tol || d < -tol) return false;
  }
  return true;
}

TEST_F(PictureTest, EachFormatLoadsWithItsPixelsAndNaturalSize) {
  const Decoded q = Quadrants(40, 30);
  CVKTPicture pic;
  ASSERT_TRUE(pic.Load(CString(Save("quadri.bmp", vkt::image::EncodeBmp(q))))) << pic.GetLastError();
  EXPECT_EQ(pic.GetImage()->format, vkt::image::Format::kBmp);
  EXPECT_EQ(pic.GetSize(nullptr).cx, 40);
  EXPECT_EQ(pic.GetSize(nullptr).cy, 30);
  EXPECT_EQ(pic.GetImage()->pixels, q.pixels);  // bottom-up rows put back in order

  // A second load releases the first.
  ASSERT_TRUE(pic.Load(CString(Save("quadri.jpg", Jpeg(q))))) << pic.GetLastError();
  EXPECT_EQ(pic.GetImage()->format, vkt::image::Format::kJpeg);
  EXPECT_TRUE(Near(Px(pic, 5, 5), 0xFFFF0000u, 12));
  EXPECT_TRUE(Near(Px(pic, 35, 5), 0xFF00FF00u, 12));
  EXPECT_TRUE(Near(Px(pic, 5, 25), 0xFF0000FFu, 12));
  EXPECT_TRUE(Near(Px(pic, 35, 25), 0xFFFFFFFFu, 12));

  Decoded t = q;
  t.pixels[0] = 0;  // one transparent pixel
  ASSERT_TRUE(pic.Load(CString(Save("quadri.gif", Gif(t))))) << pic.GetLastError();
  EXPECT_EQ(pic.GetImage()->format, vkt::image::Format::kGif);
  EXPECT_EQ(Px(pic, 0, 0) >> 24, 0u);
  EXPECT_EQ(Px(pic, 1, 0), 0xFFFF0000u);
  EXPECT_EQ(Px(pic, 39, 29), 0xFFFFFFFFu);
  EXPECT_EQ(Px(pic, 20, 0), 0xFF00FF00u);

  // Interlaced rows come back in their places.
  Decoded stripes;
  stripes.width = 5;
  stripes.height = 19;
  for (int y = 0; y < stripes.height; ++y)
    for (int x = 0; x < stripes.width; ++x)
      stripes.pixels.push_back(0xFF000000u | static_cast<uint32_t>(y * 13) << 8 | static_cast<uint32_t>(x));
  std::string interlaced;
  ASSERT_TRUE(vkt::image::EncodeGif(stripes, &interlaced, true));
  ASSERT_TRUE(pic.Load(CString(Save("righe.gif", interlaced)))) << pic.GetLastError();
  EXPECT_EQ(pic.GetImage()->pixels, stripes.pixels);
  std::string plain;
  ASSERT_TRUE(vkt::image::EncodeGif(stripes, &plain, false));
  EXPECT_NE(plain, interlaced);

  ASSERT_TRUE(pic.Load(CString(Save("rosso.ico", Icon8())))) << pic.GetLastError();
  EXPECT_EQ(pic.GetImage()->format, vkt::image::Format::kIcon);
  EXPECT_EQ(pic.GetSize(nullptr).cx, 16);
  EXPECT_EQ(Px(pic, 0, 7), 0u);  // masked out
  EXPECT_EQ(Px(pic, 1, 7), 0xFFFF0000u);
  EXPECT_EQ(Px(pic, 15, 15), 0xFFFF0000u);

  // From memory, and from the host's resources.
  const std::string jpeg = Jpeg(q);
  ASSERT_TRUE(pic.LoadFromMemory(reinterpret_cast<const unsigned char*>(jpeg.data()),
                                 static_cast<int>(jpeg.size())));
  vkt::controls::RegisterRawResource("JPG", "LOGO", std::vector<unsigned char>(jpeg.begin(), jpeg.end()));
  vkt::controls::RegisterRawResource("JPG", "VUOTO", {});
  ASSERT_TRUE(pic.Load(CString("jpg"), CString("logo")));
  EXPECT_EQ(pic.GetSize(nullptr).cx, 40);
  EXPECT_FALSE(pic.Load(CString("JPG"), CString("ALTRO")));
  EXPECT_FALSE(pic.IsLoaded());
  EXPECT_FALSE(pic.Load(CString("JPG"), CString("VUOTO")));
}

TEST_F(PictureTest, HimetricSizeAndScaledDrawing) {
  CVKTPicture pic;
  CDC none;
  EXPECT_FALSE(pic.Draw(&none));  // nothing loaded
  EXPECT_FALSE(pic.Draw(&none, 0.5));
  EXPECT_FALSE(pic.Draw(&none, CPoint(1, 1), CSize(5, 5)));
  EXPECT_EQ(pic.GetSize(&none).cx, 0);

  Decoded red;
  red.width = red.height = 96;
  red.pixels.assign(96 * 96, 0xFFFF0000u);
  ASSERT_TRUE(pic.Load(CString(Save("rosso.bmp", vkt::image::EncodeBmp(red)))));
  EXPECT_EQ(pic.GetHimetricSize().cx, 2540);
  EXPECT_EQ(pic.GetHimetricSize().cy, 2540);
  EXPECT_EQ(pic.GetSize(&none).cx, 96);
  EXPECT_EQ(pic.GetSize(&none).cy, 96);
  EXPECT_TRUE(pic.Draw(&none));  // no surface: nothing drawn, no failure

  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 120, 120);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  CDC dc(cr);
  EXPECT_TRUE(pic.Draw(&dc, 0.5));
  EXPECT_TRUE(pic.Draw(&dc, CPoint(60, 60), 0.25));
  EXPECT_FALSE(pic.Draw(&dc, 0.0));
  EXPECT_FALSE(pic.Draw(&dc, -1.0));
  cairo_surface_flush(s);
  auto at = [&](int x, int y) {
    const auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                         y * cairo_image_surface_get_stride(s));
    return row[x] & 0xFFFFFF;
  };
  EXPECT_EQ(at(0, 0), 0xFF0000u);
  EXPECT_EQ(at(47, 47), 0xFF0000u);
  EXPECT_EQ(at(48, 48), 0xFFFFFFu);  // 48 x 48, no more
  EXPECT_EQ(at(50, 20), 0xFFFFFFu);
  EXPECT_EQ(at(60, 60), 0xFF0000u);
  EXPECT_EQ(at(83, 83), 0xFF0000u);  // 24 x 24 at (60, 60)
  EXPECT_EQ(at(84, 84), 0xFFFFFFu);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
}

TEST_F(PictureTest, WhatIsNotAPictureIsRefused) {
  CVKTPicture pic;
  ASSERT_TRUE(pic.Load(CString(Save("ok.bmp", vkt::image::EncodeBmp(Quadrants(4, 4))))));
  EXPECT_FALSE(pic.Load(CString(Save("testo.txt", "Questo non \xE8 un'immagine.\n"))));
  EXPECT_FALSE(pic.IsLoaded());
  EXPECT_EQ(pic.GetLastError(), "i dati non sono un'immagine");
  EXPECT_FALSE(pic.Load(CString(dir_ / "manca.jpg")));
  EXPECT_EQ(pic.GetLastError(), "file non apribile: " + (dir_ / "manca.jpg"));
  EXPECT_FALSE(pic.Load(CString(Save("vuoto.gif", ""))));
  EXPECT_EQ(pic.GetLastError(), "dati vuoti");
  // Metafiles: a placeable key with nothing valid behind it, one without the
  // placeable header (no size of its own), and an EMF, which nothing reads.
  std::string wmf(40, '\0');
  Put32(wmf, 0, 0x9AC6CDD7u);
  EXPECT_FALSE(pic.Load(CString(Save("disegno.wmf", wmf))));
  EXPECT_EQ(pic.GetLastError(), "metafile WMF senza unit\xE0 per pollice");
  Put16(wmf, 14, 1440);
  EXPECT_FALSE(pic.Load(CString(Save("disegno.wmf", wmf))));
  EXPECT_EQ(pic.GetLastError(), "intestazione del metafile WMF non valida");
  EXPECT_FALSE(pic.Load(CString(Save("nudo.wmf", Metafile().substr(22)))));
  EXPECT_EQ(pic.GetLastError(),
            "metafile WMF senza intestazione posizionabile: dimensioni sconosciute");
  std::string emf(88, '\0');
  Put32(emf, 0, 1);
  std::memcpy(&emf[40], " EMF", 4);
  EXPECT_FALSE(pic.Load(CString(Save("disegno.emf", emf))));
  EXPECT_EQ(pic.GetLastError(), "metafile EMF non supportato");
  EXPECT_FALSE(pic.IsLoaded());
}

TEST_F(PictureTest, PlaceableMetafileIsDrawnAtItsSizeAndScaled) {
  CVKTPicture pic;
  ASSERT_TRUE(pic.Load(CString(Save("disegno.wmf", Metafile())))) << pic.GetLastError();
  EXPECT_EQ(pic.GetImage()->format, vkt::image::Format::kWmf);
  EXPECT_EQ(pic.GetSize(nullptr).cx, 96);
  EXPECT_EQ(pic.GetSize(nullptr).cy, 64);
  EXPECT_EQ(pic.GetHimetricSize().cx, 2540);  // one inch
  EXPECT_EQ(pic.GetHimetricSize().cy, 1693);
  EXPECT_EQ(Px(pic, 48, 32), 0xFFFF0000u);  // inside the red rectangle
  EXPECT_EQ(Px(pic, 25, 17), 0xFFFF0000u);
  EXPECT_EQ(Px(pic, 70, 46), 0xFFFF0000u);
  EXPECT_EQ(Px(pic, 5, 5), 0xFF0000FFu);  // outside it, on the blue one
  EXPECT_EQ(Px(pic, 90, 32), 0xFF0000FFu);
  EXPECT_EQ(Px(pic, 48, 60), 0xFF0000FFu);
  EXPECT_EQ(Px(pic, 95, 63), 0xFF0000FFu);

  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 120, 80);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  CDC dc(cr);
  ASSERT_TRUE(pic.Draw(&dc, 0.5));  // 48 x 32, the red part from (12, 8) to (36, 24)
  cairo_surface_flush(s);
  auto at = [&](int x, int y) {
    const auto* row = reinterpret_cast<const uint32_t*>(cairo_image_surface_get_data(s) +
                                                         y * cairo_image_surface_get_stride(s));
    return row[x] & 0xFFFFFF;
  };
  EXPECT_EQ(at(24, 16), 0xFF0000u);
  EXPECT_EQ(at(14, 10), 0xFF0000u);
  EXPECT_EQ(at(3, 3), 0x0000FFu);
  EXPECT_EQ(at(44, 16), 0x0000FFu);
  EXPECT_EQ(at(24, 29), 0x0000FFu);
  EXPECT_EQ(at(52, 16), 0xFFFFFFu);  // past the drawn 48 x 32
  EXPECT_EQ(at(24, 35), 0xFFFFFFu);
  cairo_destroy(cr);
  cairo_surface_destroy(s);

  // The same metafile told it is 2 inches wide (1440 units per 2 inches
  // is 720 per inch) is drawn twice as wide.
  std::string wide = Metafile();
  Put16(wide, 14, 720);
  ASSERT_TRUE(pic.LoadFromMemory(reinterpret_cast<const unsigned char*>(wide.data()),
                                 static_cast<int>(wide.size())))
      << pic.GetLastError();
  EXPECT_EQ(pic.GetSize(nullptr).cx, 192);
  EXPECT_EQ(pic.GetSize(nullptr).cy, 128);
  EXPECT_EQ(Px(pic, 96, 64), 0xFFFF0000u);
  EXPECT_EQ(Px(pic, 40, 64), 0xFF0000FFu);
}

TEST_F(PictureTest, IconImagesTheirAlphaAndTheirMask) {
  CVKTPicture pic;
  auto load = [&](const std::string& bytes) {
    return pic.LoadFromMemory(reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<int>(bytes.size()));
  };
  auto left_column = [](int x, int) { return x == 0; };
  // 32 bits with alpha: the alpha counts and the mask does not.
  const std::string alpha = Dib32(
      8, 8, [](int x, int y) { return y < 4 ? 0x800000FFu : (x < 4 ? 0x00FF0000u : 0xFF00FF00u); },
      left_column);
  ASSERT_TRUE(load(IconFile({{8, 8, 32, alpha}}))) << pic.GetLastError();
  EXPECT_EQ(Px(pic, 0, 0), 0x800000FFu);  // half-transparent blue, masked or not
  EXPECT_EQ(Px(pic, 5, 1), 0x800000FFu);
  EXPECT_EQ(Px(pic, 2, 6), 0u);  // alpha 0: nothing, and no colour either
  EXPECT_EQ(Px(pic, 0, 7), 0u);
  EXPECT_EQ(Px(pic, 6, 6), 0xFF00FF00u);

  // 32 bits whose alpha bytes are all 0 (made before icons had alpha): the
  // mask decides, as Windows shows such an icon.
  const std::string no_alpha =
      Dib32(8, 8, [](int x, int) { return x < 4 ? 0x00FF0000u : 0x000000FFu; }, left_column);
  ASSERT_TRUE(load(IconFile({{8, 8, 32, no_alpha}}))) << pic.GetLastError();
  EXPECT_EQ(Px(pic, 0, 3), 0u);
  EXPECT_EQ(Px(pic, 1, 3), 0xFFFF0000u);
  EXPECT_EQ(Px(pic, 7, 7), 0xFF0000FFu);

  // Of several images the largest is shown, and the deepest of equals,
  // wherever it stands in the file; a PNG-compressed image is read too.
  const std::string small_red = Icon8().substr(22);
  const std::string blue16 = Dib32(16, 16, [](int, int) { return 0xFF0000FFu; }, left_column);
  ASSERT_TRUE(load(IconFile({{16, 16, 8, small_red}, {16, 16, 32, blue16}}))) << pic.GetLastError();
  EXPECT_EQ(Px(pic, 5, 5), 0xFF0000FFu);
  ASSERT_TRUE(load(IconFile({{16, 16, 32, blue16}, {16, 16, 8, small_red}}))) << pic.GetLastError();
  EXPECT_EQ(Px(pic, 5, 5), 0xFF0000FFu);
  const std::string green32 = Dib32(32, 32, [](int, int) { return 0xFF00FF00u; }, left_column);
  ASSERT_TRUE(load(IconFile({{16, 16, 32, blue16}, {32, 32, 32, green32}, {16, 16, 8, small_red}})))
      << pic.GetLastError();
  EXPECT_EQ(pic.GetSize(nullptr).cx, 32);
  EXPECT_EQ(Px(pic, 9, 9), 0xFF00FF00u);
  ASSERT_TRUE(load(IconFile({{16, 16, 8, small_red}, {0, 0, 32, SolidPng(256, 256, 1, 1, 0)}})))
      << pic.GetLastError();
  EXPECT_EQ(pic.GetSize(nullptr).cx, 256);
  EXPECT_EQ(Px(pic, 200, 100), 0xFFFFFF00u);

  // An icon image whose last mask row is missing, though the index agrees.
  std::string short_ico = Icon8();
  short_ico.resize(short_ico.size() - 4);
  Put32(short_ico, 6 + 8, static_cast<uint32_t>(short_ico.size() - 22));
  EXPECT_FALSE(load(short_ico));
  EXPECT_EQ(pic.GetLastError(), "maschera dell'icona troncata");
  // An icon image whose height does not hold the mask too.
  std::string odd = alpha;
  Put32(odd, 8, 15);
  EXPECT_FALSE(load(IconFile({{8, 8, 32, odd}})));
  EXPECT_EQ(pic.GetLastError(), "altezza dell'icona non valida");
}

TEST_F(PictureTest, BitmapsOfEveryLayout) {
  // 32 bits without masks: the fourth byte is no alpha in a bitmap. Rows
  // from the top (negative height).
  std::string top_down(54 + 4 * 3 * 2, '\0');
  top_down[0] = 'B';
  top_down[1] = 'M';
  Put32(top_down, 2, static_cast<uint32_t>(top_down.size()));
  Put32(top_down, 10, 54);
  Put32(top_down, 14, 40);
  Put32(top_down, 18, 3);
  Put32(top_down, 22, static_cast<uint32_t>(-2));
  Put16(top_down, 26, 1);
  Put16(top_down, 28, 32);
  for (int i = 0; i < 6; ++i) Put32(top_down, 54 + 4 * i, i < 3 ? 0x00FF0000u : 0x120000FFu);
  Decoded d;
  std::string why;
  ASSERT_TRUE(vkt::image::Decode(reinterpret_cast<const uint8_t*>(top_down.data()), top_down.size(),
                                 &d, &why))
      << why;
  EXPECT_EQ(d.width, 3);
  EXPECT_EQ(d.height, 2);
  EXPECT_EQ(d.pixels, std::vector<uint32_t>({0xFFFF0000u, 0xFFFF0000u, 0xFFFF0000u, 0xFF0000FFu,
                                             0xFF0000FFu, 0xFF0000FFu}));

  // A packed DIB (no file header) of 4 bits with a palette of 2 colours
  // used: the pixels start right after those 2 entries.
  std::string dib(40 + 2 * 4 + 4 * 2, '\0');
  Put32(dib, 0, 40);
  Put32(dib, 4, 3);
  Put32(dib, 8, 2);
  Put16(dib, 12, 1);
  Put16(dib, 14, 4);
  Put32(dib, 32, 2);
  Put32(dib, 40, 0x0000FF00u);  // colour 0 green
  Put32(dib, 44, 0x00FFFFFFu);  // colour 1 white
  dib[48] = 0x10;               // bottom row: white, green, green
  dib[52] = 0x01;               // top row: green, white, green
  ASSERT_TRUE(vkt::image::DecodeBmp(reinterpret_cast<const uint8_t*>(dib.data()), dib.size(), false,
                                    &d, &why))
      << why;
  EXPECT_EQ(d.pixels, std::vector<uint32_t>({0xFF00FF00u, 0xFFFFFFFFu, 0xFF00FF00u, 0xFFFFFFFFu,
                                             0xFF00FF00u, 0xFF00FF00u}));
  EXPECT_FALSE(vkt::image::DecodeBmp(reinterpret_cast<const uint8_t*>(dib.data()), dib.size() - 1,
                                     false, &d, &why));
  EXPECT_FALSE(why.empty());
}

TEST_F(PictureTest, TruncatedFilesGiveAnErrorAtEveryLength) {
  const Decoded q = Quadrants(24, 18);
  Decoded t = q;
  t.pixels[3] = 0;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"bmp", vkt::image::EncodeBmp(q)}, {"jpg", Jpeg(q)},   {"gif", Gif(t)},
      {"ico", Icon8()},                  {"wmf", Metafile()}};
  for (const auto& [ext, whole] : files) {
    CVKTPicture pic;
    ASSERT_TRUE(pic.LoadFromMemory(reinterpret_cast<const unsigned char*>(whole.data()),
                                   static_cast<int>(whole.size())))
        << ext << ": " << pic.GetLastError();
    for (size_t n = 0; n < whole.size(); ++n) {
      // A copy of exactly n bytes, so that a read past it is caught.
      std::vector<unsigned char> cut(whole.begin(), whole.begin() + static_cast<long>(n));
      EXPECT_FALSE(pic.LoadFromMemory(cut.empty() ? nullptr : cut.data(), static_cast<int>(n)))
          << ext << " cut at " << n;
      EXPECT_FALSE(pic.IsLoaded());
      EXPECT_FALSE(pic.GetLastError().empty());
    }
  }
  // And through a real file.
  CVKTPicture pic;
  const std::string jpeg = Jpeg(q);
  EXPECT_FALSE(pic.Load(CString(Save("tronco.jpg", jpeg.substr(0, jpeg.size() - 12)))));
  EXPECT_EQ(pic.GetLastError(), "JPEG troncato");
}

TEST_F(PictureTest, AbsurdDimensionsAreRefusedBeforeAnyAllocation) {
  CVKTPicture pic;
  auto load = [&](const std::string& bytes) {
    return pic.LoadFromMemory(reinterpret_cast<const unsigned char*>(bytes.data()),
                              static_cast<int>(bytes.size()));
  };
  const std::string bmp = vkt::image::EncodeBmp(Quadrants(4, 4));
  std::string b = bmp;
  Put32(b, 18, 1000000);
  Put32(b, 22, 1000000);
  EXPECT_FALSE(load(b));
  EXPECT_EQ(pic.GetLastError(), "dimensioni dell'immagine eccessive (1000000 x 1000000)");
  b = bmp;
  Put32(b, 22, 0x80000000u);  // the most negative height
  EXPECT_FALSE(load(b));
  b = bmp;
  Put32(b, 18, 0);
  EXPECT_FALSE(load(b));
  b = bmp;
  Put32(b, 18, 0x7FFFFFFF);  // width whose row size overflows 32 bits
  Put32(b, 22, 1);
  EXPECT_FALSE(load(b));
  b = bmp;
  Put32(b, 10, 0xFFFFFFF0u);  // pixel data far past the end
  EXPECT_FALSE(load(b));
  b = bmp;
  Put16(b, 28, 8);
  Put32(b, 46, 0xFFFFFFFFu);  // four billion palette colours
  EXPECT_FALSE(load(b));
  b = bmp;
  Put32(b, 14, 0xFFFFFFFFu);  // header size
  EXPECT_FALSE(load(b));

  // A JPEG whose frame header claims 65000 x 65000.
  std::string j = Jpeg(Quadrants(16, 16));
  size_t sof = 2;
  while (sof + 9 < j.size() && !(static_cast<unsigned char>(j[sof]) == 0xFF &&
                                 static_cast<unsigned char>(j[sof + 1]) == 0xC0))
    ++sof;
  ASSERT_LT(sof + 9, j.size());
  j[sof + 5] = static_cast<char>(0xFD);
  j[sof + 6] = static_cast<char>(0xE8);
  j[sof + 7] = static_cast<char>(0xFD);
  j[sof + 8] = static_cast<char>(0xE8);
  EXPECT_FALSE(load(j));
  EXPECT_EQ(pic.GetLastError(), "dimensioni dell'immagine eccessive (65000 x 65000)");

  // A GIF screen of 65535 x 65535, and one whose image lies outside its screen.
  std::string g = Gif(Quadrants(8, 8));
  std::string big = g;
  Put16(big, 6, 65535);
  Put16(big, 8, 65535);
  EXPECT_FALSE(load(big));
  std::string outside = g;
  Put16(outside, 6, 4);  // the screen shrinks under the 8 x 8 image
  EXPECT_FALSE(load(outside));

  // An icon whose image lies past the file.
  std::string ico = Icon8();
  Put32(ico, 6 + 12, 0x7FFFFFFF);
  EXPECT_FALSE(load(ico));
  ico = Icon8();
  Put16(ico, 4, 4000);  // more entries than the index holds
  EXPECT_FALSE(load(ico));
  ico = Icon8();
  Put32(ico, 22 + 4, 100000);  // the image's own header, not the index, says how big it is
  EXPECT_FALSE(load(ico));
  EXPECT_EQ(pic.GetLastError(), "dimensioni dell'immagine eccessive (100000 x 16)");

  // A metafile of 32767 units at 1 unit per inch would be 3 million pixels wide.
  std::string w = Metafile();
  Put16(w, 10, 32767);
  Put16(w, 14, 1);
  EXPECT_FALSE(load(w));
  EXPECT_EQ(pic.GetLastError(), "dimensioni dell'immagine eccessive (3145632 x 92160)");
  w = Metafile();
  Put32(w, 22 + 12, 0x7FFFFFFF);  // a largest record of 4 GiB, which the player would allocate
  EXPECT_FALSE(load(w));
  EXPECT_EQ(pic.GetLastError(), "metafile WMF con un record pi\xF9 lungo del file");
  w = Metafile();
  Put16(w, 10, 0);  // no width
  EXPECT_FALSE(load(w));
  EXPECT_EQ(pic.GetLastError(), "dimensioni dell'immagine nulle");
  EXPECT_FALSE(pic.IsLoaded());
}

TEST_F(PictureTest, RandomlyDamagedFilesNeverCrash) {
  const Decoded q = Quadrants(20, 20);
  const std::vector<std::string> files = {vkt::image::EncodeBmp(q), Jpeg(q), Gif(q), Icon8(),
                                          Metafile()};
  std::mt19937 rng(20250315);
  int loaded = 0, refused = 0;
  for (const std::string& whole : files) {
    for (int round = 0; round < 300; ++round) {
      std::vector<unsigned char> bytes(whole.begin(), whole.end());
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < flips; ++i) bytes[rng() % bytes.size()] = static_cast<unsigned char>(rng());
      if (rng() % 4 == 0) bytes.resize(rng() % bytes.size() + 1);
      CVKTPicture pic;
      const bool ok = pic.LoadFromMemory(bytes.data(), static_cast<int>(bytes.size()));
      if (ok) {
        ++loaded;
        const auto* d = pic.GetImage();
        ASSERT_EQ(d->pixels.size(), static_cast<size_t>(d->width) * d->height);
      } else {
        ++refused;
        EXPECT_FALSE(pic.GetLastError().empty());
      }
    }
  }
  EXPECT_GT(refused, 0);
  EXPECT_EQ(loaded + refused, 1500);
}

}  // namespace
