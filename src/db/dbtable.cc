// CDBCtree: construction, opening (with creation and repair), the stored
// schema and description, and the index and filter settings.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "db/dbctree.h"
#include "db/dbinternal.h"
#include "frame/vktapp.h"
#include "win/services.h"
#include "win/winconst.h"

using namespace vkt::db::detail;  // NOLINT: the exported names are global

namespace {

constexpr int32_t kPermMask = 31710;
constexpr int16_t kRebuildDropDuplicates = -200;
constexpr int16_t kRebuildKeepDuplicates = -99;
constexpr int32_t kStoredLimit = 20479;  // of buf_stampa, for the stored schema and description

bool SameName(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

// Names of the program's schema end at an empty name (or, in arrays the
// client gave back, a null one).
bool Ends(const DATOBJ& e) { return e.fsymb == nullptr || e.fsymb[0] == '\0'; }

// The run of `schema` from the table's first field to its last: false when
// either is missing before the terminator.
bool FindRun(const DATOBJ* schema, const char* first, const char* last, size_t* from,
             size_t* to) {
  if (schema == nullptr || first == nullptr || last == nullptr) return false;
  bool have_first = false;
  for (size_t i = 0; !Ends(schema[i]); ++i) {
    if (!have_first && std::strcmp(schema[i].fsymb, first) == 0) {
      have_first = true;
      *from = i;
    }
    if (have_first && std::strcmp(schema[i].fsymb, last) == 0) {
      *to = i;
      return true;
    }
  }
  return false;
}

// A text the client placed in buf_stampa: it starts and ends (with its
// terminator) inside the `size` bytes it answered.
bool InsideRead(const char* p, int32_t size) {
  const auto at = reinterpret_cast<uintptr_t>(p);
  const auto base = reinterpret_cast<uintptr_t>(buf_stampa);
  if (p == nullptr || at < base || at >= base + static_cast<uintptr_t>(size)) return false;
  const size_t left = static_cast<size_t>(base + static_cast<uintptr_t>(size) - at);
  return std::memchr(buf_stampa + (at - base), '\0', left) != nullptr;
}

}  // namespace

// Which repairs one top-level DBOpen has tried: each kind once, and one more
// rebuild after the index files were removed.
struct CDBCtree::Repairs {
  bool created = false;
  int rebuilds = 0;
  bool removed = false;
  bool processed = false;
  bool compacted = false;

  bool MayRebuild() const { return rebuilds == 0 || (removed && rebuilds == 1); }
};

CDBCtree::CDBCtree(int16_t tableId_, ifil4* ifil_, void* buffer_, PutFunc putCallback_,
                   ReadFunc readCallback_, StampFunc stampCallback_, int variableLength_)
    : CDBCtree(tableId_, ifil_, nullptr, buffer_, putCallback_, readCallback_, stampCallback_,
               variableLength_) {}

CDBCtree::CDBCtree(int16_t tableId_, ifil4* ifil_, xCREblk* createBlock_, void* buffer_,
                   PutFunc putCallback_, ReadFunc readCallback_, StampFunc stampCallback_,
                   int variableLength_)
    : putCallback(putCallback_),
      readCallback(readCallback_),
      stampCallback(stampCallback_),
      ifil(ifil_),
      createBlock(createBlock_),
      buffer(buffer_),
      index(0),
      rebuilt(0),
      variableLength(variableLength_),
      schemaOption(0),
      lastRead(0.0),
      tableId(tableId_),
      lockStamp(0) {}

CDBCtree::~CDBCtree() = default;

int CDBCtree::DBImpCSV() { return 1; }

int CDBCtree::DBReadPSQL(SACommand& cmd, void* record, unsigned int size, bool flag) {
  (void)cmd;
  (void)record;
  (void)size;
  (void)flag;
  return 0;
}

int32_t CDBCtree::DataFile() const { return ifil != nullptr ? ifil->tfilno : -1; }
int32_t CDBCtree::KeyFile() const { return DataFile() + index; }
uint16_t CDBCtree::RecordLength() const { return ifil != nullptr ? ifil->dreclen : 0; }

void CDBCtree::SetModes(bool exclusive) {
  int16_t mode = DBSetFileMode();
  if (exclusive) mode = static_cast<int16_t>(mode & ~CT_MODE_SHARED);
  ifil->dfilmod = mode;
  ifil->ifilmod = mode;
  if (variableLength != 0) ifil->dfilmod = static_cast<int16_t>(ifil->dfilmod + CT_MODE_VLENGTH);
}

int16_t CDBCtree::OpenExclusive() {
  SetModes(true);
  return OpenIFileXtd(ifil, nullptr, nullptr, nullptr);
}

int16_t CDBCtree::Rebuild() {
  if (createBlock != nullptr)
    return RebuildIFileXtd8(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr, createBlock);
  return RebuildIFileXtd(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr);
}

int16_t CDBCtree::Compact() {
  if (createBlock != nullptr)
    return CompactIFileXtd8(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr, createBlock);
  return CompactIFileXtd(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr);
}

int16_t CDBCtree::PutDescription() {
  if (createBlock != nullptr) return PutIFileXtd8(ifil, nullptr, nullptr, nullptr, createBlock);
  return PutIFileXtd(ifil, nullptr, nullptr, nullptr);
}

int16_t CDBCtree::ReportDuplicates(int16_t status) {
  if (status == CT_DUPLICATES_FOUND || status == CT_DUPLICATES_REMOVED) {
    const ErrorState rebuilt_state = ErrorState::Save();
    DBISAM(status == CT_DUPLICATES_FOUND ? DB_DUPLICATES_FOUND : DB_DUPLICATES_REMOVED,
           ifil->pfilnam != nullptr ? ifil->pfilnam : "");
    rebuilt_state.Restore();
  }
  return status;
}

namespace {

bool AskYes(const char* question) {
  return vkt::ReportUnlessSilent(question, Caption(), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
         IDYES;
}

}  // namespace

// --- Opening -------------------------------------------------------------------------

int CDBCtree::DBOpen(int firstOpen) {
  if (ifil == nullptr || ifil->pfilnam == nullptr) return Fail(CT_BAD_PARAMETER);
  Repairs tried;
  return OpenWith(firstOpen, &tried);
}

int CDBCtree::OpenWith(int firstOpen, Repairs* tried) {
  SetModes(false);
  const int16_t status = OpenIFileXtd(ifil, nullptr, nullptr, nullptr);
  const char* name = ifil->pfilnam;
  switch (status) {
    case 0: {
      const int32_t stored = GetCtFileInfo(ifil->tfilno, CT_INFO_RECLEN);
      if (stored < 0) {
        const ErrorState failed = ErrorState::Save();
        (void)CloseIFile(ifil);
        failed.Restore();
        return FailureCode(CT_READ_ERROR);
      }
      if (stored == ifil->dreclen) {
        if (ifil->dreclen > kDBMaxRecordLength) {
          FormatStampa("%-s\n\nLunghezza record massima (%ld) superata : %ld", name,
                       static_cast<long>(kDBMaxRecordLength), static_cast<long>(ifil->dreclen));
          vkt::ReportUnlessSilent(buf_stampa, Caption(), MB_OK);
        }
        if (buffer != nullptr) std::memset(buffer, 0, ifil->dreclen);
        return Clear();
      }
      FormatStampa(
          "%-s\n\nDimensione record non corrispondente : \n\nVecchia Dimensione : %ld  -  Nuova "
          "Dimensione : %ld",
          name, static_cast<long>(stored), static_cast<long>(ifil->dreclen));
      if (!vkt::Silent()) AlarmBeep();
      vkt::ReportUnlessSilent(buf_stampa, Caption(), MB_OK | MB_ICONSTOP);
      return Fail(CT_RECORD_LENGTH);  // the file stays open, as the host expects
    }
    case CT_FILE_NOT_FOUND:
      if (tried->created) return status;
      tried->created = true;
      return CreateMissing(firstOpen, tried);
    case CT_INDEX_DAMAGED:
    case CT_INDEX_FOREIGN:
    case 40:
    case 124:
    case 608:
    case 689: {
      if (!tried->MayRebuild()) return status;
      tried->rebuilds++;
      rebuilt = 1;
      ifil->tfilno = kRebuildDropDuplicates;
      int16_t r = Rebuild();
      if (r == CT_DUPLICATES_REMOVED) {
        // Records with duplicate keys were dropped: the indexes are whole,
        // and the user hears what went.
        ReportDuplicates(r);
        r = 0;
      }
      if (r == 0) return OpenWith(0, tried);
      if (tried->removed) return r;
      tried->removed = true;
      return RemoveIndexFiles(r, tried);
    }
    case 53:
    case CT_FILE_ID_NOT_UNIQUE:
    case 775: {
      if (tried->processed) return status;
      tried->processed = true;
      rebuilt = 1;
      const int16_t p = DBProcess(true);
      if (p == 0 || p == 608) return OpenWith(0, tried);
      return p;
    }
    case 674: {
      if (tried->compacted) return status;
      tried->compacted = true;
      SetModes(false);
      const int16_t c = Compact();
      if (c == 0) return OpenWith(0, tried);
      return c;
    }
    default:
      return status;
  }
}

int CDBCtree::CreateMissing(int firstOpen, Repairs* tried) {
  if (vktpar == nullptr) return Fail(CT_CREATE_FAILED);
  if (firstOpen == 1 && vktpar->create_dirs == 0) return Fail(CT_CREATE_FAILED);
  if (vktpar->allow_create == 0) return Fail(CT_CREATE_FAILED);
  if (Begin(50) == 0) return FailureCode(CT_NO_TRANSACTION);
  int16_t created;
  if (createBlock != nullptr) {
    created = CreateIFileXtd8(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr, createBlock);
  } else {
    created = CreateIFileXtd(ifil, nullptr, nullptr, kPermMask, nullptr, nullptr);
  }
  if (created == 0) {
    mirto_db_force_doda = 1;
    rebuilt = 1;
    const int16_t c = Commit(0);
    if (c != 0) {
      const ErrorState failed = ErrorState::Save();
      (void)Abort();
      failed.Restore();
      return c;
    }
  } else {
    const ErrorState failed = ErrorState::Save();
    (void)Abort();
    failed.Restore();
  }
  if (created != 0 && created != CT_FILE_EXISTS) return created;
  if (created == 0) {
    const int16_t c = DBCloseIFile();
    if (c != 0) return c;
    return OpenWith(0, tried);
  }

  // The data file's record is there without its file: store the program's
  // description and rebuild from the records.
  rebuilt = 1;
  if (PutDescription() != 0) ifil->tfilno = kRebuildKeepDuplicates;
  tried->rebuilds++;
  int16_t r = ReportDuplicates(Rebuild());
  if (r == CT_DUPLICATES_REMOVED || r == CT_DUPLICATES_FOUND) {
    if (AskYes("Vuoi Eliminare le chiavi duplicate ?")) {
      ifil->tfilno = kRebuildDropDuplicates;
      r = ReportDuplicates(Rebuild());
    }
  }
  if (r == 0 || r == CT_DUPLICATES_REMOVED || r == CT_DUPLICATES_FOUND) return OpenWith(0, tried);
  const int16_t p = DBProcess(true);
  if (p == 0) return OpenWith(0, tried);
  FormatStampa(
      "Attenzione!\n\nL'apertura della tabella %-s non \xE8 andata a buon fine.\nPrima di "
      "proseguire o avviare nuovamente il programma contattare il supporto tecnico per evitare "
      "possibili perdite di dati.",
      ifil->pfilnam);
  vkt::Report(buf_stampa, Caption(), MB_OK | MB_ICONSTOP);
  return Fail(p);
}

int CDBCtree::RemoveIndexFiles(int16_t rebuild_status, Repairs* tried) {
  // The main index file first, then every alternative one: any of them may
  // be the damaged file.
  std::vector<std::string> files;
  files.push_back(std::string(ifil->pfilnam) + ".idx");
  for (int16_t k = 0; k < ifil->dnumidx && ifil->ix != nullptr; ++k) {
    const char* alt = ifil->ix[k].aidxnam;
    if (alt == nullptr || alt[0] == '\0') continue;
    bool seen = false;
    for (const std::string& f : files) seen = seen || f == alt;
    if (!seen) files.emplace_back(alt);
  }
  const ErrorState rebuild_failed = ErrorState::Save();
  if (DBLocal() == 1) {
    bool removed_any = false;
    for (const std::string& f : files) {
      if (std::remove(f.c_str()) == 0) {
        removed_any = true;
      } else if (errno != ENOENT) {
        rebuild_failed.Restore();
        return rebuild_status;
      }
    }
    if (!removed_any) {
      rebuild_failed.Restore();
      return rebuild_status;
    }
    rebuilt = 1;
    return OpenWith(0, tried);
  }
  for (const std::string& f : files) {
    std::vector<char> fname(f.begin(), f.end());
    fname.push_back('\0');
    const int32_t filno = AvailableFileNbr(ifil->dnumidx > 0 ? ifil->dnumidx : 1);
    int16_t s = filno < 0 ? FailureCode(CT_BAD_FILE_NUMBER) : OpenCtFile(filno, fname.data(), 0);
    if (s == 0) {
      if (Begin(50) == 0) {
        const ErrorState failed = ErrorState::Save();
        (void)CloseCtFile(filno, 0);
        failed.Restore();
        return FailureCode(CT_NO_TRANSACTION);
      }
      s = DeleteCtFile(filno);
      if (s == 0) {
        s = Commit(0);
        if (s != 0) {
          const ErrorState failed = ErrorState::Save();
          (void)Abort();
          failed.Restore();
        }
      } else {
        const ErrorState failed = ErrorState::Save();
        (void)Abort();
        (void)CloseCtFile(filno, 0);
        failed.Restore();
      }
      rebuilt = 1;
    }
    if (s != 0) {
      const ErrorState failed = ErrorState::Save();
      FormatStampa("Impossibile rimuovere il file %-s\n\nRimuovere il file manualmente e riavviare "
                   "il software",
                   f.c_str());
      vkt::Report(buf_stampa, Caption(), MB_OK | MB_ICONSTOP);
      failed.Restore();
      return s;
    }
  }
  return OpenWith(0, tried);
}

// --- Repair ------------------------------------------------------------------------------

int16_t CDBCtree::DBProcess(bool compact) {
  if (ifil == nullptr) return Fail(CT_BAD_PARAMETER);
  SetModes(false);
  int16_t s = 0;
  if (compact) {
    s = Compact();
    if (s != 0) {
      if (sysio_cod == ENOENT) return Clear();
      if (s == CT_DUPLICATE_KEY) {
        if (AskYes("Sono state trovati record con chiavi duplicate!\n\nLi vuoi eliminare ?")) {
          ifil->tfilno = kRebuildDropDuplicates;
          s = ReportDuplicates(Rebuild());
          if (s != 0 && s != CT_DUPLICATES_REMOVED && s != CT_DUPLICATES_FOUND) return s;
        }
      } else if (s == 409) {
        ifil->tfilno = kRebuildKeepDuplicates;
        s = ReportDuplicates(Rebuild());
        if (s != 0 && s != CT_DUPLICATES_REMOVED && s != CT_DUPLICATES_FOUND) return s;
      } else if (s == CT_FILE_NOT_FOUND) {
        return Clear();
      } else {
        return s;
      }
    }
  } else {
    ifil->tfilno = kRebuildDropDuplicates;
    s = ReportDuplicates(Rebuild());
    if (s == CT_FILE_NOT_FOUND) return Clear();
    if (s != 0 && s != CT_DUPLICATES_REMOVED && s != CT_DUPLICATES_FOUND) return s;
  }
  s = PutDescription();
  if (createBlock != nullptr && s == 775) {
    ifil->tfilno = kRebuildDropDuplicates;
    s = ReportDuplicates(Rebuild());
    if (s == CT_FILE_NOT_FOUND) return Clear();
    if (s != 0 && s != CT_DUPLICATES_REMOVED && s != CT_DUPLICATES_FOUND) return s;
  }
  if (s == 775 && !compact) return DBProcess(true);
  return s;
}

int16_t CDBCtree::DBCloseIFile() {
  if (ifil == nullptr) return Fail(CT_BAD_PARAMETER);
  return CloseIFile(ifil);
}

// --- Schema and description ---------------------------------------------------------------

int CDBCtree::DBCheckDoda(DATOBJ* const schema) {
  if (ifil == nullptr || schema == nullptr) return 1;
  std::memset(buf_stampa, 0, sizeof buf_stampa);
  const int32_t size = GetDODA(DataFile(), kStoredLimit, buf_stampa, 4);
  // A size past the buffer asked for is no answer of ours to read.
  if (size <= 0 || size > kStoredLimit) return 1;
  size_t first = 0, last = 0;
  if (!FindRun(schema, ifil->rfstfld, ifil->rlstfld, &first, &last)) return 1;
  // The stored array, read element by element out of the bytes received.
  std::vector<DATOBJ> stored;
  const size_t max = static_cast<size_t>(size) / sizeof(DATOBJ);
  for (size_t i = 0; i < max; ++i) {
    DATOBJ e;
    std::memcpy(&e, buf_stampa + i * sizeof(DATOBJ), sizeof e);
    if (e.fsymb == nullptr) break;
    // A name must lie inside what was read.
    if (!InsideRead(e.fsymb, size)) return 1;
    stored.push_back(e);
  }
  if (stored.size() != last - first + 1) return 1;
  for (size_t i = 0; i < stored.size(); ++i) {
    const DATOBJ& p = schema[first + i];
    if (std::strcmp(stored[i].fsymb, p.fsymb) != 0) return 1;
    if (stored[i].ftype != p.ftype) return 1;
    if (p.flen != 0 && stored[i].flen != p.flen) return 1;
  }
  return 0;
}

uint16_t CDBCtree::GetDodaField(DATOBJ* const schema) {
  if (ifil == nullptr || schema == nullptr) return static_cast<uint16_t>(Fail(CT_BAD_PARAMETER));
  size_t first = 0, last = 0;
  if (!FindRun(schema, ifil->rfstfld, ifil->rlstfld, &first, &last)) {
    for (unsigned hz : {1000u, 1250u, 1500u, 1750u, 2000u}) vkt::services().Beep(hz, 10);
    return static_cast<uint16_t>(Fail(310));
  }
  return static_cast<uint16_t>(
      PutDODA(DataFile(), &schema[first], static_cast<uint16_t>(last - first + 1)));
}

int16_t CDBCtree::DBPutDoda(DATOBJ* const schema, int force, int* changed) {
  int dummy = 0;
  if (changed == nullptr) changed = &dummy;
  *changed = 0;
  if (ifil == nullptr || schema == nullptr) return Fail(CT_BAD_PARAMETER);
  if (force == 0 && DBCheckDoda(schema) == 0) return Clear();
  rebuilt = 1;
  *changed = 1;
  int16_t s = DBCloseIFile();
  if (s != 0) return s;
  const char* name = ifil->pfilnam;
  if (OpenExclusive() != 0) {
    DBISAM(DB_NOT_EXCLUSIVE, name);
    *changed = 0;
    return static_cast<int16_t>(DBOpen(0));
  }
  DBISAM(DBWrite(this, 3, schema, nullptr), VKT_DB_WHERE);
  if (schemaOption != 0) DBISAM(PutXtdFileOpt(DataFile(), 0, schemaOption, 8192), VKT_DB_WHERE);
  DBISAM(DBCloseIFile(), VKT_DB_WHERE);
  if (OpenExclusive() != 0) {
    DBISAM(DB_NOT_EXCLUSIVE, name);
    *changed = 0;
    return static_cast<int16_t>(DBOpen(0));
  }
  DBISAM(UpdateFileMode(DataFile(), ifil->dfilmod), VKT_DB_WHERE);
  DBISAM(DBCloseIFile(), VKT_DB_WHERE);
  return static_cast<int16_t>(DBOpen(0));
}

int CDBCtree::DBCheckIFile() {
  if (ifil == nullptr) return 1;
  std::memset(buf_stampa, 0, sizeof buf_stampa);
  const int32_t size = GetIFile(DataFile(), kStoredLimit, buf_stampa);
  if (size < static_cast<int32_t>(sizeof(ifil4)) || size > kStoredLimit) return 1;
  ifil4 stored;
  std::memcpy(&stored, buf_stampa, sizeof stored);
  if ((stored.rfstfld != nullptr && !InsideRead(stored.rfstfld, size)) ||
      (stored.rlstfld != nullptr && !InsideRead(stored.rlstfld, size)))
    return 1;
  if (stored.dreclen != ifil->dreclen || stored.dxtdsiz != ifil->dxtdsiz ||
      stored.dnumidx != ifil->dnumidx || stored.ixtdsiz != ifil->ixtdsiz ||
      !SameName(stored.rfstfld, ifil->rfstfld) || !SameName(stored.rlstfld, ifil->rlstfld))
    return 1;
  return 0;
}

int16_t CDBCtree::DBUpdateHeader(int32_t value, int16_t mode) {
  return UpdateHeader(DataFile(), value, mode);
}

char* CDBCtree::DBGetTableName() {
  static char empty[1] = "";
  if (ifil == nullptr || ifil->pfilnam == nullptr) return empty;
  int32_t values[256];
  std::memset(values, 0, sizeof values);
  DBISAM(SystemConfiguration(values), VKT_DB_WHERE);
  const char sep = static_cast<char>(values[150] != 0 ? values[150] : '/');
  char* at = std::strrchr(ifil->pfilnam, sep);
  return at != nullptr ? at + 1 : ifil->pfilnam;
}

int16_t CDBCtree::DBSetIndex(int16_t k) {
  if (ifil == nullptr || k < 0 || k > ifil->dnumidx) {
    Fail(23);
    return static_cast<int16_t>(DBISAM(23, VKT_DB_WHERE));
  }
  index = k;
  return Clear();
}

int16_t CDBCtree::DBGetIndex() { return index; }

int16_t CDBCtree::DBGetConditionalIndex(char* out, int32_t length) {
  (void)GetConditionalIndex(KeyFile(), out, length);
  return isam_err;
}

int16_t CDBCtree::DBUpdateConditionalIndex(char* expression) {
  return UpdateConditionalIndex(KeyFile(), expression);
}

int16_t CDBCtree::DBSetDataFilter(char* expression) {
  return SetDataFilter(DataFile(), expression);
}
