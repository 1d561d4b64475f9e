// INI files: the application profile and the skins' settings.
//
// Sections and entry names compare without regard to ASCII case, as the
// Windows profile functions do; values are kept as the bytes written.
// Writes go to a temporary file renamed over the old one, under an exclusive
// lock on a side file, so a reader never sees half a file and two processes
// writing different entries both keep theirs.
//
//   vkt::win::IniFile ini;
//   ini.Load("/home/u/.config/vktdlg/profile.ini");
//   std::string user = ini.Get("Options", "User", "");
#ifndef VKT_WIN_INI_FILE_H_
#define VKT_WIN_INI_FILE_H_

#include <string>
#include <vector>

namespace vkt::win {

class IniFile {
 public:
  // Reads the file; a missing file reads as empty and is no error. False on
  // a read error.
  bool Load(const std::string& path);
  // Parses INI text (sections "[name]", entries "name=value", ";" comments).
  void Parse(const std::string& text);
  std::string Serialize() const;

  bool Has(const std::string& section, const std::string& entry) const;
  std::string Get(const std::string& section, const std::string& entry,
                  const std::string& default_value) const;
  void Set(const std::string& section, const std::string& entry,
           const std::string& value);
  void Remove(const std::string& section, const std::string& entry);
  std::vector<std::string> Sections() const;
  std::vector<std::string> Entries(const std::string& section) const;

 private:
  struct Entry {
    std::string name;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  Section* Find(const std::string& section);
  const Section* Find(const std::string& section) const;
  std::vector<Section> sections_;
};

// GetPrivateProfileString: one value of an INI file, or `default_value`.
std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& entry,
                          const std::string& default_value);
// WritePrivateProfileString: sets one value, creating the file and its folder
// as needed. Atomic; false when the file could not be written.
bool WriteIniString(const std::string& path, const std::string& section,
                    const std::string& entry, const std::string& value);

}  // namespace vkt::win

#endif  // VKT_WIN_INI_FILE_H_
