// CRegistry: typed settings under one registry key chosen by the caller.
//
//   CRegistry reg;                       // HKEY_CURRENT_USER, empty path
//   if (reg.SetKey("Software\\Mirto\\Stampa", true)) {
//     reg.WriteInt("Copie", 2);
//     int copies = reg.ReadInt("Copie", 1);
//   }
//
// Every call opens the key, does one thing and closes it; reads return the
// caller's default whenever the key or the value cannot be read, or the
// value's stored size is not the type's. Nothing throws or shows a message.
// Non-text values are stored as raw bytes (REG_BINARY); texts as REG_SZ.
#ifndef VKT_SYSTEM_REGISTRY_H_
#define VKT_SYSTEM_REGISTRY_H_

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "vkt_export.h"
#include "win/cstring.h"
#include "win/gdi.h"
#include "win/oledatetime.h"
#include "win/rect.h"
#include "win/registry_store.h"

class VKT_API CRegistry {
 public:
  CRegistry();
  virtual ~CRegistry();

  // Empties the path, root back to HKEY_CURRENT_USER, lazy write on.
  bool ClearKey();
  // Only the four classic roots; anything else is refused (false).
  bool SetRootKey(HKEY root);
  HKEY GetRootKey() const { return root_; }
  CString GetCurrentPath() const { return path_; }
  bool PathIsValid() const { return !path_.IsEmpty(); }
  // Off: every change is flushed before the key is closed. The store
  // syncs every change anyway, so both settings are durable.
  void SetLazyWrite(bool lazy) { lazy_write_ = lazy ? 1 : 0; }
  int32_t LastResult() const { return last_result_; }

  bool CreateKey(const CString& path);
  bool SetKey(const CString& path, bool create);
  // A null root means the object's.
  bool KeyExists(const CString& path, HKEY root = nullptr);
  // True when the key is absent afterwards (absent before included).
  bool DELCHK(const CString& path);
  bool DeleteValue(const CString& name);
  bool ValueExists(const CString& name);
  int GetDataSize(const CString& name);
  uint32_t GetDataType(const CString& name);
  int GetSubKeyCount();
  int GetValueCount();
  // No effect: values keep their names.
  bool RenameValue(const CString& old_name, const CString& new_name);

  int ReadInt(const CString& name, int default_value);
  bool ReadBool(const CString& name, bool default_value);
  uint32_t ReadDword(const CString& name, uint32_t default_value);
  uint32_t ReadColor(const CString& name, uint32_t default_value);
  double ReadFloat(const CString& name, double default_value);
  COleDateTime ReadDateTime(const CString& name, const COleDateTime& default_value);
  // Text values (REG_SZ, REG_EXPAND_SZ) of at most 255 bytes, up to their
  // first NUL; anything else gives the default.
  CString ReadString(const CString& name, const CString& default_value);
  bool ReadPoint(const CString& name, CPoint* point);
  bool ReadSize(const CString& name, CSize* size);
  bool ReadRect(const CString& name, CRect* rect);
  // On success the font lets go of its old handle (not deleted: it may be
  // shared) and holds a new font made from the stored description.
  bool ReadFont(const CString& name, CFont* font);

  bool WriteInt(const CString& name, int value);
  bool WriteBool(const CString& name, bool value);
  bool WriteDword(const CString& name, uint32_t value);
  bool WriteColor(const CString& name, uint32_t value);
  bool WriteFloat(const CString& name, double value);
  bool WriteDateTime(const CString& name, const COleDateTime& value);
  bool WritePoint(const CString& name, const CPoint& point);
  bool WriteSize(const CString& name, const CSize& size);
  bool WriteRect(const CString& name, const CRect& rect);
  bool WriteFont(const CString& name, CFont* font);
  // Refuses texts of 255 bytes or more.
  bool WriteString(const CString& name, const CString& value);
  // Several texts in one change of the current key: all are written or none.
  bool WriteStrings(const std::vector<std::pair<CString, CString>>& values);

 private:
  bool ReadRaw(const CString& name, size_t size, void* out);
  bool WriteRaw(const CString& name, uint32_t type, const std::string& data);

  int32_t last_result_;
  HKEY root_;
  int lazy_write_;
  CString path_;
};

#endif  // VKT_SYSTEM_REGISTRY_H_
