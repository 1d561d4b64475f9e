#include "win/registry_store.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "win/files.h"

namespace vkt::win {
namespace {

std::string g_folder;  // empty: the default
int g_fail_commits = 0;

const char* RootName(HKEY root) {
  if (root == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
  if (root == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
  if (root == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
  if (root == HKEY_USERS) return "HKEY_USERS";
  if (root == HKEY_CURRENT_CONFIG) return "HKEY_CURRENT_CONFIG";
  return nullptr;
}

std::string Fold(const std::string& s) {
  std::string r = s;
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

// "a\\b\\\\c\\" -> {"a", "b", "c"}.
std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : path) {
    if (c == '\\') {
      if (!cur.empty()) parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  if (!cur.empty()) parts.push_back(cur);
  return parts;
}

std::string Join(const std::vector<std::string>& parts, size_t n) {
  std::string r;
  for (size_t k = 0; k < n; ++k) {
    if (k > 0) r += '\\';
    r += parts[k];
  }
  return r;
}

std::string Escape(const std::string& s) {
  static const char* hex = "0123456789ABCDEF";
  std::string r;
  for (unsigned char c : s) {
    if (c > 0x20 && c < 0x7F && c != '%' && c != '[' && c != ']' && c != '=') {
      r += static_cast<char>(c);
    } else {
      r += '%';
      r += hex[c >> 4];
      r += hex[c & 15];
    }
  }
  return r;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool Unescape(const std::string& s, std::string* out) {
  out->clear();
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') {
      *out += s[i];
      continue;
    }
    if (i + 2 >= s.size()) return false;
    int h = HexDigit(s[i + 1]), l = HexDigit(s[i + 2]);
    if (h < 0 || l < 0) return false;
    *out += static_cast<char>(h * 16 + l);
    i += 2;
  }
  return true;
}

struct Key {
  std::string path;  // as created
  std::vector<RegValue> values;
  RegValue* Find(const std::string& name) {
    std::string f = Fold(name);
    for (RegValue& v : values)
      if (Fold(v.name) == f) return &v;
    return nullptr;
  }
};

// One root's tree, by folded full path.
using Tree = std::map<std::string, Key>;

std::string FileOf(HKEY root) { return RegistryFolder() + "/" + RootName(root) + ".reg"; }

// Reads the whole tree; a missing file is an empty tree.
int32_t Load(const std::string& file, Tree* tree) {
  tree->clear();
  std::ifstream in(file, std::ios::binary);
  if (!in) return errno == ENOENT ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
  std::string line;
  if (!std::getline(in, line)) return ERROR_SUCCESS;  // empty file
  if (line != "VKTREG 1") return ERROR_BADDB;
  Key* cur = nullptr;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] == '[') {
      if (line.back() != ']') return ERROR_BADDB;
      std::string path;
      if (!Unescape(line.substr(1, line.size() - 2), &path)) return ERROR_BADDB;
      cur = &(*tree)[Fold(path)];
      cur->path = path;
      continue;
    }
    size_t eq = line.find('=');
    size_t colon = eq == std::string::npos ? eq : line.find(':', eq);
    if (cur == nullptr || colon == std::string::npos) return ERROR_BADDB;
    RegValue v;
    std::string data_hex = line.substr(colon + 1);
    if (!Unescape(line.substr(0, eq), &v.name)) return ERROR_BADDB;
    v.type = static_cast<uint32_t>(std::strtoul(line.c_str() + eq + 1, nullptr, 10));
    if (data_hex.size() % 2 != 0) return ERROR_BADDB;
    for (size_t k = 0; k < data_hex.size(); k += 2) {
      int h = HexDigit(data_hex[k]), l = HexDigit(data_hex[k + 1]);
      if (h < 0 || l < 0) return ERROR_BADDB;
      v.data += static_cast<char>(h * 16 + l);
    }
    cur->values.push_back(std::move(v));
  }
  return ERROR_SUCCESS;
}

std::string Serialize(const Tree& tree) {
  static const char* hex = "0123456789ABCDEF";
  std::string out = "VKTREG 1\n";
  for (const auto& [folded, key] : tree) {
    out += "[" + Escape(key.path) + "]\n";
    for (const RegValue& v : key.values) {
      out += Escape(v.name) + "=" + std::to_string(v.type) + ":";
      for (unsigned char c : v.data) {
        out += hex[c >> 4];
        out += hex[c & 15];
      }
      out += "\n";
    }
  }
  return out;
}

int32_t Store(const std::string& file, const Tree& tree) {
  // An injected failure stands for a write that failed before the rename:
  // the old file stays whole.
  if (g_fail_commits > 0) {
    --g_fail_commits;
    return ERROR_WRITE_FAULT;
  }
  FileWriteError err;
  if (WriteFileAtomic(file, Serialize(tree), 0600, &err)) return ERROR_SUCCESS;
  return err.stage == FileWriteError::kCreate ? ERROR_ACCESS_DENIED : ERROR_WRITE_FAULT;
}

// Read-modify-write under the root's lock. `change` returns a status; on
// ERROR_SUCCESS the tree is written back (unless `*dirty` was left false).
template <typename F>
int32_t Change(HKEY root, F change) {
  if (RootName(root) == nullptr) return ERROR_INVALID_HANDLE;
  std::string file = FileOf(root);
  if (!MakeDirs(RegistryFolder(), 0700)) return ERROR_ACCESS_DENIED;
  FileLock lock(file + ".lock", 0600);
  if (!lock.ok()) return ERROR_ACCESS_DENIED;
  Tree tree;
  int32_t rc = Load(file, &tree);
  bool dirty = false;
  if (rc == ERROR_SUCCESS) rc = change(&tree, &dirty);
  if (rc == ERROR_SUCCESS && dirty) rc = Store(file, tree);
  return rc;
}

template <typename F>
int32_t Read(HKEY root, F read) {
  if (RootName(root) == nullptr) return ERROR_INVALID_HANDLE;
  Tree tree;
  int32_t rc = Load(FileOf(root), &tree);
  if (rc != ERROR_SUCCESS) return rc;
  return read(tree);
}

bool ValidName(const std::string& name) { return name.find('\0') == std::string::npos; }

}  // namespace

void SetRegistryFolder(const std::string& folder) { g_folder = folder; }

std::string RegistryFolder() {
  if (!g_folder.empty()) return g_folder;
  if (const char* p = std::getenv("VKT_REGISTRY_DIR"); p != nullptr && *p != '\0') return p;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x != '\0')
    return std::string(x) + "/vktdlg/registry";
  if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0')
    return std::string(h) + "/.config/vktdlg/registry";
  return "vktdlg-registry";
}

void RegFailCommitsForTest(int n) { g_fail_commits = n; }

int32_t RegOpenKeyPath(HKEY root, const std::string& path) {
  std::string k = Fold(Join(Split(path), Split(path).size()));
  return Read(root, [&](const Tree& t) {
    return k.empty() || t.count(k) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

int32_t RegCreateKeyPath(HKEY root, const std::string& path) {
  std::vector<std::string> parts = Split(path);
  if (parts.empty()) return RootName(root) != nullptr ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
  return Change(root, [&](Tree* t, bool* dirty) {
    for (size_t n = 1; n <= parts.size(); ++n) {
      std::string p = Join(parts, n);
      auto [it, added] = t->try_emplace(Fold(p));
      if (added) {
        it->second.path = p;
        *dirty = true;
      }
    }
    return ERROR_SUCCESS;
  });
}

int32_t RegDeleteKeyPath(HKEY root, const std::string& path) {
  std::vector<std::string> parts = Split(path);
  if (parts.empty()) return ERROR_ACCESS_DENIED;  // a root is never deleted
  std::string k = Fold(Join(parts, parts.size()));
  return Change(root, [&](Tree* t, bool* dirty) {
    auto it = t->find(k);
    if (it == t->end()) return ERROR_FILE_NOT_FOUND;
    auto child = t->lower_bound(k + "\\");
    if (child != t->end() && child->first.compare(0, k.size() + 1, k + "\\") == 0)
      return ERROR_KEY_HAS_CHILDREN;
    t->erase(it);
    *dirty = true;
    return ERROR_SUCCESS;
  });
}

int32_t RegSetValues(HKEY root, const std::string& path, const std::vector<RegValue>& values) {
  std::vector<std::string> parts = Split(path);
  std::string k = Fold(Join(parts, parts.size()));
  for (const RegValue& v : values)
    if (!ValidName(v.name)) return ERROR_INVALID_PARAMETER;
  return Change(root, [&](Tree* t, bool* dirty) {
    if (k.empty()) {
      auto [it, added] = t->try_emplace(k);
      (void)added;
      it->second.path.clear();
    }
    auto it = t->find(k);
    if (it == t->end()) return ERROR_FILE_NOT_FOUND;
    for (const RegValue& v : values) {
      if (RegValue* old = it->second.Find(v.name)) {
        old->type = v.type;
        old->data = v.data;
      } else {
        it->second.values.push_back(v);
      }
    }
    *dirty = true;
    return ERROR_SUCCESS;
  });
}

int32_t RegSetValue(HKEY root, const std::string& path, const std::string& name, uint32_t type,
                    const std::string& data) {
  return RegSetValues(root, path, {RegValue{name, type, data}});
}

int32_t RegQueryValue(HKEY root, const std::string& path, const std::string& name,
                      RegValue* out) {
  std::vector<std::string> parts = Split(path);
  std::string k = Fold(Join(parts, parts.size()));
  return Read(root, [&](const Tree& t) {
    auto it = t.find(k);
    if (it == t.end()) return ERROR_FILE_NOT_FOUND;
    Key key = it->second;
    RegValue* v = key.Find(name);
    if (v == nullptr) return ERROR_FILE_NOT_FOUND;
    if (out != nullptr) *out = *v;
    return ERROR_SUCCESS;
  });
}

int32_t RegDeleteValue(HKEY root, const std::string& path, const std::string& name) {
  std::vector<std::string> parts = Split(path);
  std::string k = Fold(Join(parts, parts.size()));
  return Change(root, [&](Tree* t, bool* dirty) {
    auto it = t->find(k);
    if (it == t->end()) return ERROR_FILE_NOT_FOUND;
    std::vector<RegValue>& vs = it->second.values;
    std::string f = Fold(name);
    for (auto v = vs.begin(); v != vs.end(); ++v) {
      if (Fold(v->name) == f) {
        vs.erase(v);
        *dirty = true;
        return ERROR_SUCCESS;
      }
    }
    return ERROR_FILE_NOT_FOUND;
  });
}

int32_t RegQueryInfo(HKEY root, const std::string& path, int* subkeys, int* values) {
  std::vector<std::string> parts = Split(path);
  std::string k = Fold(Join(parts, parts.size()));
  return Read(root, [&](const Tree& t) {
    auto it = t.find(k);
    if (it == t.end() && !k.empty()) return ERROR_FILE_NOT_FOUND;
    int sub = 0;
    std::string prefix = k.empty() ? "" : k + "\\";
    for (const auto& [name, key] : t) {
      if (name.empty() || name.compare(0, prefix.size(), prefix) != 0 || name == k) continue;
      if (name.find('\\', prefix.size()) == std::string::npos) ++sub;
    }
    if (subkeys != nullptr) *subkeys = sub;
    if (values != nullptr) *values = it == t.end() ? 0 : static_cast<int>(it->second.values.size());
    return ERROR_SUCCESS;
  });
}

}  // namespace vkt::win
