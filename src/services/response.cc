#include "services/response.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "frame/vktapp.h"
#include "win/cp1252.h"

namespace {

CString Text(const std::string& utf8) {
  std::string cp1252;
  vkt::win::Utf8ToCp1252(utf8, &cp1252);  // characters the code page lacks become '?'
  return CString(cp1252);
}

void ReadList(const CkJsonObject& json, const char* name, std::vector<CString>* list) {
  if (!json.HasMember(name)) return;
  std::unique_ptr<CkJsonArray> array = json.ArrayOf(name);
  if (!array) return;
  const int n = array->get_Size();
  for (int i = 0; i < n; ++i) list->push_back(Text(array->StringAt(i)));
}

}  // namespace

CVKTResponse::CVKTResponse() { Reset(); }

CVKTResponse::~CVKTResponse() = default;

void CVKTResponse::Reset() {
  type = 2;
  type_desc = "GENERIC EXCEPTION";
  error = 0;
  message.Empty();
  stack_trace.Empty();
  alert_list.clear();
  block_list.clear();
  user_list.clear();
}

bool CVKTResponse::ReadResponse(CkJsonObject& json) {
  Reset();

  json.put_EmitCrLf(true);
  json.put_EmitCompact(false);
  if (vktpar != nullptr) {
    std::string path(vktpar->path, strnlen(vktpar->path, sizeof vktpar->path));
    path += "/log/VKTException.json";
    CkStringBuilder sb;
    if (json.EmitSb(sb)) (void)sb.WriteFile(path, "utf-8", false);
  }

  if (json.HasMember("type")) {
    int v = json.IntOf("type");
    type = static_cast<int16_t>(v >= INT16_MIN && v <= INT16_MAX ? v : -1);
  }
  if (json.HasMember("type_desc")) type_desc = Text(json.StringOf("type_desc"));
  if (json.HasMember("error")) error = json.IntOf("error");
  if (json.HasMember("message")) message = Text(json.StringOf("message"));
  if (json.HasMember("stackTrace")) stack_trace = Text(json.StringOf("stackTrace"));
  ReadList(json, "alert_list", &alert_list);
  ReadList(json, "block_list", &block_list);
  ReadList(json, "user_list", &user_list);
  return json.HasMember("type");
}
