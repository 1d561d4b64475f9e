#include "system/registry.h"

#include <cstring>

namespace {

using vkt::win::RegValue;

std::string Bytes(const void* p, size_t n) { return std::string(static_cast<const char*>(p), n); }

static_assert(sizeof(LOGFONT) == 60, "the stored font description is 60 bytes");

}  // namespace

CRegistry::CRegistry()
    : last_result_(ERROR_SUCCESS), root_(HKEY_CURRENT_USER), lazy_write_(1) {}

CRegistry::~CRegistry() { ClearKey(); }

bool CRegistry::ClearKey() {
  path_.Empty();
  root_ = HKEY_CURRENT_USER;
  lazy_write_ = 1;
  return true;
}

bool CRegistry::SetRootKey(HKEY root) {
  if (root != HKEY_CLASSES_ROOT && root != HKEY_CURRENT_USER && root != HKEY_LOCAL_MACHINE &&
      root != HKEY_USERS)
    return false;
  root_ = root;
  return true;
}

bool CRegistry::CreateKey(const CString& path) {
  if (vkt::win::RegCreateKeyPath(root_, path.str()) != ERROR_SUCCESS) return false;
  path_ = path;
  return true;
}

bool CRegistry::SetKey(const CString& path, bool create) {
  if (path.IsEmpty()) {
    path_.Empty();
    return true;
  }
  if (create) return CreateKey(path);
  last_result_ = vkt::win::RegOpenKeyPath(root_, path.str());
  if (last_result_ != ERROR_SUCCESS) return false;
  path_ = path;
  return true;
}

bool CRegistry::KeyExists(const CString& path, HKEY root) {
  return vkt::win::RegOpenKeyPath(root != nullptr ? root : root_, path.str()) == ERROR_SUCCESS;
}

bool CRegistry::DELCHK(const CString& path) {
  if (!KeyExists(path)) return true;
  return vkt::win::RegDeleteKeyPath(root_, path.str()) == ERROR_SUCCESS;
}

bool CRegistry::DeleteValue(const CString& name) {
  return vkt::win::RegDeleteValue(root_, path_.str(), name.str()) == ERROR_SUCCESS;
}

bool CRegistry::ValueExists(const CString& name) {
  return vkt::win::RegQueryValue(root_, path_.str(), name.str(), nullptr) == ERROR_SUCCESS;
}

int CRegistry::GetDataSize(const CString& name) {
  RegValue v;
  if (vkt::win::RegQueryValue(root_, path_.str(), name.str(), &v) != ERROR_SUCCESS) return -1;
  return static_cast<int>(v.data.size());
}

uint32_t CRegistry::GetDataType(const CString& name) {
  RegValue v;
  last_result_ = vkt::win::RegQueryValue(root_, path_.str(), name.str(), &v);
  return last_result_ == ERROR_SUCCESS ? v.type : 0;
}

int CRegistry::GetSubKeyCount() {
  int sub = 0;
  if (vkt::win::RegQueryInfo(root_, path_.str(), &sub, nullptr) != ERROR_SUCCESS) return -1;
  return sub;
}

int CRegistry::GetValueCount() {
  int values = 0;
  if (vkt::win::RegQueryInfo(root_, path_.str(), nullptr, &values) != ERROR_SUCCESS) return -1;
  return values;
}

bool CRegistry::RenameValue(const CString&, const CString&) { return false; }

bool CRegistry::ReadRaw(const CString& name, size_t size, void* out) {
  RegValue v;
  if (vkt::win::RegQueryValue(root_, path_.str(), name.str(), &v) != ERROR_SUCCESS) return false;
  // A value of another size is not this type: the caller's default stands.
  if (v.data.size() != size) return false;
  std::memcpy(out, v.data.data(), size);
  return true;
}

bool CRegistry::WriteRaw(const CString& name, uint32_t type, const std::string& data) {
  return vkt::win::RegSetValue(root_, path_.str(), name.str(), type, data) == ERROR_SUCCESS;
}

int CRegistry::ReadInt(const CString& name, int default_value) {
  int32_t v;
  return ReadRaw(name, 4, &v) ? v : default_value;
}

bool CRegistry::ReadBool(const CString& name, bool default_value) {
  int32_t v;
  return ReadRaw(name, 4, &v) ? v != 0 : default_value;
}

uint32_t CRegistry::ReadDword(const CString& name, uint32_t default_value) {
  uint32_t v;
  return ReadRaw(name, 4, &v) ? v : default_value;
}

uint32_t CRegistry::ReadColor(const CString& name, uint32_t default_value) {
  return ReadDword(name, default_value);
}

double CRegistry::ReadFloat(const CString& name, double default_value) {
  double v;
  return ReadRaw(name, 8, &v) ? v : default_value;
}

COleDateTime CRegistry::ReadDateTime(const CString& name, const COleDateTime& default_value) {
  unsigned char raw[12];
  if (!ReadRaw(name, sizeof raw, raw)) return default_value;
  double d;
  int32_t status;
  std::memcpy(&d, raw, 8);
  std::memcpy(&status, raw + 8, 4);
  COleDateTime t(d);
  if (status == COleDateTime::valid || status == COleDateTime::invalid ||
      status == COleDateTime::null)
    t.SetStatus(static_cast<COleDateTime::DateTimeStatus>(status));
  else
    t.SetStatus(COleDateTime::invalid);
  return t;
}

CString CRegistry::ReadString(const CString& name, const CString& default_value) {
  RegValue v;
  if (vkt::win::RegQueryValue(root_, path_.str(), name.str(), &v) != ERROR_SUCCESS)
    return default_value;
  if (v.type != REG_SZ && v.type != REG_EXPAND_SZ) return default_value;
  if (v.data.size() > 255) return default_value;  // does not fit the 255-byte buffer
  // A text stored at the full size without its NUL still ends here.
  size_t nul = v.data.find('\0');
  return CString(v.data.substr(0, nul));
}

bool CRegistry::ReadPoint(const CString& name, CPoint* point) {
  int32_t v[2];
  if (point == nullptr || !ReadRaw(name, sizeof v, v)) return false;
  point->x = v[0];
  point->y = v[1];
  return true;
}

bool CRegistry::ReadSize(const CString& name, CSize* size) {
  int32_t v[2];
  if (size == nullptr || !ReadRaw(name, sizeof v, v)) return false;
  size->cx = v[0];
  size->cy = v[1];
  return true;
}

bool CRegistry::ReadRect(const CString& name, CRect* rect) {
  int32_t v[4];
  if (rect == nullptr || !ReadRaw(name, sizeof v, v)) return false;
  *rect = CRect(v[0], v[1], v[2], v[3]);
  return true;
}

bool CRegistry::ReadFont(const CString& name, CFont* font) {
  LOGFONT lf;
  if (font == nullptr || !ReadRaw(name, sizeof lf, &lf)) return false;
  lf.lfFaceName[LF_FACESIZE - 1] = '\0';
  font->Detach();
  return font->CreateFontIndirect(&lf) != 0;
}

bool CRegistry::WriteInt(const CString& name, int value) {
  int32_t v = value;
  return WriteRaw(name, REG_BINARY, Bytes(&v, 4));
}
bool CRegistry::WriteBool(const CString& name, bool value) { return WriteInt(name, value ? 1 : 0); }
bool CRegistry::WriteDword(const CString& name, uint32_t value) {
  return WriteRaw(name, REG_BINARY, Bytes(&value, 4));
}
bool CRegistry::WriteColor(const CString& name, uint32_t value) { return WriteDword(name, value); }
bool CRegistry::WriteFloat(const CString& name, double value) {
  return WriteRaw(name, REG_BINARY, Bytes(&value, 8));
}
bool CRegistry::WriteDateTime(const CString& name, const COleDateTime& value) {
  unsigned char raw[12];
  double d = value;
  int32_t status = value.GetStatus();
  std::memcpy(raw, &d, 8);
  std::memcpy(raw + 8, &status, 4);
  return WriteRaw(name, REG_BINARY, Bytes(raw, sizeof raw));
}
bool CRegistry::WritePoint(const CString& name, const CPoint& point) {
  int32_t v[2] = {point.x, point.y};
  return WriteRaw(name, REG_BINARY, Bytes(v, sizeof v));
}
bool CRegistry::WriteSize(const CString& name, const CSize& size) {
  int32_t v[2] = {size.cx, size.cy};
  return WriteRaw(name, REG_BINARY, Bytes(v, sizeof v));
}
bool CRegistry::WriteRect(const CString& name, const CRect& rect) {
  int32_t v[4] = {rect.left, rect.top, rect.right, rect.bottom};
  return WriteRaw(name, REG_BINARY, Bytes(v, sizeof v));
}
bool CRegistry::WriteFont(const CString& name, CFont* font) {
  LOGFONT lf;
  if (font == nullptr || !font->GetLogFont(&lf)) return false;
  return WriteRaw(name, REG_BINARY, Bytes(&lf, sizeof lf));
}

bool CRegistry::WriteString(const CString& name, const CString& value) {
  if (value.GetLength() >= 255) return false;
  return WriteRaw(name, REG_SZ, value.str() + std::string(1, '\0'));
}

bool CRegistry::WriteStrings(const std::vector<std::pair<CString, CString>>& values) {
  std::vector<RegValue> v;
  for (const auto& [name, text] : values) {
    if (text.GetLength() >= 255) return false;
    v.push_back(RegValue{name.str(), REG_SZ, text.str() + std::string(1, '\0')});
  }
  return vkt::win::RegSetValues(root_, path_.str(), v) == ERROR_SUCCESS;
}
