// Records and keys of the ISAM client: add, rewrite, delete, reads by key
// and position, sets, ranges and batches.
#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>

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

constexpr int32_t kMaxVarLen = 64 << 20;

enum class Verdict { kTake, kSkip, kStop };
using Check = std::function<Verdict(const std::string& key)>;

bool Accept(OpenFile* f, const std::string& image) {
  return f->filter == nullptr || f->filter->Match(image);
}

void CopyOut(OpenFile* f, void* rec) {
  const size_t n = f->meta.def.reclen;
  const size_t have = std::min(n, f->cur_image.size());
  std::memcpy(rec, f->cur_image.data(), have);
  if (have < n) std::memset(static_cast<char*>(rec) + have, 0, n - have);
}

// A search found (pos, image): lock it when reads lock (the record may have
// changed or gone before the lock was ours: read it again), make it current
// and copy it out.
Status Deliver(OpenFile* f, int64_t pos, std::string image, void* rec) {
  if (Locking()) {
    VKT_ISAM_RETURN_IF_ERROR(LockForRead(f, pos));
    Status s = f->ts->Read(pos, &image);
    if (s.code == CT_NOT_FOUND) return CT_RECORD_DELETED;
    VKT_ISAM_RETURN_IF_ERROR(s);
  }
  MakeCurrent(f, pos, std::move(image));
  if (rec != nullptr) CopyOut(f, rec);
  return {};
}

bool Forward(Seek how) { return how == Seek::kFirst || how == Seek::kGE || how == Seek::kGT; }

Status StepPhysical(OpenFile* f, Seek how, int64_t from, void* rec) {
  int64_t pos = 0;
  std::string image;
  for (;;) {
    VKT_ISAM_RETURN_IF_ERROR(f->ts->SeekRecord(how, from, &pos, &image));
    if (Accept(f, image)) return Deliver(f, pos, std::move(image), rec);
    from = pos;
    how = Forward(how) ? Seek::kGT : Seek::kLT;
  }
}

Status StepKey(OpenFile* f, int k, Seek how, std::string key, int64_t pos, void* rec,
               const Check& check) {
  KeyEntry e;
  std::string image;
  for (;;) {
    VKT_ISAM_RETURN_IF_ERROR(f->ts->SeekKey(k, how, key, pos, &e, &image));
    Verdict v = check ? check(e.key) : Verdict::kTake;
    if (v == Verdict::kStop) return CT_NOT_FOUND;
    if (v == Verdict::kTake && Accept(f, image)) return Deliver(f, e.pos, std::move(image), rec);
    key = e.key;
    pos = e.pos;
    how = Forward(how) ? Seek::kGT : Seek::kLT;
  }
}

// Continues from the current key (or starts over after ResetRecord).
Status Step(OpenFile* f, int index, bool next, void* rec, const Check& check = nullptr) {
  if (index == 0) {
    if (f->reset) return StepPhysical(f, next ? Seek::kFirst : Seek::kLast, 0, rec);
    if (!f->has_anchor) return CT_NO_CURRENT_RECORD;
    return StepPhysical(f, next ? Seek::kGT : Seek::kLT, f->cur_pos, rec);
  }
  const int k = index - 1;
  if (f->reset) return StepKey(f, k, next ? Seek::kFirst : Seek::kLast, "", 0, rec, check);
  if (!f->has_anchor || static_cast<size_t>(k) >= f->cur_keys.size()) return CT_NO_CURRENT_RECORD;
  return StepKey(f, k, next ? Seek::kGT : Seek::kLT, f->cur_keys[static_cast<size_t>(k)], f->cur_pos,
                 rec, check);
}

std::string KeyArg(const IndexDef& ix, const void* target) {
  return std::string(static_cast<const char*>(target), static_cast<size_t>(ix.keylen));
}

// Keys of every index for `image` at `pos` (false where it has none).
void Keys(OpenFile* f, const std::string& image, int64_t pos, std::vector<std::string>* keys,
          std::vector<bool>* has) {
  const auto& ixs = f->meta.def.indexes;
  keys->assign(ixs.size(), std::string());
  has->assign(ixs.size(), false);
  for (size_t i = 0; i < ixs.size(); ++i) {
    bool h = BuildKey(ixs[i], image, pos, &(*keys)[i]);
    if (h && i < f->conditions.size() && f->conditions[i] != nullptr && !f->conditions[i]->Match(image))
      h = false;
    (*has)[i] = h;
  }
}

// --- Writes -------------------------------------------------------------------

Status AddImage(OpenFile* f, std::string image, void* rec) {
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  if (s.ok() && HasSerial(f->meta.def)) {
    ReloadMeta(f);
    f->meta.serial++;
    FillSerial(f->meta.def, f->meta.serial, reinterpret_cast<unsigned char*>(image.data()));
    s = folder->store->SaveTable(f->meta);
  }
  int64_t pos = 0;
  std::vector<std::string> keys;
  std::vector<bool> has;
  if (s.ok()) s = f->ts->Insert(image, &pos);
  if (s.ok()) {
    Keys(f, image, pos, &keys, &has);
    for (size_t i = 0; i < keys.size() && s.ok(); ++i) {
      if (!has[i]) continue;
      s = f->ts->AddKey(static_cast<int>(i), keys[i], pos);
      if (s.code == CT_DUPLICATE_KEY) {
        // Undo what this add did; the transaction goes on.
        for (size_t j = 0; j < i; ++j)
          if (has[j]) (void)f->ts->RemoveKey(static_cast<int>(j), keys[j], pos);
        (void)f->ts->Erase(pos);
      }
    }
  }
  if (s.ok()) AddHistory(f, pos, ctHIST_NEWIMAGE, image);
  s = FinishWrite(folder, s);
  if (!s.ok()) return s;
  if (rec != nullptr) std::memcpy(rec, image.data(), std::min<size_t>(image.size(), f->meta.def.reclen));
  MakeCurrent(f, pos, std::move(image), std::move(keys), std::move(has));
  return {};
}

Status ChangeImage(OpenFile* f, std::string image) {
  if (!f->has_cur) return CT_NO_CURRENT_RECORD;
  const int64_t pos = f->cur_pos;
  bool temporary = false;
  VKT_ISAM_RETURN_IF_ERROR(LockForWrite(f, pos, &temporary));
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  std::string old;
  if (s.ok()) {
    s = f->ts->Read(pos, &old);
    if (s.code == CT_NOT_FOUND) s = CT_RECORD_DELETED;
  }
  if (s.ok()) {
    std::vector<std::string> ok, nk;
    std::vector<bool> oh, nh;
    Keys(f, old, pos, &ok, &oh);
    Keys(f, image, pos, &nk, &nh);
    size_t done = 0;
    for (; done < ok.size() && s.ok(); ++done) {
      if (oh[done] == nh[done] && ok[done] == nk[done]) continue;
      if (oh[done]) s = f->ts->RemoveKey(static_cast<int>(done), ok[done], pos);
      if (s.ok() && nh[done]) {
        s = f->ts->AddKey(static_cast<int>(done), nk[done], pos);
        if (s.code == CT_DUPLICATE_KEY && oh[done])
          (void)f->ts->AddKey(static_cast<int>(done), ok[done], pos);
      }
    }
    if (s.code == CT_DUPLICATE_KEY) {
      for (size_t j = 0; j + 1 < done; ++j) {
        if (oh[j] == nh[j] && ok[j] == nk[j]) continue;
        if (nh[j]) (void)f->ts->RemoveKey(static_cast<int>(j), nk[j], pos);
        if (oh[j]) (void)f->ts->AddKey(static_cast<int>(j), ok[j], pos);
      }
    }
  }
  if (s.ok()) s = f->ts->Update(pos, image);
  if (s.ok()) {
    AddHistory(f, pos, ctHIST_OLDIMAGE, old);
    AddHistory(f, pos, ctHIST_NEWIMAGE, image);
  }
  s = FinishWrite(folder, s);
  if (temporary) ReleaseTemporary(f, pos);
  if (!s.ok()) return s;
  MakeCurrent(f, pos, std::move(image));
  return {};
}

Status EraseCurrent(OpenFile* f) {
  if (!f->has_cur) return CT_NO_CURRENT_RECORD;
  const int64_t pos = f->cur_pos;
  bool temporary = false;
  VKT_ISAM_RETURN_IF_ERROR(LockForWrite(f, pos, &temporary));
  Folder* folder = f->folder;
  Status s = JoinWrite(folder);
  std::string old;
  if (s.ok()) {
    s = f->ts->Read(pos, &old);
    if (s.code == CT_NOT_FOUND) s = CT_RECORD_DELETED;
  }
  if (s.ok()) {
    std::vector<std::string> keys;
    std::vector<bool> has;
    Keys(f, old, pos, &keys, &has);
    for (size_t i = 0; i < keys.size() && s.ok(); ++i)
      if (has[i]) s = f->ts->RemoveKey(static_cast<int>(i), keys[i], pos);
  }
  if (s.ok()) s = f->ts->Erase(pos);
  if (s.ok()) AddHistory(f, pos, ctHIST_DELETE, old);
  s = FinishWrite(folder, s);
  if (temporary) ReleaseTemporary(f, pos);
  if (!s.ok()) return s;
  f->has_cur = false;  // the anchor stays: Next/Previous go on from here
  f->cur_image.clear();
  return {};
}

Status FixedImage(OpenFile* f, const void* rec, std::string* image) {
  if (rec == nullptr) return CT_BAD_PARAMETER;
  image->assign(static_cast<const char*>(rec), f->meta.def.reclen);
  return {};
}

Status VarImage(OpenFile* f, const void* rec, int32_t varlen, std::string* image) {
  if (rec == nullptr || varlen < 0 || varlen > kMaxVarLen) return CT_BAD_PARAMETER;
  const uint32_t reclen = f->meta.def.reclen;
  if (!f->meta.def.varlen) {
    if (static_cast<uint32_t>(varlen) != reclen) return CT_BAD_PARAMETER;
  } else if (static_cast<uint32_t>(varlen) < reclen) {
    return CT_BAD_PARAMETER;  // shorter than the fixed part the keys live in
  }
  image->assign(static_cast<const char*>(rec), static_cast<size_t>(varlen));
  return {};
}

}  // namespace

// --- Exported record calls ------------------------------------------------------

int16_t AddRecord(int32_t datno, void* recptr) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  std::string image;
  if (Status s = FixedImage(f, recptr, &image); !s.ok()) return c_.Ret(s);
  return c_.Ret(AddImage(f, std::move(image), recptr));
}

int16_t AddVRecord(int32_t datno, void* recptr, int32_t varlen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  std::string image;
  if (Status s = VarImage(f, recptr, varlen, &image); !s.ok()) return c_.Ret(s);
  return c_.Ret(AddImage(f, std::move(image), recptr));
}

int16_t ReWriteRecord(int32_t datno, void* recptr) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  std::string image;
  if (Status s = FixedImage(f, recptr, &image); !s.ok()) return c_.Ret(s);
  // A variable-length record keeps the part beyond the fixed one.
  if (f->meta.def.varlen && f->has_cur && f->cur_image.size() > image.size())
    image.append(f->cur_image, image.size(), std::string::npos);
  return c_.Ret(ChangeImage(f, std::move(image)));
}

int16_t ReWriteVRecord(int32_t datno, void* recptr, int32_t varlen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  std::string image;
  if (Status s = VarImage(f, recptr, varlen, &image); !s.ok()) return c_.Ret(s);
  return c_.Ret(ChangeImage(f, std::move(image)));
}

int16_t ReWritePartialRecord(int32_t datno, void* recptr, int32_t varlen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  if (recptr == nullptr || varlen <= 0 || varlen > kMaxVarLen) return c_.Ret(CT_BAD_PARAMETER);
  if (!f->has_cur) return c_.Ret(CT_NO_CURRENT_RECORD);
  if (!f->meta.def.varlen && static_cast<uint32_t>(varlen) > f->meta.def.reclen)
    return c_.Ret(CT_BAD_PARAMETER);
  std::string stored;
  Status r = f->ts->Read(f->cur_pos, &stored);
  if (r.code == CT_NOT_FOUND) return c_.Ret(CT_RECORD_DELETED);
  if (!r.ok()) return c_.Ret(r);
  std::string image(static_cast<const char*>(recptr), static_cast<size_t>(varlen));
  if (stored.size() > image.size()) image.append(stored, image.size(), std::string::npos);
  return c_.Ret(ChangeImage(f, std::move(image)));
}

int16_t DeleteRecord(int32_t datno) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  return c_.Ret(EraseCurrent(f));
}

int16_t DeleteVRecord(int32_t datno) { return DeleteRecord(datno); }

int16_t ReReadRecord(int32_t datno, void* recptr) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  if (recptr == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  if (!f->has_cur) return c_.Ret(CT_NO_CURRENT_RECORD);
  std::string image;
  Status s = f->ts->Read(f->cur_pos, &image);
  if (s.code == CT_NOT_FOUND) return c_.Ret(CT_RECORD_DELETED);
  if (!s.ok()) return c_.Ret(s);
  return c_.Ret(Deliver(f, f->cur_pos, std::move(image), recptr));
}

int16_t ReReadVRecord(int32_t datno, void* recptr, int32_t varlen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  if (recptr == nullptr || varlen < 0) return c_.Ret(CT_BAD_PARAMETER);
  if (!f->has_cur) return c_.Ret(CT_NO_CURRENT_RECORD);
  std::string image;
  Status s = f->ts->Read(f->cur_pos, &image);
  if (s.code == CT_NOT_FOUND) return c_.Ret(CT_RECORD_DELETED);
  if (!s.ok()) return c_.Ret(s);
  if (image.size() > static_cast<size_t>(varlen)) return c_.Ret(CT_BUFFER_TOO_SMALL);
  if (Status d = Deliver(f, f->cur_pos, std::move(image), nullptr); !d.ok()) return c_.Ret(d);
  std::memcpy(recptr, f->cur_image.data(), f->cur_image.size());
  return c_.Ret({});
}

int32_t VRecordLength(int32_t datno) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Val(s, 0);
  if (!f->has_cur) return c_.Val(CT_NO_CURRENT_RECORD, 0);
  std::string image;
  Status s = f->ts->Read(f->cur_pos, &image);
  if (s.code == CT_NOT_FOUND) return c_.Val(CT_RECORD_DELETED, 0);
  if (!s.ok()) return c_.Val(s, 0);
  return c_.Val({}, static_cast<int32_t>(image.size()));
}

namespace {

int16_t Navigate(Call& c, int32_t filno, void* recptr, bool first_last, bool forward) {
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = SlotOf(filno, &f, &index); !s.ok()) return c.Ret(s);
  if (f->kind == FileKind::kIndexFile) return c.Ret(CT_WRONG_FILE_KIND);
  if (recptr == nullptr) return c.Ret(CT_BAD_PARAMETER);
  if (first_last) {
    if (index == 0) return c.Ret(StepPhysical(f, forward ? Seek::kFirst : Seek::kLast, 0, recptr));
    return c.Ret(StepKey(f, index - 1, forward ? Seek::kFirst : Seek::kLast, "", 0, recptr, nullptr));
  }
  return c.Ret(Step(f, index, forward, recptr));
}

int16_t NavigateV(Call& c, int32_t filno, void* recptr, int32_t* plen, bool first) {
  if (plen == nullptr || *plen < 0 || recptr == nullptr) return c.Ret(CT_BAD_PARAMETER);
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = SlotOf(filno, &f, &index); !s.ok()) return c.Ret(s);
  if (f->kind == FileKind::kIndexFile) return c.Ret(CT_WRONG_FILE_KIND);
  Status s = first ? (index == 0 ? StepPhysical(f, Seek::kFirst, 0, nullptr)
                                 : StepKey(f, index - 1, Seek::kFirst, "", 0, nullptr, nullptr))
                   : Step(f, index, true, nullptr);
  if (!s.ok()) return c.Ret(s);
  // Only what fits is copied; *plen tells the whole length, so a caller
  // can re-read the record into a buffer of that size.
  const size_t n = std::min(f->cur_image.size(), static_cast<size_t>(*plen));
  std::memcpy(recptr, f->cur_image.data(), n);
  *plen = static_cast<int32_t>(f->cur_image.size());
  return c.Ret({});
}

}  // namespace

int16_t FirstRecord(int32_t filno, void* recptr) {
  VKT_ISAM_CALL();
  return Navigate(c_, filno, recptr, true, true);
}
int16_t LastRecord(int32_t filno, void* recptr) {
  VKT_ISAM_CALL();
  return Navigate(c_, filno, recptr, true, false);
}
int16_t NextRecord(int32_t filno, void* recptr) {
  VKT_ISAM_CALL();
  return Navigate(c_, filno, recptr, false, true);
}
int16_t PreviousRecord(int32_t filno, void* recptr) {
  VKT_ISAM_CALL();
  return Navigate(c_, filno, recptr, false, false);
}
int16_t FirstVRecord(int32_t filno, void* recptr, int32_t* plen) {
  VKT_ISAM_CALL();
  return NavigateV(c_, filno, recptr, plen, true);
}
int16_t NextVRecord(int32_t filno, void* recptr, int32_t* plen) {
  VKT_ISAM_CALL();
  return NavigateV(c_, filno, recptr, plen, false);
}

int16_t SetRecord(int32_t datno, int32_t pos, void* recptr, int32_t datlen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  const int64_t p = (static_cast<int64_t>(tls_high) << 32) | static_cast<uint32_t>(pos);
  if (p <= 0) return c_.Ret(CT_BAD_PARAMETER);
  std::string image;
  if (recptr != nullptr) {
    if (datlen < 0 || datlen > kMaxVarLen) return c_.Ret(CT_BAD_PARAMETER);
    image.assign(static_cast<const char*>(recptr), static_cast<size_t>(datlen));
  } else {
    Status s = f->ts->Read(p, &image);
    if (s.code == CT_NOT_FOUND) return c_.Ret(CT_RECORD_DELETED);
    if (!s.ok()) return c_.Ret(s);
  }
  MakeCurrent(f, p, std::move(image));
  return c_.Ret({});
}

int16_t ResetRecord(int32_t datno, int16_t mode) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Ret(s);
  if (mode != 0) return c_.Ret(CT_BAD_PARAMETER);
  f->has_cur = f->has_anchor = false;
  f->reset = true;
  return c_.Ret({});
}

int32_t CurrentFileOffset(int32_t datno) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Val(s, 0);
  if (!f->has_cur) return c_.Val(CT_NO_CURRENT_RECORD, 0);
  tls_high = static_cast<int32_t>(f->cur_pos >> 32);
  return c_.Val({}, static_cast<int32_t>(f->cur_pos & 0xffffffff));
}

int32_t NbrOfRecords(int32_t datno) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  if (Status s = DataFile(datno, &f); !s.ok()) return c_.Val(s, 0);
  int64_t n = 0;
  if (Status s = f->ts->CountRecords(&n); !s.ok()) return c_.Val(s, 0);
  return c_.Val({}, static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
}

int32_t NbrOfKeyEntries(int32_t keyno) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Val(s, 0);
  int64_t n = 0;
  if (Status s = f->ts->CountAllKeys(index - 1, &n); !s.ok()) return c_.Val(s, 0);
  return c_.Val({}, static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
}

// --- Keys -------------------------------------------------------------------------

char* TransformKey(int32_t keyno, void* target) {
  VKT_ISAM_CALL_V(static_cast<char*>(nullptr));
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Val(s, static_cast<char*>(nullptr));
  if (target == nullptr) return c_.Val(CT_BAD_PARAMETER, static_cast<char*>(nullptr));
  TransformSegments(f->meta.def.indexes[static_cast<size_t>(index - 1)],
                    static_cast<unsigned char*>(target));
  return c_.Val({}, static_cast<char*>(target));
}

namespace {

int16_t Keyed(Call& c, int32_t keyno, void* target, void* recptr, Seek how, bool equal) {
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c.Ret(s);
  if (target == nullptr || recptr == nullptr) return c.Ret(CT_BAD_PARAMETER);
  const IndexDef& ix = f->meta.def.indexes[static_cast<size_t>(index - 1)];
  std::string key = KeyArg(ix, target);
  const int64_t pos = (how == Seek::kGT || how == Seek::kLE) ? INT64_MAX : 0;
  Check check;
  if (equal) {
    const size_t n = ix.dup ? static_cast<size_t>(ix.SegBytes()) : key.size();
    check = [key, n](const std::string& k) {
      return k.compare(0, n, key, 0, n) == 0 ? Verdict::kTake : Verdict::kStop;
    };
  }
  return c.Ret(StepKey(f, index - 1, how, key, pos, recptr, check));
}

}  // namespace

int16_t GetRecord(int32_t keyno, void* target, void* recptr) {
  VKT_ISAM_CALL();
  return Keyed(c_, keyno, target, recptr, Seek::kGE, true);
}
int16_t GetGTERecord(int32_t keyno, void* target, void* recptr) {
  VKT_ISAM_CALL();
  return Keyed(c_, keyno, target, recptr, Seek::kGE, false);
}
int16_t GetGTRecord(int32_t keyno, void* target, void* recptr) {
  VKT_ISAM_CALL();
  return Keyed(c_, keyno, target, recptr, Seek::kGT, false);
}
int16_t GetLTERecord(int32_t keyno, void* target, void* recptr) {
  VKT_ISAM_CALL();
  return Keyed(c_, keyno, target, recptr, Seek::kLE, false);
}
int16_t GetLTRecord(int32_t keyno, void* target, void* recptr) {
  VKT_ISAM_CALL();
  return Keyed(c_, keyno, target, recptr, Seek::kLT, false);
}

// --- Sets ---------------------------------------------------------------------------

namespace {

Check PrefixCheck(const std::string& prefix) {
  return [prefix](const std::string& k) {
    return k.compare(0, prefix.size(), prefix) == 0 ? Verdict::kTake : Verdict::kStop;
  };
}

int16_t SetStart(Call& c, int32_t keyno, void* target, void* recptr, int16_t siglen, bool first) {
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c.Ret(s);
  if (target == nullptr || recptr == nullptr) return c.Ret(CT_BAD_PARAMETER);
  const IndexDef& ix = f->meta.def.indexes[static_cast<size_t>(index - 1)];
  if (siglen <= 0 || siglen > ix.keylen) return c.Ret(CT_BAD_PARAMETER);
  std::string prefix(static_cast<const char*>(target), static_cast<size_t>(siglen));
  Instance& in = Cur();
  in.sets[in.cur_set] = SetState{keyno, prefix};
  std::string key = prefix;
  if (!first) key.append(static_cast<size_t>(ix.keylen - siglen), '\xff');
  return c.Ret(StepKey(f, index - 1, first ? Seek::kGE : Seek::kLE, key, first ? 0 : INT64_MAX,
                       recptr, PrefixCheck(prefix)));
}

int16_t SetStep(Call& c, int32_t keyno, void* recptr, bool next) {
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c.Ret(s);
  if (recptr == nullptr) return c.Ret(CT_BAD_PARAMETER);
  Instance& in = Cur();
  const SetState& set = in.sets[in.cur_set];
  if (set.keyno != keyno) return c.Ret(CT_NO_CURRENT_RECORD);
  if (f->reset || !f->has_anchor) return c.Ret(CT_NO_CURRENT_RECORD);
  return c.Ret(Step(f, index, next, recptr, PrefixCheck(set.prefix)));
}

}  // namespace

int16_t FirstInSet(int32_t keyno, void* target, void* recptr, int16_t siglen) {
  VKT_ISAM_CALL();
  return SetStart(c_, keyno, target, recptr, siglen, true);
}
int16_t LastInSet(int32_t keyno, void* target, void* recptr, int16_t siglen) {
  VKT_ISAM_CALL();
  return SetStart(c_, keyno, target, recptr, siglen, false);
}
int16_t NextInSet(int32_t keyno, void* recptr) {
  VKT_ISAM_CALL();
  return SetStep(c_, keyno, recptr, true);
}
int16_t PreviousInSet(int32_t keyno, void* recptr) {
  VKT_ISAM_CALL();
  return SetStep(c_, keyno, recptr, false);
}
int16_t FreeSet() {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  Cur().sets[Cur().cur_set] = SetState{};
  return c_.Ret({});
}
int16_t FreeSetNbr(int16_t set) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  if (set < 0 || set >= 16) return c_.Ret(CT_BAD_PARAMETER);
  Cur().sets[set] = SetState{};
  return c_.Ret({});
}

// --- Ranges -------------------------------------------------------------------------

namespace {

bool SegMatch(const RangeState::Seg& s, const std::string& key, const std::string& lo,
              const std::string& hi) {
  int a = std::memcmp(key.data() + s.offset, lo.data() + s.offset, static_cast<size_t>(s.length));
  int b = hi.empty() ? 0 : std::memcmp(key.data() + s.offset, hi.data() + s.offset, static_cast<size_t>(s.length));
  switch (s.op) {
    case CTIX_EQ: return a == 0;
    case CTIX_NE: return a != 0;
    case CTIX_GT: return a > 0;
    case CTIX_GE: return a >= 0;
    case CTIX_LT: return a < 0;
    case CTIX_LE: return a <= 0;
    case CTIX_BET: return a >= 0 && b <= 0;
    case CTIX_BET_IE: return a >= 0 && b < 0;
    case CTIX_BET_EI: return a > 0 && b <= 0;
    case CTIX_BET_EE: return a > 0 && b < 0;
    case CTIX_NOTBET: return a < 0 || b > 0;
    default: return false;
  }
}

Check RangeCheck(const RangeState& r, bool forward) {
  return [r, forward](const std::string& k) {
    bool all = true;
    for (const auto& s : r.segs) all = all && SegMatch(s, k, r.lo, r.hi);
    if (all) return Verdict::kTake;
    // The first segment orders the walk: once past its bound nothing more can match.
    const auto& s0 = r.segs[0];
    int a = std::memcmp(k.data() + s0.offset, r.lo.data() + s0.offset, static_cast<size_t>(s0.length));
    int b = r.hi.empty() ? 0 : std::memcmp(k.data() + s0.offset, r.hi.data() + s0.offset, static_cast<size_t>(s0.length));
    if (forward) {
      if ((s0.op == CTIX_EQ || s0.op == CTIX_LE) && a > 0) return Verdict::kStop;
      if (s0.op == CTIX_LT && a >= 0) return Verdict::kStop;
      if ((s0.op == CTIX_BET || s0.op == CTIX_BET_EI) && b > 0) return Verdict::kStop;
      if ((s0.op == CTIX_BET_IE || s0.op == CTIX_BET_EE) && b >= 0) return Verdict::kStop;
    } else {
      if ((s0.op == CTIX_EQ || s0.op == CTIX_GE || s0.op == CTIX_BET || s0.op == CTIX_BET_IE) && a < 0)
        return Verdict::kStop;
      if ((s0.op == CTIX_GT || s0.op == CTIX_BET_EI || s0.op == CTIX_BET_EE) && a <= 0) return Verdict::kStop;
    }
    return Verdict::kSkip;
  };
}

int16_t RangeWalk(Call& c, int32_t keyno, void* recptr, bool start, bool forward) {
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c.Ret(s);
  if (recptr == nullptr) return c.Ret(CT_BAD_PARAMETER);
  Instance& in = Cur();
  auto it = in.ranges.find(keyno);
  if (it == in.ranges.end()) return c.Ret(CT_NO_CURRENT_RECORD);
  const RangeState& r = it->second;
  Check check = RangeCheck(r, forward);
  if (!start) {
    if (f->reset || !f->has_anchor) return c.Ret(CT_NO_CURRENT_RECORD);
    return c.Ret(Step(f, index, forward, recptr, check));
  }
  const auto& s0 = r.segs[0];
  std::string from(r.lo.size(), forward ? '\0' : '\xff');
  Seek how = forward ? Seek::kFirst : Seek::kLast;
  const std::string& bound = forward ? r.lo : (r.hi.empty() ? r.lo : r.hi);
  const bool bounded = forward ? (s0.op != CTIX_NE && s0.op != CTIX_LT && s0.op != CTIX_LE &&
                                  s0.op != CTIX_NOTBET)
                               : (s0.op != CTIX_NE && s0.op != CTIX_GT && s0.op != CTIX_GE &&
                                  s0.op != CTIX_NOTBET);
  if (bounded && s0.offset == 0) {
    from.replace(0, static_cast<size_t>(s0.length), bound, 0, static_cast<size_t>(s0.length));
    how = forward ? Seek::kGE : Seek::kLE;
  }
  return c.Ret(StepKey(f, index - 1, how, from, forward ? 0 : INT64_MAX, recptr, check));
}

}  // namespace

int16_t AllocateRange(int32_t keyno, int16_t segcount, void* lrange, void* urange, int* operators) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Ret(s);
  const IndexDef& ix = f->meta.def.indexes[static_cast<size_t>(index - 1)];
  if (segcount <= 0 || static_cast<size_t>(segcount) > ix.segs.size() || lrange == nullptr ||
      operators == nullptr)
    return c_.Ret(CT_BAD_PARAMETER);
  RangeState r;
  r.lo.assign(static_cast<const char*>(lrange), static_cast<size_t>(ix.keylen));
  int offset = 0;
  bool two_sided = false;
  for (int i = 0; i < segcount; ++i) {
    int op = operators[i];
    if (op < CTIX_EQ || op > CTIX_NOTBET) return c_.Ret(CT_BAD_PARAMETER);
    if (op >= CTIX_BET) two_sided = true;
    r.segs.push_back({offset, ix.segs[static_cast<size_t>(i)].length, op});
    offset += ix.segs[static_cast<size_t>(i)].length;
  }
  if (two_sided) {
    if (urange == nullptr) return c_.Ret(CT_BAD_PARAMETER);
    r.hi.assign(static_cast<const char*>(urange), static_cast<size_t>(ix.keylen));
  }
  Cur().ranges[keyno] = std::move(r);
  return c_.Ret({});
}

int16_t FreeRange(int32_t keyno) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Ret(s);
  if (Cur().ranges.erase(keyno) == 0) return c_.Ret(CT_NO_CURRENT_RECORD);
  return c_.Ret({});
}

int16_t FirstInRange(int32_t keyno, void* recptr) {
  VKT_ISAM_CALL();
  return RangeWalk(c_, keyno, recptr, true, true);
}
int16_t LastInRange(int32_t keyno, void* recptr) {
  VKT_ISAM_CALL();
  return RangeWalk(c_, keyno, recptr, true, false);
}
int16_t NextInRange(int32_t keyno, void* recptr) {
  VKT_ISAM_CALL();
  return RangeWalk(c_, keyno, recptr, false, true);
}
int16_t PreviousInRange(int32_t keyno, void* recptr) {
  VKT_ISAM_CALL();
  return RangeWalk(c_, keyno, recptr, false, false);
}

int32_t NbrOfKeysInRange(int32_t keyno, void* key1, void* key2) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Val(s, 0);
  if (key1 == nullptr || key2 == nullptr) return c_.Val(CT_BAD_PARAMETER, 0);
  const IndexDef& ix = f->meta.def.indexes[static_cast<size_t>(index - 1)];
  int64_t n = 0;
  if (Status s = f->ts->CountKeys(index - 1, KeyArg(ix, key1), KeyArg(ix, key2), &n); !s.ok())
    return c_.Val(s, 0);
  return c_.Val({}, static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX)));
}

int16_t CurrentISAMKey(int32_t keyno, void* idxval, int32_t* plen) {
  VKT_ISAM_CALL();
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Ret(s);
  if (idxval == nullptr || plen == nullptr || *plen < 0) return c_.Ret(CT_BAD_PARAMETER);
  if (!f->has_anchor || f->reset) return c_.Ret(CT_NO_CURRENT_RECORD);
  const std::string& key = f->cur_keys[static_cast<size_t>(index - 1)];
  if (static_cast<size_t>(*plen) < key.size()) {
    *plen = static_cast<int32_t>(key.size());
    return c_.Ret(CT_BUFFER_TOO_SMALL);
  }
  std::memcpy(idxval, key.data(), key.size());
  *plen = static_cast<int32_t>(key.size());
  return c_.Ret({});
}

namespace {

int32_t KeyEnd(Call& c, int32_t keyno, void* idxval, bool first) {
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c.Val(s, 0);
  if (idxval == nullptr) return c.Val(CT_BAD_PARAMETER, 0);
  KeyEntry e;
  if (Status s = f->ts->SeekKey(index - 1, first ? Seek::kFirst : Seek::kLast, "", 0, &e, nullptr);
      !s.ok())
    return c.Val(s, 0);
  std::memcpy(idxval, e.key.data(), e.key.size());
  tls_high = static_cast<int32_t>(e.pos >> 32);
  return c.Val({}, static_cast<int32_t>(e.pos & 0xffffffff));
}

}  // namespace

int32_t FirstKey(int32_t keyno, void* idxval) {
  VKT_ISAM_CALL_V(0);
  return KeyEnd(c_, keyno, idxval, true);
}

int32_t LastKey(int32_t keyno, void* idxval) {
  VKT_ISAM_CALL_V(0);
  return KeyEnd(c_, keyno, idxval, false);
}

int32_t KeyAtDistance(int32_t keyno, void* from, int32_t count, void* idxval) {
  VKT_ISAM_CALL_V(0);
  OpenFile* f = nullptr;
  int index = 0;
  if (Status s = KeyFile(keyno, &f, &index); !s.ok()) return c_.Val(s, 0);
  if (from == nullptr || idxval == nullptr) return c_.Val(CT_BAD_PARAMETER, 0);
  const IndexDef& ix = f->meta.def.indexes[static_cast<size_t>(index - 1)];
  KeyEntry e;
  if (Status s = f->ts->SeekKey(index - 1, Seek::kGE, KeyArg(ix, from), 0, &e, nullptr); !s.ok())
    return c_.Val(s, 0);
  const Seek how = count >= 0 ? Seek::kGT : Seek::kLT;
  for (int64_t n = count >= 0 ? count : -static_cast<int64_t>(count); n > 0; --n) {
    KeyEntry next;
    if (Status s = f->ts->SeekKey(index - 1, how, e.key, e.pos, &next, nullptr); !s.ok())
      return c_.Val(s, 0);
    e = std::move(next);
  }
  std::memcpy(idxval, e.key.data(), e.key.size());
  tls_high = static_cast<int32_t>(e.pos >> 32);
  return c_.Val({}, static_cast<int32_t>(e.pos & 0xffffffff));
}

// --- Batches ---------------------------------------------------------------------------

int16_t DoBatch(int32_t filno, void* request, void* bufptr, int32_t bufsiz, uint16_t mode) {
  VKT_ISAM_CALL();
  if (Status s = NeedInit(); !s.ok()) return c_.Ret(s);
  if (request == nullptr) return c_.Ret(CT_BAD_PARAMETER);
  auto* req = static_cast<unsigned char*>(request);
  auto put32 = [req](int at, int32_t v) { std::memcpy(req + at, &v, 4); };
  Instance& in = Cur();
  BatchState& b = in.batch;
  if (mode == BAT_CAN) {
    b = BatchState{};
    return c_.Ret({});
  }
  if (mode & BAT_GET) {
    OpenFile* f = nullptr;
    int index = 0;
    if (Status s = KeyFile(filno, &f, &index); !s.ok()) return c_.Ret(s);
    int16_t siglen = 0;
    std::memcpy(&siglen, req + 12, 2);
    const IndexDef& ix = f->meta.def.indexes[static_cast<size_t>(index - 1)];
    if (siglen < 0 || siglen > ix.keylen) return c_.Ret(CT_BAD_PARAMETER);
    std::string prefix(reinterpret_cast<const char*>(req + 14), static_cast<size_t>(siglen));
    b = BatchState{};
    b.file = f;
    b.rpos = (mode & BAT_RPOS) != 0;
    KeyEntry e;
    std::string image;
    Status s = f->ts->SeekKey(index - 1, Seek::kGE, prefix, 0, &e, &image);
    while (s.ok() && e.key.compare(0, prefix.size(), prefix) == 0) {
      if (Accept(f, image)) b.positions.push_back(e.pos);
      s = f->ts->SeekKey(index - 1, Seek::kGT, e.key, e.pos, &e, &image);
    }
    if (!s.ok() && s.code != CT_NOT_FOUND) return c_.Ret(s);
    b.active = true;
    put32(0, static_cast<int32_t>(b.positions.size()));
  } else if (mode != BAT_NXT) {
    return c_.Ret(CT_BAD_PARAMETER);
  }
  if (!b.active) return c_.Ret(CT_NO_CURRENT_RECORD);
  if (bufptr == nullptr || bufsiz < 0) return c_.Ret(CT_BAD_PARAMETER);
  auto* out = static_cast<char*>(bufptr);
  std::memset(out, 0, static_cast<size_t>(bufsiz));
  const size_t each = b.file->meta.def.reclen + (b.rpos ? 8 : 0);
  size_t used = 0;
  int32_t returned = 0;
  while (b.next < b.positions.size() && used + each <= static_cast<size_t>(bufsiz)) {
    const int64_t pos = b.positions[b.next];
    std::string image;
    Status s = b.file->ts->Read(pos, &image);
    ++b.next;
    if (s.code == CT_NOT_FOUND) continue;
    if (!s.ok()) return c_.Ret(s);
    if (b.rpos) {
      std::memcpy(out + used, &pos, 8);
      used += 8;
    }
    std::memcpy(out + used, image.data(), std::min<size_t>(image.size(), b.file->meta.def.reclen));
    used += b.file->meta.def.reclen;
    ++returned;
  }
  put32(4, static_cast<int32_t>(b.positions.size() - b.next));
  put32(8, returned);
  if (returned == 0) return c_.Ret(CT_NOT_FOUND);
  return c_.Ret({});
}
