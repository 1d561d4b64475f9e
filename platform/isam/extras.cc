// Record schemas, resources, filters, conditional indexes and the
// transaction history of the ISAM client.
#include <cstring>

#include "isam/ctree.h"
#include "isam/detail/session.h"

using namespace vkt::isam::detail;  // NOLINT: the exported names are global

#define VKT_ISAM_CALL() \
  Call c_;              \
  if (c_.faulted()) return c_.Ret(c_.fault())
#define VKT_ISAM_CALL_V(v) \
  Call c_;                 \
  if (c_.faulted()) return c_.Val(c_.fault(), v)

namespace {
constexpr int16_t kNoSchema = CT_NOT_FOUND;
}  // namespace

int32_t GetDODA(int32_t filno, int32_t buflen, void* buf, int16_t mode) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Val(s, 0);
  if (mode != 4 || buflen < 0) return c_.Val(CT_BAD_PARAMETER, 0);
  ReloadMeta(f);
  if (f->meta.doda.empty()) return c_.Val(kNoSchema, 0);
  const size_t size = DodaArray(f->meta.doda, nullptr, 0);
  if (size == 0) return c_.Val(CT_NOT_ISAM_FILE, 0);
  if (buf == nullptr || buflen == 0) return c_.Val({}, static_cast<int32_t>(size));
  if (static_cast<size_t>(buflen) < size) return c_.Val(CT_BUFFER_TOO_SMALL, 0);
  DodaArray(f->meta.doda, buf, static_cast<size_t>(buflen));
  return c_.Val({}, static_cast<int32_t>(size));
}

int16_t PutDODA(int32_t filno, DATOBJ* doda, uint16_t numfld) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  if (doda == nullptr && numfld > 0) return c_.Ret(CT_BAD_PARAMETER);
  for (uint16_t i = 0; i < numfld; ++i)
    if (doda[i].fsymb == nullptr || doda[i].fsymb[0] == '\0') return c_.Ret(CT_BAD_PARAMETER);
  Status s = JoinWrite(f->folder);
  if (s.ok()) {
    ReloadMeta(f);
    f->meta.doda = SerializeDoda(doda, numfld);
    s = f->folder->store->SaveTable(f->meta);
  }
  return c_.Ret(FinishWrite(f->folder, s));
}

// --- Resources -----------------------------------------------------------------

namespace {

bool ParseResource(const void* resptr, int32_t varlen, Store::Resource* r) {
  if (resptr == nullptr || varlen < 9) return false;
  const char* p = static_cast<const char*>(resptr);
  std::memcpy(&r->type, p, 4);
  std::memcpy(&r->number, p + 4, 4);
  const void* z = std::memchr(p + 8, '\0', static_cast<size_t>(varlen - 8));
  if (z == nullptr) return false;  // the name must end inside the resource
  r->name.assign(p + 8);
  r->image.assign(p, static_cast<size_t>(varlen));
  return true;
}

Status PutRes(OpenFile* f, void* resptr, int32_t varlen, bool replace) {
  Store::Resource r;
  if (!ParseResource(resptr, varlen, &r)) return CT_BAD_PARAMETER;
  Status s = JoinWrite(f->folder);
  if (s.ok() && !replace && r.number == 0xffffffffu) {
    s = f->folder->store->NextResourceNumber(f->meta.tid, r.type, &r.number);
    if (s.ok()) {
      std::memcpy(static_cast<char*>(resptr) + 4, &r.number, 4);
      std::memcpy(r.image.data() + 4, &r.number, 4);
    }
  }
  if (s.ok()) s = f->folder->store->PutResource(f->meta.tid, r, replace);
  return FinishWrite(f->folder, s);
}

}  // namespace

int32_t GetCtResource(int32_t filno, void* resptr, void* bufptr, int32_t bufsiz, int16_t resmode) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Val(s, 0);
  Store::Resource key, found;
  int which = 0;
  bool length_only = false;
  switch (resmode) {
    case CT_RES_TYPNUM:
    case CT_RES_NEXT:
    case CT_RES_LENGTH:
      if (resptr == nullptr) return c_.Val(CT_BAD_PARAMETER, 0);
      std::memcpy(&key.type, resptr, 4);
      std::memcpy(&key.number, static_cast<char*>(resptr) + 4, 4);
      which = resmode == CT_RES_NEXT ? 3 : 0;
      length_only = resmode == CT_RES_LENGTH;
      break;
    case CT_RES_NAME:
      if (resptr == nullptr) return c_.Val(CT_BAD_PARAMETER, 0);
      key.name = static_cast<const char*>(resptr);
      which = 1;
      break;
    case CT_RES_FIRST:
      which = 2;
      break;
    default:
      return c_.Val(CT_BAD_PARAMETER, 0);
  }
  if (Status s = f->folder->store->FindResource(f->meta.tid, which, key, &found); !s.ok())
    return c_.Val(s, 0);
  const int32_t size = static_cast<int32_t>(found.image.size());
  if (length_only) return c_.Val({}, size);
  if (bufptr == nullptr || bufsiz < size) return c_.Val(CT_BUFFER_TOO_SMALL, 0);
  std::memcpy(bufptr, found.image.data(), found.image.size());
  return c_.Val({}, size);
}

int16_t AddCtResource(int32_t filno, void* resptr, int32_t varlen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  return c_.Ret(PutRes(f, resptr, varlen, false));
}

int16_t UpdateCtResource(int32_t filno, void* resptr, int32_t varlen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  return c_.Ret(PutRes(f, resptr, varlen, true));
}

int16_t DeleteCtResource(int32_t filno, void* resptr) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  if (resptr == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  uint32_t type = 0, number = 0;
  std::memcpy(&type, resptr, 4);
  std::memcpy(&number, static_cast<char*>(resptr) + 4, 4);
  Status s = JoinWrite(f->folder);
  if (s.ok()) s = f->folder->store->EraseResource(f->meta.tid, type, number);
  return c_.Ret(FinishWrite(f->folder, s));
}

// --- Filters and conditional indexes ---------------------------------------------

int16_t SetDataFilter(int32_t filno, char* expr) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
  if (expr == nullptr || *expr == '\0') {
    f->filter.reset();
    return c_.Ret({});
  }
  ReloadMeta(f);
  if (f->meta.doda.empty()) return c_.Ret(kNoSchema);
  std::string why;
  std::unique_ptr<Expr> e = Expr::Parse(expr, f->meta.doda, &why);
  if (e == nullptr) return c_.Ret(CT_NOT_SUPPORTED);
  f->filter = std::move(e);
  return c_.Ret({});
}

int16_t UpdateConditionalIndex(int32_t keyno, char* expr) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Ret(s);
  const size_t k = static_cast<size_t>(index - 1);
  std::string text = expr != nullptr ? expr : "";
  std::unique_ptr<Expr> e;
  if (!text.empty()) {
    ReloadMeta(f);
    if (f->meta.doda.empty()) return c_.Ret(kNoSchema);
    std::string why;
    e = Expr::Parse(text, f->meta.doda, &why);
    if (e == nullptr) return c_.Ret(CT_NOT_SUPPORTED);
  }
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  if (s.ok()) {
    ReloadMeta(f);
    f->meta.def.indexes[k].condition = text;
    s = folder->store->SaveTable(f->meta);
  }
  // Rebuild this index's keys under the new condition.
  std::unique_ptr<TableStore> scratch;
  if (s.ok()) {
    KeyEntry entry;
    std::string image, key;
    while (s.ok()) {
      Status r = f->ts->SeekKey(static_cast<int>(k), Seek::kFirst, "", 0, &entry, nullptr);
      if (r.code == CT_NOT_FOUND) break;
      s = r.ok() ? f->ts->RemoveKey(static_cast<int>(k), entry.key, entry.pos) : r;
    }
    int64_t pos = 0;
    while (s.ok()) {
      Status r = f->ts->SeekRecord(Seek::kGT, pos, &pos, &image);
      if (r.code == CT_NOT_FOUND) break;
      if (!r.ok()) {
        s = r;
        break;
      }
      if (e != nullptr && !e->Match(image)) continue;
      if (!BuildKey(f->meta.def.indexes[k], image, pos, &key)) continue;
      s = f->ts->AddKey(static_cast<int>(k), key, pos);
    }
  }
  s = FinishWrite(folder, s);
  if (!s.ok()) {
    ReloadMeta(f);
    return c_.Ret(s);
  }
  if (f->conditions.size() <= k) f->conditions.resize(k + 1);
  f->conditions[k] = std::move(e);
  return c_.Ret({});
}

int32_t GetConditionalIndex(int32_t keyno, char* buf, int32_t buflen) {
  VKT_ISAM_CALL_V(-1);
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Val(s, -1);
  if (buf == nullptr || buflen <= 0) return c_.Val(CT_BAD_PARAMETER, -1);
  ReloadMeta(f);
  const std::string& text = f->meta.def.indexes[static_cast<size_t>(index - 1)].condition;
  if (text.size() + 1 > static_cast<size_t>(buflen)) return c_.Val(CT_BUFFER_TOO_SMALL, -1);
  std::memcpy(buf, text.c_str(), text.size() + 1);
  return c_.Val({}, static_cast<int32_t>(text.size()));
}

// --- Transaction history --------------------------------------------------------------

namespace {

Status FillEntry(HistState& h, void* bufptr, int32_t bufsiz) {
  if (bufptr == nullptr || bufsiz < 0) return CT_BAD_PARAMETER;
  Instance& in = Cur();
  const int64_t since = in.hist_days > 0 ? NowSeconds() - int64_t{in.hist_days} * 86400 : 0;
  HistoryEntry e;
  VKT_ISAM_RETURN_IF_ERROR(
      h.file->folder->store->NextHistory(h.file->meta.tid, h.pos, h.seq, since, &e));
  const std::string who = e.user + "|" + e.station;
  const size_t size = 44 + e.image.size() + who.size() + 1;
  if (size > static_cast<size_t>(bufsiz)) return CT_BUFFER_TOO_SMALL;
  h.seq = e.seq;
  auto* out = static_cast<char*>(bufptr);
  std::memset(out, 0, 44);
  auto put32 = [out](int at, int64_t v) {
    int32_t x = static_cast<int32_t>(v);
    std::memcpy(out + at, &x, 4);
  };
  put32(0, static_cast<int64_t>(size));
  put32(4, e.txn);
  put32(8, e.seq);
  put32(12, e.pos & 0xffffffff);
  put32(16, e.pos >> 32);
  put32(24, e.time);
  std::memcpy(out + 40, &e.type, 2);
  std::memcpy(out + 44, e.image.data(), e.image.size());
  std::memcpy(out + 44 + e.image.size(), who.c_str(), who.size() + 1);
  return {};
}

}  // namespace

int16_t TransactionHistory(int16_t filno, void* target, void* bufptr, int32_t recbyt,
                           int32_t bufsiz, uint16_t mode) {
  VKT_ISAM_CALL();
  (void)target;
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  HistState& h = in.hist[in.hist_set];
  if (mode & ctHISTlog) {
    if (recbyt < 0) return c_.Ret(CT_BAD_PARAMETER);
    in.hist_days = recbyt;
    return c_.Ret({});
  }
  if (mode & ctHISTend) {
    h = HistState{};
    return c_.Ret({});
  }
  if (mode & ctHISTfirst) {
    OpenFile* f = nullptr;
    if (Status s = DataFile(filno, &f); !s.ok()) return c_.Ret(s);
    h = HistState{};
    h.active = true;
    h.file = f;
    h.pos = (mode & ctHISTpos)
                ? ((static_cast<int64_t>(tls_high) << 32) | static_cast<uint32_t>(recbyt))
                : -1;
    return c_.Ret(FillEntry(h, bufptr, bufsiz));
  }
  if (mode & ctHISTnext) {
    if (!h.active) return c_.Ret(CT_NO_CURRENT_RECORD);
    return c_.Ret(FillEntry(h, bufptr, bufsiz));
  }
  return c_.Ret(CT_BAD_PARAMETER);
}

int16_t FreeHistory() {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Instance& in = Cur();
  in.hist[in.hist_set] = HistState{};
  return c_.Ret({});
}

int16_t ChangeHistory(int16_t set) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  if (set < 0 || set >= 8) return c_.Ret(CT_BAD_PARAMETER);
  Cur().hist_set = set;
  return c_.Ret({});
}
