// `vkt demo`, the skinned controls and the shell: a skin loaded from the
// demo folder's Styles, a folder picked in the folder browser driven as a
// user would, a JPEG made here, loaded and drawn at half size into a PNG
// file, and a tray balloon.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/vktstring.h"
#include "controls/vktfolderdialog.h"
#include "controls/vktpicture.h"
#include "controls/vktskin.h"
#include "controls/vkttrayicon.h"
#include "frame/vktapp.h"
#include "image/image.h"
#include "tools/vkt/vkt.h"
#include "win/canvas.h"
#include "win/cp1252.h"
#include "win/driver.h"

namespace vkt::tool {
namespace {

void Section(const char* title) { std::printf("\n== %s\n", title); }

void WriteText(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// A frame that shows a picture at half its size.
class PictureFrame : public CDialog {
 public:
  explicit PictureFrame(CVKTPicture* pic) : pic_(pic) {}
  void OnPaint() override {
    CPaintDC dc(this);
    drawn_ = pic_->Draw(&dc, CPoint(10, 10), 0.5);
  }
  bool drawn_ = false;

 private:
  CVKTPicture* pic_;
};

void DemoSkin(const std::string& dir) {
  Section("Skin (Styles/iTunesA.cjstyles)");
  // The installation's files, as a setup program would lay them.
  WriteText(dir + "/Styles/iTunesA.cjstyles", "cjstyles\n");
  WriteText(dir + "/Styles/iTunesA_Normalitunes.ini",
            "[TabSettings]\nBackColor=236 240 245\nForeColor=40 40 40\n"
            "[SpreadSettings]\nGridColor=200 205 215\n");
  const int ok = CVKTSkinManager::LoadSkin(kSkinITunes);
  std::printf("LoadSkin(6) -> %d, skin_ini = %s\n", ok, vktpar->skin_ini);
  std::printf("TabSettings BackColor = %s, SpreadSettings GridColor = %s\n",
              CVKTSkinManager::GetSetting("TabSettings", "BackColor", "?").c_str(),
              CVKTSkinManager::GetSetting("SpreadSettings", "GridColor", "?").c_str());
  std::printf("LoadSkin(1) senza office2010.dll -> %d, skin_ini invariato: %s\n",
              CVKTSkinManager::LoadSkin(kSkinOffice2010Blue), vktpar->skin_ini);
}

void DemoFolder(const std::string& dir) {
  Section("Scelta della cartella (senza schermo)");
  const std::string root = dir + "/archivi";
  for (const char* sub : {"clienti", "fatture", "magazzino"})
    std::filesystem::create_directories(root + "/" + sub);
  CFolderDialog dlg("Cartella di esportazione", (root + "/clienti").c_str(), BIF_RETURNONLYFSDIRS,
                    nullptr);
  vkt::win::Driver ui;
  const std::string shot = dir + "/scelta-cartella.png";
  ui.Then([&] {
    ui.Press(VK_DOWN);  // from clienti to fatture
    vkt::win::SavePng(dlg.GetBrowserWindow(), shot);
    ui.Press(VK_RETURN);  // opens it: the choice stays fatture
    ui.Click(dlg.GetBrowserWindow()->GetDlgItem(IDOK));
  });
  const int result = dlg.DoModal();
  std::printf("DoModal -> %d, cartella scelta: %s\n", result, dlg.GetPathName().GetString());
  std::printf("riga di stato: %s\n", CFolderDialog::ShortName(dlg.GetPathName()).GetString());
  std::printf("finestra disegnata in %s\n", shot.c_str());
}

void DemoPicture(const std::string& dir) {
  Section("Immagine (JPEG ridotto a met\xC3\xA0)");
  vkt::image::Decoded img;
  img.width = 240;
  img.height = 160;
  img.pixels.resize(static_cast<size_t>(img.width) * img.height);
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      const uint32_t r = static_cast<uint32_t>(255 * x / img.width);
      const uint32_t g = static_cast<uint32_t>(255 * y / img.height);
      const bool ring = std::abs((x - 120) * (x - 120) + (y - 80) * (y - 80) - 2500) < 400;
      img.pixels[static_cast<size_t>(y) * img.width + x] =
          ring ? 0xFFFFFFFFu : (0xFF000000u | (r << 16) | (g << 8) | 160);
    }
  std::string jpeg;
  const std::string file = dir + "/foto.jpg";
  if (!vkt::image::EncodeJpeg(img, 90, &jpeg)) {
    std::printf("JPEG non creato\n");
    return;
  }
  WriteText(file, jpeg);
  CVKTPicture pic;
  if (!pic.Load(CString(file))) {
    std::printf("immagine non caricata: %s\n", pic.GetLastError().c_str());
    return;
  }
  const CSize px = pic.GetSize(nullptr), hm = pic.GetHimetricSize();
  std::printf("%s: %d x %d pixel, %d x %d HIMETRIC\n", file.c_str(), px.cx, px.cy, hm.cx, hm.cy);
  vkt::win::DialogTemplate t;
  t.caption = "Immagine";
  t.rect = CRect(0, 0, px.cx / 2 + 20, px.cy / 2 + 20);
  t.style = WS_POPUP | WS_VISIBLE;
  PictureFrame frame(&pic);
  const std::string png = dir + "/foto-ridotta.png";
  if (frame.CreateIndirect(t) && vkt::win::SavePng(&frame, png))
    std::printf("disegnata a %d x %d in %s (%s)\n", px.cx / 2, px.cy / 2, png.c_str(),
                frame.drawn_ ? "riuscito" : "non riuscito");
  frame.DestroyWindow();
  // A damaged copy is refused, not drawn.
  WriteText(dir + "/foto-tronca.jpg", jpeg.substr(0, jpeg.size() / 2));
  CVKTPicture broken;
  std::printf("foto-tronca.jpg: %s\n", broken.Load(CString(dir + "/foto-tronca.jpg"))
                                           ? "caricata"
                                           : ("rifiutata (" + broken.GetLastError() + ")").c_str());
}

void DemoTray() {
  Section("Icona nell'area di notifica");
  const bool desktop = vkt::controls::DesktopNotifier::Available();
  std::printf("servizio di notifica del desktop: %s\n",
              desktop ? "presente" : "assente, il messaggio va nel registro (standard error)");
  CVKTTrayIcon tray;
  tray.Create("Mirto", nullptr);
  const bool shown = tray.ShowMessage("Backup", "Copia dell'archivio completata alle 12:30",
                                      NIIF_INFO, 1, "https://www.example.org/backup", 5000);
  std::printf("ShowMessage -> %s\n", shown ? "mostrato" : "non mostrato");
}

}  // namespace

void DemoControls(const std::string& dir) {
  mkdir(dir.c_str(), 0755);
  const std::string saved_path = vktpar->path, saved_ini = vktpar->skin_ini;
  char abs[4096];
  std::string base = realpath(dir.c_str(), abs) != nullptr ? abs : dir;
  strzcpy(vktpar->path, base.c_str(), sizeof vktpar->path);
  DemoSkin(base);
  DemoFolder(base);
  DemoPicture(base);
  DemoTray();
  CVKTSkinManager::Reset();
  strzcpy(vktpar->path, saved_path.c_str(), sizeof vktpar->path);
  strzcpy(vktpar->skin_ini, saved_ini.c_str(), sizeof vktpar->skin_ini);
}

}  // namespace vkt::tool
