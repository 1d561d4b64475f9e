#include "win/ini_file.h"

#include <cerrno>
#include <fstream>
#include <sstream>

#include "win/files.h"

namespace vkt::win {
namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r')) --e;
  return s.substr(b, e - b);
}

}  // namespace

bool IniFile::Load(const std::string& path) {
  sections_.clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return errno == ENOENT;
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return false;
  Parse(text.str());
  return true;
}

void IniFile::Parse(const std::string& text) {
  sections_.clear();
  Section* current = nullptr;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    std::string t = Trim(line);
    if (t.empty() || t[0] == ';' || t[0] == '#') continue;
    if (t[0] == '[') {
      size_t close = t.find(']');
      std::string name = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      current = Find(name);
      if (current == nullptr) {
        sections_.push_back(Section{name, {}});
        current = &sections_.back();
      }
      continue;
    }
    size_t eq = t.find('=');
    if (eq == std::string::npos || current == nullptr) continue;
    std::string name = Trim(t.substr(0, eq));
    std::string value = Trim(t.substr(eq + 1));
    bool replaced = false;
    for (Entry& e : current->entries) {
      if (EqualNoCase(e.name, name)) {
        e.value = value;
        replaced = true;
        break;
      }
    }
    if (!replaced) current->entries.push_back(Entry{name, value});
  }
}

std::string IniFile::Serialize() const {
  std::string out;
  for (const Section& s : sections_) {
    out += "[" + s.name + "]\n";
    for (const Entry& e : s.entries) out += e.name + "=" + e.value + "\n";
    out += "\n";
  }
  return out;
}

IniFile::Section* IniFile::Find(const std::string& section) {
  for (Section& s : sections_)
    if (EqualNoCase(s.name, section)) return &s;
  return nullptr;
}

const IniFile::Section* IniFile::Find(const std::string& section) const {
  for (const Section& s : sections_)
    if (EqualNoCase(s.name, section)) return &s;
  return nullptr;
}

bool IniFile::Has(const std::string& section, const std::string& entry) const {
  const Section* s = Find(section);
  if (s == nullptr) return false;
  for (const Entry& e : s->entries)
    if (EqualNoCase(e.name, entry)) return true;
  return false;
}

std::string IniFile::Get(const std::string& section, const std::string& entry,
                         const std::string& default_value) const {
  const Section* s = Find(section);
  if (s != nullptr) {
    for (const Entry& e : s->entries)
      if (EqualNoCase(e.name, entry)) return e.value;
  }
  return default_value;
}

void IniFile::Set(const std::string& section, const std::string& entry,
                  const std::string& value) {
  Section* s = Find(section);
  if (s == nullptr) {
    sections_.push_back(Section{section, {}});
    s = &sections_.back();
  }
  for (Entry& e : s->entries) {
    if (EqualNoCase(e.name, entry)) {
      e.value = value;
      return;
    }
  }
  s->entries.push_back(Entry{entry, value});
}

void IniFile::Remove(const std::string& section, const std::string& entry) {
  Section* s = Find(section);
  if (s == nullptr) return;
  for (auto it = s->entries.begin(); it != s->entries.end(); ++it) {
    if (EqualNoCase(it->name, entry)) {
      s->entries.erase(it);
      return;
    }
  }
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> out;
  for (const Section& s : sections_) out.push_back(s.name);
  return out;
}

std::vector<std::string> IniFile::Entries(const std::string& section) const {
  std::vector<std::string> out;
  if (const Section* s = Find(section))
    for (const Entry& e : s->entries) out.push_back(e.name);
  return out;
}

std::string ReadIniString(const std::string& path, const std::string& section,
                          const std::string& entry,
                          const std::string& default_value) {
  IniFile ini;
  if (!ini.Load(path)) return default_value;
  return ini.Get(section, entry, default_value);
}

bool WriteIniString(const std::string& path, const std::string& section,
                    const std::string& entry, const std::string& value) {
  // A value holding a line break would split into two entries on reading.
  if (value.find_first_of("\r\n") != std::string::npos ||
      entry.find_first_of("\r\n=") != std::string::npos ||
      section.find_first_of("\r\n]") != std::string::npos)
    return false;
  if (!MakeDirs(DirName(path), 0755)) return false;
  FileLock lock(path + ".lock", 0644);
  if (!lock.ok()) return false;
  IniFile ini;
  if (!ini.Load(path)) return false;
  ini.Set(section, entry, value);
  if (!WriteFileAtomic(path, ini.Serialize(), 0644, nullptr)) return false;
  return true;
}

}  // namespace vkt::win
