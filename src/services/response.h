// The error document of one of the application's web services, turned into
// plain fields, with a copy of the last such document kept in the log
// folder of the program directory ("log/VKTException.json").
//
//   CkJsonObject json;
//   json.Load(body);
//   CVKTResponse response;
//   if (response.ReadResponse(json) && response.type == 5) {
//     for (const CString& user : response.user_list) ...
//   }
#ifndef VKT_SERVICES_RESPONSE_H_
#define VKT_SERVICES_RESPONSE_H_

#include <cstdint>
#include <vector>

#include "engine/json.h"
#include "vkt_export.h"
#include "win/cstring.h"

class VKT_API CVKTResponse {
 public:
  CVKTResponse();
  virtual ~CVKTResponse();

  // Resets every field, saves the whole document (indented, CR-LF line ends,
  // UTF-8) as "<path>/log/VKTException.json", replacing the earlier copy,
  // then reads the members that exist. A copy that cannot be saved does not
  // stop the reading. Integers that are not integers of the field's range
  // read as -1; texts are converted from the document's UTF-8 to
  // Windows-1252. True when the document has a "type" member.
  // The document's output options are set to what the copy needs and left so.
  bool ReadResponse(CkJsonObject& json);

  int16_t type;          // "type"; default 2
  CString type_desc;     // "type_desc"; default "GENERIC EXCEPTION"
  int32_t error;         // "error"; default 0
  CString message;       // "message"
  CString stack_trace;   // "stackTrace"
  std::vector<CString> alert_list;  // "alert_list"
  std::vector<CString> block_list;  // "block_list"
  std::vector<CString> user_list;   // "user_list"

 private:
  void Reset();
};

#endif  // VKT_SERVICES_RESPONSE_H_
