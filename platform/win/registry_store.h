// The registry: a tree of keys holding typed values, kept in one file per
// root key under the user's configuration folder.
//
//   using namespace vkt::win;
//   RegCreateKeyPath(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\MIRTO SQL");
//   RegSetValues(HKEY_CURRENT_USER, "Software\\ODBC\\ODBC.INI\\MIRTO SQL",
//                {{"Host", REG_SZ, std::string("localhost", 10)}});
//
// Key paths are separated by "\" and compare without regard to ASCII case,
// as Windows' do; value names too. Every call reads the file afresh; every
// change rewrites it whole to a temporary file that is synced and renamed
// over the old one while an exclusive lock on "<file>.lock" is held, so a
// reader never sees half a file, a failed write leaves the old one, and two
// processes changing different values both keep theirs. Results are Win32
// error numbers (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...).
#ifndef VKT_WIN_REGISTRY_STORE_H_
#define VKT_WIN_REGISTRY_STORE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vkt_export.h"

struct HKEY__;
using HKEY = HKEY__*;

// The predefined roots, by their Win32 numbers.
#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u)))
#define HKEY_CURRENT_CONFIG (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000005u)))

constexpr uint32_t REG_NONE = 0;
constexpr uint32_t REG_SZ = 1;
constexpr uint32_t REG_EXPAND_SZ = 2;
constexpr uint32_t REG_BINARY = 3;
constexpr uint32_t REG_DWORD = 4;

constexpr int32_t ERROR_SUCCESS = 0;
constexpr int32_t ERROR_FILE_NOT_FOUND = 2;
constexpr int32_t ERROR_ACCESS_DENIED = 5;
constexpr int32_t ERROR_INVALID_HANDLE = 6;
constexpr int32_t ERROR_WRITE_FAULT = 29;
constexpr int32_t ERROR_INVALID_PARAMETER = 87;
constexpr int32_t ERROR_BADDB = 1009;
constexpr int32_t ERROR_KEY_HAS_CHILDREN = 1020;

namespace vkt::win {

struct RegValue {
  std::string name;
  uint32_t type = REG_NONE;
  std::string data;  // the raw bytes (text values include their NUL)
};

// The folder of the store files. Default: $VKT_REGISTRY_DIR, else
// $XDG_CONFIG_HOME/vktdlg/registry, else ~/.config/vktdlg/registry. An empty
// text restores the default.
VKT_API void SetRegistryFolder(const std::string& folder);
VKT_API std::string RegistryFolder();

// ERROR_SUCCESS when the key exists.
VKT_API int32_t RegOpenKeyPath(HKEY root, const std::string& path);
// Creates the key and every missing parent; an existing key is success.
VKT_API int32_t RegCreateKeyPath(HKEY root, const std::string& path);
// Deletes a key that has no sub-keys (ERROR_KEY_HAS_CHILDREN otherwise).
VKT_API int32_t RegDeleteKeyPath(HKEY root, const std::string& path);
// Sets one value of an existing key.
VKT_API int32_t RegSetValue(HKEY root, const std::string& path, const std::string& name,
                            uint32_t type, const std::string& data);
// Sets several values of an existing key in one change: all or none.
VKT_API int32_t RegSetValues(HKEY root, const std::string& path,
                             const std::vector<RegValue>& values);
VKT_API int32_t RegQueryValue(HKEY root, const std::string& path, const std::string& name,
                              RegValue* out);
VKT_API int32_t RegDeleteValue(HKEY root, const std::string& path, const std::string& name);
// Direct sub-keys and values of a key.
VKT_API int32_t RegQueryInfo(HKEY root, const std::string& path, int* subkeys, int* values);

// Test hook: the next `n` changes fail with ERROR_WRITE_FAULT after the new
// file was written and before it would replace the old one.
VKT_API void RegFailCommitsForTest(int n);

}  // namespace vkt::win

#endif  // VKT_WIN_REGISTRY_STORE_H_
