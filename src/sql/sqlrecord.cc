#include "sql/sqlrecord.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "common/julian.h"
#include "frame/vktapp.h"
#include "isam/ctree.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

constexpr int16_t kSchemaStatus = 120;
constexpr int kDodaMode = 4;

enum : uint16_t {
  kBoolean = 8,
  kChar = 16,
  kUChar = 24,
  kInt16 = 33,
  kInt32 = 51,
  kDate = 75,
  kTime = 83,
  kFloat = 91,
  kDouble = 103,
  kTimeStamp = 124,
  kFixedText = 144,
};

std::string Caption() {
  if (vktpar != nullptr && vktpar->app_name[0] != '\0')
    return std::string(vktpar->app_name, strnlen(vktpar->app_name, sizeof vktpar->app_name));
  return "VKTDlg";
}

bool IsKnownType(uint16_t type) {
  switch (type) {
    case kBoolean: case kChar: case kUChar: case kInt16: case kInt32: case kDate: case kTime:
    case kFloat: case kDouble: case kTimeStamp: case kFixedText:
      return true;
    default:
      return false;
  }
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool IsCalendarDate(int y, int m, int d) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  return d <= kDays[m - 1] + (m == 2 && IsLeap(y) ? 1 : 0);
}

// Writes at most `room` bytes of `value`: a field shorter than its type is
// cut rather than overrun.
void Put(char* at, size_t room, const void* value, size_t width) {
  std::memcpy(at, value, width < room ? width : room);
}

// A failure found here sets the thread's error variables afresh, as the
// record layer's own failures do, so nobody reads a stale error.
int16_t Failed(int16_t status) {
  isam_err = uerr_cod = status;
  sysio_cod = 0;
  return status;
}

// The element's name must lie inside the bytes read, ended there.
bool NameInside(const char* name, const char* buf, size_t size) {
  if (name < buf || name >= buf + size) return false;
  return std::memchr(name, '\0', static_cast<size_t>(buf + size - name)) != nullptr;
}

int16_t UnknownType(const char* name) {
  std::snprintf(buf_stampa, sizeof buf_stampa, "Tipo campo %-s non riconosciuto", name);
  vkt::Report(buf_stampa, Caption(), MB_OK | MB_ICONERROR);
  return Failed(kSchemaStatus);
}

}  // namespace

int16_t DBReadSql(CDBCtree& table, SACommand& cmd, void* record, void* extra) {
  if (table.ifil == nullptr || record == nullptr) return Failed(CT_BAD_PARAMETER);
  const size_t reclen = table.ifil->dreclen;
  char* out = static_cast<char*>(record);
  std::memset(out, 0, reclen);

  const int32_t datno = table.ifil->tfilno;
  const int32_t size = GetDODA(datno, 0, nullptr, kDodaMode);
  if (size <= 0) {
    // A failure is never reported as success, whatever the client left;
    // the client's own code keeps the variables it set.
    const int16_t code = uerr_cod;
    return code != 0 ? code : Failed(kSchemaStatus);
  }
  std::vector<char> schema;
  try {
    schema.assign(static_cast<size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return Failed(kSchemaStatus);
  }
  if (GetDODA(datno, size, schema.data(), kDodaMode) != size) return Failed(kSchemaStatus);

  const size_t count = schema.size() / sizeof(DATOBJ);
  size_t offset = 0;
  for (size_t i = 0; i < count; ++i) {
    DATOBJ e;
    std::memcpy(&e, schema.data() + i * sizeof(DATOBJ), sizeof e);
    if (e.fsymb == nullptr) break;
    if (!NameInside(e.fsymb, schema.data(), schema.size())) return Failed(kSchemaStatus);
    // What is left of the field inside the record.
    const size_t room = offset >= reclen ? 0 : std::min<size_t>(e.flen, reclen - offset);
    char* at = out + (offset < reclen ? offset : reclen);
    // An unknown type stops the copy before its column is looked for.
    if (!IsKnownType(e.ftype)) return UnknownType(e.fsymb);
    SAField& f = cmd.Field(SAString(e.fsymb));
    switch (e.ftype) {
      case kBoolean: {
        const char b = f.asLong() == 1 ? 1 : 0;
        Put(at, room, &b, 1);
        break;
      }
      case kChar: {
        SAString t = f.asString();
        const char c = t.IsEmpty() ? '\0' : t.str()[0];
        Put(at, room, &c, 1);
        break;
      }
      case kUChar: {
        const char b = f.asBool() ? 1 : 0;
        Put(at, room, &b, 1);
        break;
      }
      case kInt16: {
        const int16_t v = f.asShort();
        Put(at, room, &v, sizeof v);
        break;
      }
      case kInt32: {
        const int32_t v = f.asLong();
        Put(at, room, &v, sizeof v);
        break;
      }
      case kDate: {
        const SADateTime t = f.asDateTime();
        int32_t day = 0;
        if (IsCalendarDate(t.GetYear(), t.GetMonth(), t.GetDay())) {
          const double midnight =
              static_cast<double>(COleDateTime(t.GetYear(), t.GetMonth(), t.GetDay(), 0, 0, 0));
          day = DateToJulian(midnight, 0);
        }
        Put(at, room, &day, sizeof day);
        break;
      }
      case kTime: {
        const SADateTime t = f.asDateTime();
        const int32_t v = t.GetHour() * 3600 + t.GetMinute() * 60 + t.GetSecond();
        Put(at, room, &v, sizeof v);
        break;
      }
      case kFloat: {
        const float v = static_cast<float>(f.asDouble());
        Put(at, room, &v, sizeof v);
        break;
      }
      case kDouble: {
        const double v = f.asDouble();
        Put(at, room, &v, sizeof v);
        break;
      }
      case kTimeStamp: {
        const double v = SADateTimeToDate(f.asDateTime());
        Put(at, room, &v, sizeof v);
        break;
      }
      case kFixedText: {
        SAString t = f.asString();
        t.TrimLeft();
        t.TrimRight();
        // At most length - 1 characters: the zero after them stays. A field
        // of length 0 takes nothing.
        const size_t keep = e.flen == 0 ? 0 : std::min<size_t>(t.str().size(), e.flen - 1u);
        Put(at, room, t.str().data(), keep);
        break;
      }
      default:
        return UnknownType(e.fsymb);
    }
    offset += e.flen;
  }
  isam_err = uerr_cod = sysio_cod = 0;
  if (table.readCallback != nullptr && extra != nullptr) return table.readCallback(extra);
  return 0;
}

int16_t CDBCtree::DBReadSql(SACommand& cmd, void* record, void* extra) {
  return ::DBReadSql(*this, cmd, record, extra);
}
