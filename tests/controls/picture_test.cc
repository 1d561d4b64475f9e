// Pictures from real files in a temporary folder: bitmaps, icons, JPEG and
// GIF made here (the last two with the libraries themselves), their sizes,
// scaled drawing on a cairo surface, and truncated, absurd and corrupted
// files that must give an error and nothing else.
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
  // Metafiles: a placeable WMF header and an EMF header.
  std::string wmf(40, '\0');
  Put32(wmf, 0, 0x9AC6CDD7u);
  EXPECT_FALSE(pic.Load(CString(Save("disegno.wmf", wmf))));
  EXPECT_EQ(pic.GetLastError(), "metafile WMF non supportato: nessun lettore installato");
  std::string emf(88, '\0');
  Put32(emf, 0, 1);
  std::memcpy(&emf[40], " EMF", 4);
  EXPECT_FALSE(pic.Load(CString(Save("disegno.emf", emf))));
  EXPECT_EQ(pic.GetLastError(), "metafile EMF non supportato: nessun lettore installato");
  EXPECT_FALSE(pic.IsLoaded());
}

TEST_F(PictureTest, TruncatedFilesGiveAnErrorAtEveryLength) {
  const Decoded q = Quadrants(24, 18);
  Decoded t = q;
  t.pixels[3] = 0;
  const std::vector<std::pair<std::string, std::string>> files = {
      {"bmp", vkt::image::EncodeBmp(q)}, {"jpg", Jpeg(q)}, {"gif", Gif(t)}, {"ico", Icon8()}};
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
  EXPECT_FALSE(pic.IsLoaded());
}

TEST_F(PictureTest, RandomlyDamagedFilesNeverCrash) {
  const Decoded q = Quadrants(20, 20);
  const std::vector<std::string> files = {vkt::image::EncodeBmp(q), Jpeg(q), Gif(q), Icon8()};
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
  EXPECT_EQ(loaded + refused, 1200);
}

}  // namespace
