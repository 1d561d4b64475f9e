// Skins: the application's visual style, chosen among six. Loading one
// records it, publishes the path of its settings file (the "TabSettings"
// and "SpreadSettings" sections that tabs and grids colour themselves from)
// in the parameter block's `skin_ini`, and switches the skin framework on.
//
// Files under the program directory `path`:
//   Styles/Office2010.cjstyles, Styles/iTunesA.cjstyles   the style files
//   Styles/Office2010_NormalBlue.ini ...                   the settings INI
//   office2010.dll                                         the resource library
//   office2010/OFFICE2010BLUE.INI ...                      its resource INIs
//
//   if (CVKTSkinManager::LoadSkin(kSkinOffice2010Blue))
//     COLORREF c = CVKTSkinManager::GetSetting("TabSettings", "BackColor", 0);
#ifndef VKT_CONTROLS_VKTSKIN_H_
#define VKT_CONTROLS_VKTSKIN_H_

#include <string>

#include "vkt_export.h"
#include "win/cstring.h"
#include "win/window.h"

// The skin number; values outside 1-6 select nothing.
enum VKTSkin : int {
  kSkinNone = 0,
  kSkinOffice2010Blue = 1,
  kSkinOffice2010Blue2 = 2,
  kSkinOffice2010Silver = 3,
  kSkinOffice2010Silver2 = 4,
  kSkinOffice2010Black = 5,
  kSkinITunes = 6,
};

// The skin's resource file: lines "name = r g b" of named colours.
class VKT_API CVKTSkinManagerResourceFile {
 public:
  virtual ~CVKTSkinManagerResourceFile();
  // Reads the resource INI `ini_name` of the resource library `library`.
  // False when it cannot be read.
  bool Open(const std::string& library, const std::string& ini_name);
  void Close();
  bool IsOpen() const { return open_; }
  // The colour of the first line that, without its leading blanks, begins
  // with `name` and " = "; 0xFFFFFFFF when none does or its three numbers
  // are not colour values.
  COLORREF GetColor(CString name) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string text_;
  bool open_ = false;
};

class VKT_API CVKTSkinManager {
 public:
  // Applies a skin; 1 on success, 0 when its files are missing (`skin_ini`
  // then keeps its value).
  static int LoadSkin(VKTSkin skin);
  static VKTSkin GetSelectedSkin() { return m_skin; }
  // The vertical gradient of the skin's colours 15 (top) and 16 (bottom)
  // over the window's client area; 1.
  static int OnEraseBkgnd(CWnd* wnd, CDC* dc);
  // The resource file of the current skin, or null when it has none or it
  // cannot be read.
  static CVKTSkinManagerResourceFile* GetResourceFile();
  // One value of the loaded skin's settings INI (`skin_ini`).
  static std::string GetSetting(const std::string& section, const std::string& entry,
                                const std::string& default_value);
  // The paint theme of the last skin loaded (0 before any).
  static int GetPaintTheme() { return theme_; }
  // Back to no skin (for tests).
  static void Reset();

  static VKTSkin m_skin;
  static CVKTSkinManagerResourceFile m_file;

 private:
  static int theme_;
};

#endif  // VKT_CONTROLS_VKTSKIN_H_
