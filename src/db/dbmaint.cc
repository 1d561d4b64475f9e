// CDBCtree: whole-table maintenance. Copies between companies, the copy of
// a table's files on the server, new file ids, deletion and re-creation.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "db/dbctree.h"
#include "db/dbexport.h"
#include "db/dbinternal.h"
#include "frame/vktapp.h"
#include "win/cp1252.h"
#include "win/services.h"
#include "win/winconst.h"

using namespace vkt::db::detail;  // NOLINT: the exported names are global

namespace {

constexpr int32_t kPermMask = 31710;
constexpr int kBatch = 500;        // records per transaction of a bulk copy
constexpr int16_t kTrnMode = 50;
constexpr size_t kSlot = 255;      // one name of a copy request
constexpr int16_t kFileExistsSys = 80;  // the server's "file exists" system code

std::string CompanyText(int32_t company) {
  char b[32];
  std::snprintf(b, sizeof b, "dit%05ld", static_cast<long>(company));
  return b;
}

// The table's name in the other company: every company part replaced. False
// when the name has none (there is no other company's table to name).
bool OtherCompanyName(const char* name, int32_t target, int32_t source, std::string* out) {
  std::string n = name != nullptr ? name : "";
  const std::string from = CompanyText(target), to = CompanyText(source);
  size_t at = n.find(from);
  if (at == std::string::npos) return false;
  while (at != std::string::npos) {
    n.replace(at, from.size(), to);
    at = n.find(from, at + to.size());
  }
  *out = n;
  return true;
}

// A writable copy of a name for the client's char* arguments.
std::vector<char> Writable(const std::string& s) {
  std::vector<char> v(s.begin(), s.end());
  v.push_back('\0');
  return v;
}

// Keeps the transaction of a bulk copy: at most kBatch adds in each.
class Batches {
 public:
  ~Batches() { (void)End(); }
  // Before each add: commits a full batch and begins the next one.
  int16_t BeforeAdd() {
    if (open_ && in_batch_ == kBatch) {
      open_ = false;
      in_batch_ = 0;
      if (int16_t c = Commit(0); c != 0) {
        const ErrorState failed = ErrorState::Save();
        (void)Abort();
        failed.Restore();
        return c;
      }
    }
    if (!open_) {
      if (Begin(kTrnMode) == 0) return FailureCode(CT_NO_TRANSACTION);
      open_ = true;
    }
    return 0;
  }
  void Added() { ++in_batch_; }
  // Commits the open batch, if any; its status.
  int16_t End() {
    if (!open_) return 0;
    open_ = false;
    in_batch_ = 0;
    const int16_t c = Commit(0);
    if (c != 0) {
      const ErrorState failed = ErrorState::Save();
      (void)Abort();
      failed.Restore();
    }
    return c;
  }

 private:
  bool open_ = false;
  int in_batch_ = 0;
};

// The source table of a company copy, opened plain or with its resources.
struct Source {
  int32_t filno = -1;
  bool plain = false;
  int16_t mode = 0;

  int16_t Open(const std::string& name, int16_t table_mode, int16_t indexes) {
    std::vector<char> n = Writable(name);
    mode = static_cast<int16_t>(table_mode + CT_MODE_NOIDCHECK);
    filno = AvailableFileNbr(1);
    if (filno == -1) return FailureCode(CT_BAD_FILE_NUMBER);
    if (OpenCtFile(filno, n.data(), mode) == 0) {
      plain = true;
      return 0;
    }
    (void)AvailableFileNbr(static_cast<int16_t>(indexes + 1));
    filno = OpenFileWithResource(-1, n.data(), mode);
    if (filno < 0) {
      const int16_t e = isam_err;
      return e != 0 ? e : Fail(CT_FILE_NOT_FOUND);
    }
    return 0;
  }
  int16_t Close() {
    if (filno < 0) return 0;
    const int16_t s = plain ? CloseCtFile(filno, mode) : CloseRFile(filno);
    filno = -1;
    return s;
  }
};

// The copy's progress window, when the host's framework shows one.
std::unique_ptr<vkt::db::ProgressWindow> CopyProgress(const std::string& source, int32_t records) {
  std::unique_ptr<vkt::db::ProgressWindow> p = CreateProgress("Attendere...");
  if (p == nullptr) return p;
  FormatStampa("Importazione da %-s ...", source.c_str());
  p->SetStatus(buf_stampa);
  p->SetRange(0, records);
  p->SetStep(1);
  p->HideCancel();
  return p;
}

}  // namespace

// --- Copies between companies --------------------------------------------------------------

int16_t CDBCtree::DBCopy(int32_t sourceCompany, int32_t targetCompany) {
  if (ifil == nullptr || ifil->pfilnam == nullptr) return Fail(CT_BAD_PARAMETER);
  if (DBNbrOfRecords() > 0) return Clear();
  std::string source;
  if (!OtherCompanyName(ifil->pfilnam, targetCompany, sourceCompany, &source))
    return Fail(CT_FILE_NOT_FOUND);
  source += ".dat";
  Source src;
  if (int16_t s = src.Open(source, ifil->dfilmod, ifil->dnumidx); s != 0) return s;

  int16_t status = 0;
  std::unique_ptr<char[]> record(new (std::nothrow) char[RecordLength() > 0 ? RecordLength() : 1]);
  {
    Batches batches;
    std::unique_ptr<vkt::db::ProgressWindow> progress;
    if (record == nullptr) {
      status = Fail(CT_BAD_PARAMETER);
    } else {
      progress = CopyProgress(source, NbrOfRecords(src.filno));
      std::memset(record.get(), 0, RecordLength());
      int16_t r = FirstRecord(src.filno, record.get());
      for (; r == 0; r = NextRecord(src.filno, record.get())) {
        if ((status = batches.BeforeAdd()) != 0) break;
        const int16_t point = SetSavePoint();
        if (uerr_cod != 0) {
          status = uerr_cod;
          break;
        }
        // The copies keep the stamps they had in the source.
        const int saved = lockStamp;
        lockStamp = 1;
        const int16_t a = DBAddRecord(record.get());
        lockStamp = saved;
        if (a != 0) {
          // Nothing of the failed add may reach the commit below.
          const ErrorState failed = ErrorState::Save();
          (void)RestoreSavePoint(point);
          failed.Restore();
          status = a;
          break;
        }
        batches.Added();
        if (progress != nullptr) progress->StepIt();
        std::memset(record.get(), 0, RecordLength());
      }
      if (status == 0 && r != CT_NOT_FOUND) status = r;
    }
    const ErrorState stopped = ErrorState::Save();
    record.reset();
    const int16_t c = batches.End();
    if (status == 0) {
      status = c;
    } else {
      stopped.Restore();
    }
  }
  const ErrorState stopped = ErrorState::Save();
  DBISAM(src.Close(), VKT_DB_WHERE);
  stopped.Restore();
  return status;
}

int16_t CDBCtree::DBCopyV(int32_t sourceCompany, int32_t targetCompany) {
  if (ifil == nullptr || ifil->pfilnam == nullptr) return Fail(CT_BAD_PARAMETER);
  if (DBNbrOfRecords() > 0) return Clear();
  std::string source;
  if (!OtherCompanyName(ifil->pfilnam, targetCompany, sourceCompany, &source))
    return Fail(CT_FILE_NOT_FOUND);
  source += ".dat";
  Source src;
  if (int16_t s = src.Open(source, ifil->dfilmod, ifil->dnumidx); s != 0) return s;

  int16_t status = 0;
  const int32_t fixed = RecordLength() > 0 ? RecordLength() : 1;
  std::vector<char> head(static_cast<size_t>(fixed), 0);
  {
    Batches batches;
    std::unique_ptr<vkt::db::ProgressWindow> progress = CreateProgress("Attendere...");
    if (progress != nullptr) {
      int32_t records = 0;
      int32_t len = fixed;
      for (int16_t r = FirstVRecord(src.filno, head.data(), &len); r == 0;
           len = fixed, r = NextVRecord(src.filno, head.data(), &len))
        ++records;
      FormatStampa("Importazione da %-s ...", source.c_str());
      progress->SetStatus(buf_stampa);
      progress->SetRange(0, records);
      progress->SetStep(1);
      progress->HideCancel();
    }
    int32_t len = fixed;
    int16_t r = FirstVRecord(src.filno, head.data(), &len);
    for (; r == 0; len = fixed, r = NextVRecord(src.filno, head.data(), &len)) {
      if ((status = batches.BeforeAdd()) != 0) break;
      // The whole record, at its own length.
      std::unique_ptr<char[]> whole(new (std::nothrow) char[static_cast<size_t>(len > 0 ? len : 1)]);
      if (whole == nullptr) {
        status = Fail(CT_BAD_PARAMETER);
        break;
      }
      if ((status = ReReadVRecord(src.filno, whole.get(), len)) != 0) break;
      const int saved = lockStamp;
      lockStamp = 1;
      status = DBAddVRecord(whole.get(), len);
      lockStamp = saved;
      if (status != 0) break;
      batches.Added();
      if (progress != nullptr) progress->StepIt();
    }
    if (status == 0 && r != CT_NOT_FOUND) status = r;
    const ErrorState stopped = ErrorState::Save();
    const int16_t c = batches.End();
    if (status == 0) {
      status = c;
    } else {
      stopped.Restore();
    }
  }
  const ErrorState stopped = ErrorState::Save();
  DBISAM(src.Close(), VKT_DB_WHERE);
  stopped.Restore();
  return status;
}

// --- The copy of a table's files -------------------------------------------------------------

namespace {

// A table opened with its stored description, and that description.
struct Described {
  int32_t filno = -1;
  std::vector<char> bytes;
  ifil4 desc{};

  int16_t Open(const std::string& data_name, int16_t mode) {
    std::vector<char> n = Writable(data_name);
    filno = OpenFileWithResource(-1, n.data(), mode);
    if (filno < 0) return isam_err != 0 ? isam_err : Fail(CT_FILE_NOT_FOUND);
    const int32_t size = GetIFile(filno, 0, nullptr);
    if (size < static_cast<int32_t>(sizeof(ifil4))) return FailureCode(CT_READ_ERROR);
    bytes.assign(static_cast<size_t>(size), 0);
    if (GetIFile(filno, size, bytes.data()) != size) return FailureCode(CT_READ_ERROR);
    std::memcpy(&desc, bytes.data(), sizeof desc);
    desc.dfilno = filno;
    desc.tfilno = filno;
    return 0;
  }
  void Close() {
    if (filno >= 0) (void)CloseRFile(filno);
    filno = -1;
  }
};

bool PutSlot(char* slots, int i, const std::string& text) {
  if (text.size() >= kSlot) return false;
  std::memcpy(slots + static_cast<size_t>(i) * kSlot, text.data(), text.size());
  return true;
}

std::string Upper(const std::string& s) {
  std::string u = s;
  for (char& c : u) c = vkt::win::Cp1252ToUpper(c);
  return u;
}

}  // namespace

int CDBCtree::DBCopyFile(char* destination, bool sameName, bool overwrite) {
  if (ifil == nullptr || ifil->pfilnam == nullptr || destination == nullptr)
    return Fail(CT_BAD_PARAMETER);
  const std::string name = ifil->pfilnam, dest = destination;
  const std::string src_dat = name + ".dat";
  const std::string dst_dat = sameName ? dest : dest + "_old.dat";
  char sources[3 * kSlot], targets[3 * kSlot];
  std::memset(sources, 0, sizeof sources);
  std::memset(targets, 0, sizeof targets);
  // A name cut to its slot would copy from or onto another file.
  if (!PutSlot(sources, 0, src_dat) || !PutSlot(sources, 1, name + ".idx") ||
      !PutSlot(sources, 2, name + "_2.idx") || !PutSlot(targets, 0, dst_dat) ||
      !PutSlot(targets, 1, sameName ? dest : dest + "_old.idx") ||
      !PutSlot(targets, 2, sameName ? dest : dest + "_2_old.idx"))
    return Fail(CT_BAD_PARAMETER);

  int16_t status = 0;
  for (int pass = 1; pass <= 2; ++pass) {
    if (pass == 2 && sameName) {
      if (int16_t p = DBProcess(true); p != 0) return p;
    }
    ctCOPYREQ request;
    std::memset(&request, 0, sizeof request);
    request.one = 1;
    request.mode = (sameName ? 293 : 265) + (overwrite ? ctCOPY_OVERWRITE : 0);
    request.kind = sameName ? 1 : (name.find("fatture2") != std::string::npos ? 3 : 2);
    request.logon.one = 1;
    if (vktpar != nullptr) {
      std::snprintf(request.logon.user, sizeof request.logon.user, "%.*s",
                    static_cast<int>(strnlen(vktpar->user, sizeof vktpar->user)), vktpar->user);
      std::snprintf(request.logon.password, sizeof request.logon.password, "%.*s",
                    static_cast<int>(strnlen(vktpar->password, sizeof vktpar->password)),
                    vktpar->password);
      std::snprintf(request.logon.server, sizeof request.logon.server, "%.*s",
                    static_cast<int>(strnlen(vktpar->server_at_host, sizeof vktpar->server_at_host)),
                    vktpar->server_at_host);
    }
    request.sources = sources;
    request.targets = targets;
    char error_text[1024];
    std::memset(error_text, 0, sizeof error_text);
    ctCOPYBLK block{1, 1, static_cast<int32_t>(sizeof error_text), 0, &request, 0, 0, error_text};
    status = ctCopyFile(&block);
    if (status == 0) return Clear();
    if (status == CT_FILE_EXISTS && sysio_cod == kFileExistsSys && pass == 1 && !overwrite) {
      const ErrorState exists = ErrorState::Save();
      const std::string shown_dst =
          sameName ? dest + "/" + name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1) + ".dat"
                   : dst_dat;
      FormatStampa("Il file %-s esiste nella cartella di destinazione %-s\n\nVuoi sovrascriverlo?",
                   Upper(src_dat).c_str(), Upper(shown_dst).c_str());
      if (vkt::ReportUnlessSilent(buf_stampa, Caption(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) !=
          IDYES) {
        exists.Restore();
        return CT_FILE_EXISTS;
      }
      overwrite = true;
      continue;
    }
    if (pass == 2 && error_text[0] != '\0') {
      const ErrorState failed = ErrorState::Save();
      AlarmBeep();
      vkt::Report(error_text, Caption(), MB_OK);
      failed.Restore();
      return status;
    }
  }
  return status;
}

// --- New file ids -------------------------------------------------------------------------------

int16_t CDBCtree::DBReassignID() {
  if (ifil == nullptr || ifil->pfilnam == nullptr) return Fail(CT_BAD_PARAMETER);
  if (DBLocal() != 0) return Clear();
  auto repair = [this](int16_t s) {
    if (s == CT_FILE_ID_NOT_UNIQUE) {
      const ErrorState failed = ErrorState::Save();
      (void)DBProcess(true);
      failed.Restore();
    }
    return s;
  };
  Described file;
  const int16_t opened = file.Open(std::string(ifil->pfilnam) + ".dat", CT_MODE_NOIDCHECK);
  if (file.filno < 0) {
    if (isam_err == CT_FILE_NOT_FOUND && sysio_cod == ENOENT) return Clear();
    return repair(opened);
  }
  if (opened != 0) {
    const ErrorState failed = ErrorState::Save();
    file.Close();
    failed.Restore();
    return repair(opened);
  }
  std::vector<int32_t> members = {file.filno, file.filno + 1};
  for (int16_t k = 2; k <= file.desc.dnumidx && file.desc.ix != nullptr; ++k) {
    const char* alt = file.desc.ix[k - 1].aidxnam;
    if (alt != nullptr && alt[0] != '\0') members.push_back(file.filno + k);
  }
  if (file.desc.dnumidx < 1) members.resize(1);
  const int32_t now = static_cast<int32_t>(vkt::services().NowMicros() / 1000000);
  int16_t s = 0;
  for (int32_t member : members) {
    char member_name[261];
    if ((s = GetCtFileName(member, member_name, sizeof member_name)) != 0) break;
    if (Begin(kTrnMode) == 0) {
      s = FailureCode(CT_NO_TRANSACTION);
      break;
    }
    for (int32_t k = 0; k < 3; ++k) {
      s = UpdateHeader(member, now + k, 4);
      if (s != CT_FILE_ID_NOT_UNIQUE) break;
    }
    if (s == 0) {
      s = Commit(0);
    } else {
      const ErrorState failed = ErrorState::Save();
      (void)Abort();
      failed.Restore();
    }
    if (s != 0) break;
  }
  const ErrorState last = ErrorState::Save();
  file.bytes.clear();
  const int16_t c = CloseRFile(file.filno);
  file.filno = -1;
  if (s != 0) {
    last.Restore();
    return repair(s);
  }
  return repair(c);
}

// --- Deletion and re-creation -------------------------------------------------------------------

int16_t CDBCtree::DBDeleteIFile(DATOBJ* const schema) {
  if (ifil == nullptr || ifil->pfilnam == nullptr) return Fail(CT_BAD_PARAMETER);
  if (int16_t s = DBCloseIFile(); s != 0) return s;
  if (OpenExclusive() != 0) return Fail(DB_NOT_EXCLUSIVE);
  DBISAM(DeleteIFile(ifil), VKT_DB_WHERE);
  int s = DBOpen(0);
  if (s == 0) {
    // The schema store closes and opens the table again itself: one more
    // open here would open it twice.
    int changed = 0;
    s = DBPutDoda(schema, 1, &changed);
  }
  return static_cast<int16_t>(s);
}

int32_t CDBCtree::DBDeleteAndOpenIFile(DATOBJ* const schema) {
  if (ifil == nullptr || ifil->pfilnam == nullptr) return Fail(CT_BAD_PARAMETER);
  SetModes(true);
  Described stored;
  const int16_t opened = stored.Open(std::string(ifil->pfilnam) + ".dat", ifil->dfilmod);
  if (stored.filno < 0) {
    if (!(isam_err == CT_FILE_NOT_FOUND && sysio_cod == ENOENT)) return opened;
  } else {
    int16_t s = opened;
    if (s == 0) s = DeleteIFile(&stored.desc);
    if (s != 0) {
      const ErrorState failed = ErrorState::Save();
      stored.Close();
      failed.Restore();
      return s;
    }
    stored.filno = -1;  // deleted with its file set
  }
  int16_t s;
  if (createBlock != nullptr) {
    s = CreateIFileXtd8(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr, createBlock);
  } else {
    s = CreateIFileXtd(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr);
  }
  if (s != 0) return s;
  if (buffer != nullptr) std::memset(buffer, 0, RecordLength());
  return DBWrite(this, 3, schema, nullptr);
}
