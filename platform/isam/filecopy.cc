// The file copy of a table under new names, possibly into another data
// folder: the server's side of a client's backup or move request.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "isam/ctree.h"
#include "isam/detail/session.h"

using namespace vkt::isam::detail;  // NOLINT: the exported names are global

namespace {

constexpr int kBatch = 500;              // records per transaction
constexpr int16_t kFileExistsSys = 80;   // sysio_cod of "target exists"

struct Saved {
  int16_t isam = isam_err, uerr = uerr_cod, sysio = sysio_cod;
  void Restore() const {
    isam_err = isam;
    uerr_cod = uerr;
    sysio_cod = sysio;
  }
};

int16_t Fail(int16_t status, int16_t sys = 0) {
  isam_err = uerr_cod = status;
  sysio_cod = sys;
  return status;
}

std::vector<char> Writable(const std::string& s) {
  std::vector<char> v(s.begin(), s.end());
  v.push_back('\0');
  return v;
}

bool Slot(const char* slots, int i, std::string* out) {
  const char* p = slots + static_cast<size_t>(i) * kCopyNameSlot;
  const size_t n = strnlen(p, kCopyNameSlot);
  if (n == static_cast<size_t>(kCopyNameSlot)) return false;  // no terminator: cut short
  *out = std::string(p, n);
  return true;
}

std::string BaseName(const std::string& path) {
  const size_t at = path.rfind('/');
  return at == std::string::npos ? path : path.substr(at + 1);
}

std::string Stem(const std::string& name, const char* ext) {
  const size_t n = std::strlen(ext);
  if (name.size() > n && name.compare(name.size() - n, n, ext) == 0) return name.substr(0, name.size() - n);
  return name;
}

void SetError(ctCOPYBLK* b, const std::string& text) {
  if (b->error_text == nullptr || b->error_size <= 0) return;
  std::snprintf(b->error_text, static_cast<size_t>(b->error_size), "%s", text.c_str());
}

struct Described {
  int32_t filno = -1;
  std::vector<char> bytes;
  ifil4 desc{};

  int16_t Open(const std::string& name, int16_t mode) {
    std::vector<char> n = Writable(name);
    filno = OpenFileWithResource(-1, n.data(), mode);
    if (filno < 0) return isam_err != 0 ? isam_err : Fail(CT_FILE_NOT_FOUND);
    const int32_t size = GetIFile(filno, 0, nullptr);
    if (size < static_cast<int32_t>(sizeof(ifil4))) return Fail(CT_READ_ERROR);
    bytes.assign(static_cast<size_t>(size), 0);
    if (GetIFile(filno, size, bytes.data()) != size) return Fail(CT_READ_ERROR);
    std::memcpy(&desc, bytes.data(), sizeof desc);
    desc.dfilno = desc.tfilno = filno;
    return 0;
  }
  void Close() {
    if (filno >= 0) (void)CloseRFile(filno);
    filno = -1;
  }
};

int16_t CopyRecords(const Described& src, int32_t target, bool variable) {
  int in_batch = 0;
  bool open = false;
  std::vector<char> rec(src.desc.dreclen > 0 ? src.desc.dreclen : 1, 0);
  int16_t s = 0, n = 0;
  auto before_add = [&]() -> int16_t {
    if (open && in_batch == kBatch) {
      open = false;
      in_batch = 0;
      if (int16_t c = Commit(0); c != 0) return c;
    }
    if (!open) {
      if (Begin(CT_TRN_LOG) == 0) return uerr_cod != 0 ? uerr_cod : Fail(CT_NO_TRANSACTION);
      open = true;
    }
    return 0;
  };
  if (variable) {
    int32_t len = static_cast<int32_t>(rec.size());
    for (n = FirstVRecord(src.filno, rec.data(), &len); n == 0;
         len = static_cast<int32_t>(rec.size()), n = NextVRecord(src.filno, rec.data(), &len)) {
      std::vector<char> whole(static_cast<size_t>(len > 0 ? len : 1));
      if ((s = before_add()) != 0) break;
      if ((s = ReReadVRecord(src.filno, whole.data(), len)) != 0) break;
      if ((s = AddVRecord(target, whole.data(), len)) != 0) break;
      ++in_batch;
    }
  } else {
    for (n = FirstRecord(src.filno, rec.data()); n == 0; n = NextRecord(src.filno, rec.data())) {
      if ((s = before_add()) != 0) break;
      if ((s = AddRecord(target, rec.data())) != 0) break;
      ++in_batch;
    }
  }
  if (s == 0 && n != CT_NOT_FOUND) s = n;
  if (open) {
    if (s == 0) {
      s = Commit(0);
    } else {
      const Saved failed;
      (void)Abort();
      failed.Restore();
    }
  }
  return s;
}

int16_t Copy(ctCOPYBLK* block) {
  ctCOPYREQ* r = block->request;
  const bool same_name = r->kind == 1;
  const bool overwrite = (r->mode & ctCOPY_OVERWRITE) != 0;
  std::string src_dat, src_alt, dst_dat, dst_alt;
  if (!Slot(r->sources, 0, &src_dat) || !Slot(r->sources, 2, &src_alt) || !Slot(r->targets, 0, &dst_dat) ||
      !Slot(r->targets, 2, &dst_alt) || src_dat.empty() || dst_dat.empty()) {
    SetError(block, "Richiesta di copia non valida");
    return Fail(CT_BAD_PARAMETER);
  }
  if (same_name) {
    const std::string folder = dst_dat;
    dst_dat = folder + "/" + BaseName(src_dat);
    dst_alt = folder + "/" + BaseName(src_alt);
  }
  // A copy onto itself would delete the table it copies.
  std::error_code ec;
  if (std::filesystem::weakly_canonical(src_dat, ec) == std::filesystem::weakly_canonical(dst_dat, ec)) {
    SetError(block, "Il file " + src_dat + " non pu\xF2 essere copiato su se stesso");
    return Fail(CT_BAD_PARAMETER);
  }
  Described src;
  if (int16_t s = src.Open(src_dat, CT_MODE_SHARED | CT_MODE_NOIDCHECK); s != 0) {
    const Saved failed;
    SetError(block, "Impossibile aprire il file " + src_dat);
    src.Close();
    failed.Restore();
    return s;
  }
  {
    Described old;
    const int16_t s = old.Open(dst_dat, CT_MODE_EXCLUSIVE | CT_MODE_NOIDCHECK);
    if (s == 0) {
      if (!overwrite) {
        old.Close();
        src.Close();
        SetError(block, "Il file " + dst_dat + " esiste");
        return Fail(CT_FILE_EXISTS, kFileExistsSys);
      }
      if (int16_t d = DeleteIFile(&old.desc); d != 0) {
        const Saved failed;
        SetError(block, "Impossibile sovrascrivere il file " + dst_dat);
        old.Close();
        src.Close();
        failed.Restore();
        return d;
      }
    } else if (!(isam_err == CT_FILE_NOT_FOUND && sysio_cod == ENOENT)) {
      const Saved failed;
      SetError(block, "Impossibile aprire il file " + dst_dat);
      old.Close();
      src.Close();
      failed.Restore();
      return s;
    }
  }
  // The target's description: the source's, under the target names.
  ifil4 d = src.desc;
  std::vector<char> stem = Writable(Stem(dst_dat, ".dat"));
  d.pfilnam = stem.data();
  d.dfilno = d.tfilno = -1;
  const bool variable = (src.desc.dfilmod & CT_MODE_VLENGTH) != 0;
  d.dfilmod = variable ? CT_MODE_VLENGTH : CT_MODE_EXCLUSIVE;
  d.ifilmod = CT_MODE_EXCLUSIVE;
  std::vector<IIDX> ix(src.desc.ix, src.desc.ix + (src.desc.dnumidx > 0 ? src.desc.dnumidx : 0));
  std::vector<std::vector<char>> alt_names;
  alt_names.reserve(ix.size());
  bool first_alt = true;
  const std::string dst_folder = dst_dat.substr(0, dst_dat.rfind('/') == std::string::npos ? 0 : dst_dat.rfind('/') + 1);
  for (IIDX& x : ix) {
    if (x.aidxnam == nullptr || x.aidxnam[0] == '\0') continue;
    std::string alt;
    if (first_alt && !dst_alt.empty())
      alt = dst_alt;
    else
      alt = same_name ? dst_folder + BaseName(x.aidxnam) : Stem(x.aidxnam, ".idx") + "_old.idx";
    first_alt = false;
    alt_names.push_back(Writable(alt));
    x.aidxnam = alt_names.back().data();
  }
  d.ix = ix.empty() ? nullptr : ix.data();
  int16_t s = CreateIFileXtd(&d, nullptr, nullptr, 0, nullptr, nullptr);
  if (s != 0) {
    const Saved failed;
    SetError(block, "Impossibile creare il file " + dst_dat);
    src.Close();
    failed.Restore();
    return s;
  }
  const int32_t doda_size = GetDODA(src.filno, 0, nullptr, 4);
  if (doda_size > 0) {
    std::vector<char> doda(static_cast<size_t>(doda_size), 0);
    if (GetDODA(src.filno, doda_size, doda.data(), 4) == doda_size) {
      uint16_t fields = 0;
      const size_t max = doda.size() / sizeof(DATOBJ);
      while (fields < max && reinterpret_cast<DATOBJ*>(doda.data())[fields].fsymb != nullptr) ++fields;
      s = PutDODA(d.tfilno, reinterpret_cast<DATOBJ*>(doda.data()), fields);
    }
  }
  if (s == 0) s = CopyRecords(src, d.tfilno, variable);
  if (s != 0) {
    const Saved failed;
    SetError(block, "Copia del file " + src_dat + " non riuscita");
    (void)DeleteIFile(&d);
    src.Close();
    failed.Restore();
    return s;
  }
  s = CloseIFile(&d);
  src.Close();
  return s;
}

}  // namespace

int16_t ctCopyFile(ctCOPYBLK* block) {
  std::lock_guard<std::recursive_mutex> l(SessionMutex());
  if (Status s = NeedInit(); !s.ok()) return Fail(s.code);
  if (block == nullptr || block->request == nullptr) return Fail(CT_BAD_PARAMETER);
  if (block->error_text != nullptr && block->error_size > 0) block->error_text[0] = '\0';
  ctCOPYREQ* r = block->request;
  if (r->sources == nullptr || r->targets == nullptr || (r->kind < 1 || r->kind > 3)) {
    SetError(block, "Richiesta di copia non valida");
    return Fail(CT_BAD_PARAMETER);
  }
  // The copy runs in transactions of its own.
  if (Cur().txn) {
    SetError(block, "Copia non possibile durante una transazione");
    return Fail(CT_TRANSACTION_ACTIVE);
  }
  Instance& in = Cur();
  if (in.client) {
    const ctCOPYLOGON& lg = r->logon;
    const std::string user(lg.user, strnlen(lg.user, sizeof lg.user));
    const std::string word(lg.password, strnlen(lg.password, sizeof lg.password));
    std::string root;
    Status s = Logon(user.c_str(), word.c_str(), in.server.c_str(), &root);
    if (!s.ok()) {
      SetError(block, "Accesso al server negato");
      return Fail(s.code);
    }
  }
  return Copy(block);
}
