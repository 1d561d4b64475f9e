#include "controls/vktskin.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "frame/vktapp.h"
#include "win/ini_file.h"
#include "win/skinframework.h"

namespace {

struct SkinRow {
  const char* style;         // under the program directory
  const char* resource_ini;  // null: no resource library
  const char* settings_ini;
  int theme;
  int frame_option;
};

const SkinRow* Row(VKTSkin skin) {
  static const SkinRow kBlue{"Styles/Office2010.cjstyles", "OFFICE2010BLUE.INI", "NormalBlue.ini", 5, 7};
  static const SkinRow kSilver{"Styles/Office2010.cjstyles", "OFFICE2010SILVER.INI",
                               "NormalSilver.ini", 5, 7};
  static const SkinRow kBlack{"Styles/Office2010.cjstyles", "OFFICE2010BLACK.INI",
                              "NormalBlack.ini", 5, 7};
  static const SkinRow kITunes{"Styles/iTunesA.cjstyles", nullptr, "Normalitunes.ini", 3, 0};
  switch (skin) {
    case 1: case 2: return &kBlue;
    case 3: case 4: return &kSilver;
    case 5: return &kBlack;
    case 6: return &kITunes;
    default: return nullptr;
  }
}

bool IsReadableFile(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::ifstream in(path, std::ios::binary);
  return in.good();
}

std::string Library() {
  return vktpar != nullptr ? std::string(vktpar->path) + "/office2010.dll" : std::string();
}

}  // namespace

VKTSkin CVKTSkinManager::m_skin = kSkinNone;
CVKTSkinManagerResourceFile CVKTSkinManager::m_file;
int CVKTSkinManager::theme_ = 0;

CVKTSkinManagerResourceFile::~CVKTSkinManagerResourceFile() = default;

bool CVKTSkinManagerResourceFile::Open(const std::string& library, const std::string& ini_name) {
  Close();
  // The resource INIs lie in the folder named after the library.
  std::string folder = library;
  const size_t slash = folder.rfind('/');
  const size_t dot = folder.rfind('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) folder.resize(dot);
  path_ = folder + "/" + ini_name;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  text_ = ss.str();
  open_ = true;
  return true;
}

void CVKTSkinManagerResourceFile::Close() {
  open_ = false;
  text_.clear();
}

COLORREF CVKTSkinManagerResourceFile::GetColor(CString name) const {
  if (!open_ || name.IsEmpty()) return 0xFFFFFFFF;
  const std::string key = name.str() + " = ";
  std::istringstream lines(text_);
  std::string line;
  while (std::getline(lines, line)) {
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    if (line.compare(start, key.size(), key) != 0) continue;
    int r = -1, g = -1, b = -1;
    // A line that names the colour but gives no three values is no colour,
    // not whatever the unset numbers held.
    if (std::sscanf(line.c_str() + start + key.size(), "%d %d %d", &r, &g, &b) != 3 || r < 0 ||
        r > 255 || g < 0 || g > 255 || b < 0 || b > 255)
      return 0xFFFFFFFF;
    return RGB(r, g, b);
  }
  return 0xFFFFFFFF;
}

int CVKTSkinManager::LoadSkin(VKTSkin skin) {
  m_skin = skin;
  const SkinRow* row = Row(skin);
  if (row == nullptr || vktpar == nullptr) return 0;
  const std::string base = vktpar->path;
  bool library = false;
  if (row->resource_ini != nullptr) {
    library = IsReadableFile(Library());
    if (library) m_file.Open(Library(), row->resource_ini);
  }
  if (!library && skin != kSkinITunes) return 0;

  // The settings file beside the style file: "<dir>/<style stem>_<settings>".
  const std::string style = base + "/" + row->style;
  const size_t slash = style.rfind('/');
  std::string stem = style.substr(slash + 1);
  if (size_t dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
  char ini[sizeof vktpar->skin_ini];
  const int n = std::snprintf(ini, sizeof ini, "%s/%s_%s", style.substr(0, slash).c_str(),
                              stem.c_str(), row->settings_ini);
  // A path that does not fit the block's field is not cut to another file's.
  if (n < 0 || static_cast<size_t>(n) >= sizeof ini) return 0;

  // The style file and its settings must both be there for the skin to load.
  if (!IsReadableFile(style) || !IsReadableFile(ini)) return 0;
  vkt::win::IniFile settings;
  if (!settings.Load(ini)) return 0;

  // Only a skin that loaded is published.
  std::memcpy(vktpar->skin_ini, ini, static_cast<size_t>(n) + 1);
  vkt::win::SetSkinEnabled(true);
  theme_ = row->theme;
  return 1;
}

int CVKTSkinManager::OnEraseBkgnd(CWnd* wnd, CDC* dc) {
  if (wnd == nullptr || dc == nullptr) return 1;
  CRect r;
  wnd->GetClientRect(&r);
  dc->FillGradientV(r, vkt::win::SkinColor(15), vkt::win::SkinColor(16));
  return 1;
}

CVKTSkinManagerResourceFile* CVKTSkinManager::GetResourceFile() {
  const SkinRow* row = Row(m_skin);
  if (row == nullptr || row->resource_ini == nullptr) return nullptr;
  return m_file.Open(Library(), row->resource_ini) ? &m_file : nullptr;
}

std::string CVKTSkinManager::GetSetting(const std::string& section, const std::string& entry,
                                        const std::string& default_value) {
  if (vktpar == nullptr || vktpar->skin_ini[0] == '\0') return default_value;
  return vkt::win::ReadIniString(vktpar->skin_ini, section, entry, default_value);
}

void CVKTSkinManager::Reset() {
  m_skin = kSkinNone;
  theme_ = 0;
  m_file.Close();
  vkt::win::ResetSkin();
}
