#include "isam/detail/schema.h"

#include <algorithm>
#include <cstring>

namespace vkt::isam::detail {
namespace {

constexpr int kMaxSegments = 32;
constexpr int kMaxIndexes = 64;
constexpr int kMaxSuffix = 8;

class Writer {
 public:
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void I64(int64_t v) {
    for (int i = 0; i < 8; ++i) U8(static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i)));
  }
  void Str(std::string_view s) {
    I64(static_cast<int64_t>(s.size()));
    out_.append(s);
  }
  std::string& out() { return out_; }

 private:
  std::string out_;
};

class Reader {
 public:
  explicit Reader(std::string_view in) : in_(in) {}
  bool U8(uint8_t* v) {
    if (pos_ >= in_.size()) return fail();
    *v = static_cast<uint8_t>(in_[pos_++]);
    return true;
  }
  bool I64(int64_t* v) {
    if (in_.size() - pos_ < 8) return fail();
    uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r |= uint64_t{static_cast<uint8_t>(in_[pos_ + i])} << (8 * i);
    pos_ += 8;
    *v = static_cast<int64_t>(r);
    return true;
  }
  template <typename T>
  bool Int(T* v) {
    int64_t x;
    if (!I64(&x)) return false;
    *v = static_cast<T>(x);
    return true;
  }
  bool Str(std::string* s) {
    int64_t n;
    if (!I64(&n) || n < 0 || static_cast<uint64_t>(n) > in_.size() - pos_) return fail();
    s->assign(in_.substr(pos_, static_cast<size_t>(n)));
    pos_ += static_cast<size_t>(n);
    return true;
  }
  bool done() const { return ok_ && pos_ == in_.size(); }

 private:
  bool fail() {
    ok_ = false;
    return false;
  }
  std::string_view in_;
  size_t pos_ = 0;
  bool ok_ = true;
};

constexpr uint32_t kMetaMagic = 0x4d545349;  // "ISTM"

int BaseMode(int16_t mode) { return mode & ~CT_SEG_DESCENDING; }

}  // namespace

int IndexDef::SegBytes() const {
  int n = 0;
  for (const SegDef& s : segs) n += s.length;
  return n;
}

Status DefFromIfil(const ifil4& ifil, TableDef* def) {
  TableDef d;
  if (ifil.dreclen == 0) return CT_BAD_PARAMETER;
  d.reclen = ifil.dreclen;
  d.varlen = (ifil.dfilmod & CT_MODE_VLENGTH) != 0;
  d.dxtdsiz = ifil.dxtdsiz;
  d.ixtdsiz = ifil.ixtdsiz;
  d.dfilmod = ifil.dfilmod;
  d.ifilmod = ifil.ifilmod;
  if (ifil.rfstfld != nullptr) d.first_field = ifil.rfstfld;
  if (ifil.rlstfld != nullptr) d.last_field = ifil.rlstfld;
  if (ifil.dnumidx < 0 || ifil.dnumidx > kMaxIndexes) return CT_BAD_PARAMETER;
  if (ifil.dnumidx > 0 && ifil.ix == nullptr) return CT_BAD_PARAMETER;
  for (int k = 0; k < ifil.dnumidx; ++k) {
    const IIDX& in = ifil.ix[k];
    IndexDef ix;
    if (in.ikeytyp != 0 || in.inumseg <= 0 || in.inumseg > kMaxSegments ||
        in.seg == nullptr || in.ikeylen <= 0)
      return CT_BAD_PARAMETER;
    ix.keylen = in.ikeylen;
    ix.dup = in.ikeydup != 0;
    ix.nullkey = in.inulkey != 0;
    ix.empty = static_cast<uint8_t>(in.iempchr);
    for (int s = 0; s < in.inumseg; ++s) {
      SegDef seg{in.seg[s].soffset, in.seg[s].slength, in.seg[s].segmode};
      int base = BaseMode(seg.mode);
      if (seg.offset < 0 || seg.length <= 0 ||
          static_cast<uint32_t>(seg.offset) + static_cast<uint32_t>(seg.length) > d.reclen)
        return CT_BAD_PARAMETER;
      if ((seg.mode & ~(CT_SEG_DESCENDING | 7)) != 0) return CT_BAD_PARAMETER;
      switch (base) {
        case CT_SEG_BYTES:
        case CT_SEG_UPPER:
          break;
        case CT_SEG_UNSIGNED:
        case CT_SEG_SIGNED:
        case CT_SEG_SERIAL:
          if (seg.length > 8) return CT_BAD_PARAMETER;
          break;
        case CT_SEG_FLOAT:
          if (seg.length != 4 && seg.length != 8) return CT_BAD_PARAMETER;
          break;
        default:
          return CT_BAD_PARAMETER;
      }
      ix.segs.push_back(seg);
    }
    int extra = ix.keylen - ix.SegBytes();
    if (extra < 0) return CT_BAD_PARAMETER;
    if (ix.dup && extra > kMaxSuffix) return CT_BAD_PARAMETER;
    if (in.ridxnam != nullptr) ix.name = in.ridxnam;
    if (in.aidxnam != nullptr) ix.file = in.aidxnam;
    d.indexes.push_back(std::move(ix));
  }
  *def = std::move(d);
  return {};
}

std::vector<std::string> IndexFiles(const TableDef& def) {
  std::vector<std::string> files;
  if (def.indexes.empty()) return files;
  files.push_back("");
  for (const IndexDef& ix : def.indexes)
    if (!ix.file.empty() && std::find(files.begin(), files.end(), ix.file) == files.end())
      files.push_back(ix.file);
  return files;
}

bool SameIndexes(const TableDef& a, const TableDef& b) {
  if (a.indexes.size() != b.indexes.size()) return false;
  for (size_t i = 0; i < a.indexes.size(); ++i) {
    const IndexDef& x = a.indexes[i];
    const IndexDef& y = b.indexes[i];
    if (x.keylen != y.keylen || x.dup != y.dup || x.nullkey != y.nullkey ||
        x.empty != y.empty || x.segs.size() != y.segs.size() || x.file != y.file)
      return false;
    for (size_t s = 0; s < x.segs.size(); ++s)
      if (x.segs[s].offset != y.segs[s].offset || x.segs[s].length != y.segs[s].length ||
          x.segs[s].mode != y.segs[s].mode)
        return false;
  }
  return true;
}

std::string SerializeMeta(const TableMeta& m) {
  Writer w;
  w.I64(kMetaMagic);
  w.Str(m.name);
  w.Str(m.idxext);
  w.I64(m.tid);
  w.I64(m.fileid);
  w.I64(m.generation);
  w.I64(m.serial);
  w.I64(m.stored_mode);
  const TableDef& d = m.def;
  w.I64(d.reclen);
  w.U8(d.varlen);
  w.I64(d.dxtdsiz);
  w.I64(d.ixtdsiz);
  w.I64(d.dfilmod);
  w.I64(d.ifilmod);
  w.Str(d.first_field);
  w.Str(d.last_field);
  w.U8(d.has_xcreate);
  w.Str(std::string_view(reinterpret_cast<const char*>(&d.xcreate), sizeof d.xcreate));
  w.I64(static_cast<int64_t>(d.indexes.size()));
  for (const IndexDef& ix : d.indexes) {
    w.I64(ix.keylen);
    w.U8(ix.dup);
    w.U8(ix.nullkey);
    w.U8(ix.empty);
    w.Str(ix.name);
    w.Str(ix.file);
    w.Str(ix.condition);
    w.I64(static_cast<int64_t>(ix.segs.size()));
    for (const SegDef& s : ix.segs) {
      w.I64(s.offset);
      w.I64(s.length);
      w.I64(s.mode);
    }
  }
  w.Str(m.doda);
  w.I64(static_cast<int64_t>(m.options.size()));
  for (const auto& [flag, value] : m.options) {
    w.I64(flag);
    w.I64(value);
  }
  w.I64(static_cast<int64_t>(m.member_ids.size()));
  for (int64_t id : m.member_ids) w.I64(id);
  return std::move(w.out());
}

bool ParseMeta(std::string_view blob, TableMeta* out) {
  Reader r(blob);
  TableMeta m;
  int64_t magic = 0;
  if (!r.I64(&magic) || magic != kMetaMagic) return false;
  TableDef& d = m.def;
  uint8_t b1 = 0, b2 = 0, b3 = 0;
  std::string xc;
  int64_t n = 0;
  if (!r.Str(&m.name) || !r.Str(&m.idxext) || !r.I64(&m.tid) || !r.I64(&m.fileid) ||
      !r.I64(&m.generation) || !r.I64(&m.serial) || !r.Int(&m.stored_mode) ||
      !r.Int(&d.reclen) || !r.U8(&b1) || !r.Int(&d.dxtdsiz) || !r.Int(&d.ixtdsiz) ||
      !r.Int(&d.dfilmod) || !r.Int(&d.ifilmod) || !r.Str(&d.first_field) ||
      !r.Str(&d.last_field) || !r.U8(&b2) || !r.Str(&xc) || xc.size() != sizeof d.xcreate ||
      !r.I64(&n) || n < 0 || n > kMaxIndexes)
    return false;
  d.varlen = b1 != 0;
  d.has_xcreate = b2 != 0;
  std::memcpy(&d.xcreate, xc.data(), sizeof d.xcreate);
  for (int64_t i = 0; i < n; ++i) {
    IndexDef ix;
    int64_t ns = 0;
    if (!r.Int(&ix.keylen) || !r.U8(&b1) || !r.U8(&b2) || !r.U8(&b3) || !r.Str(&ix.name) ||
        !r.Str(&ix.file) || !r.Str(&ix.condition) || !r.I64(&ns) || ns < 0 || ns > kMaxSegments)
      return false;
    ix.dup = b1 != 0;
    ix.nullkey = b2 != 0;
    ix.empty = b3;
    for (int64_t s = 0; s < ns; ++s) {
      SegDef seg;
      if (!r.Int(&seg.offset) || !r.Int(&seg.length) || !r.Int(&seg.mode)) return false;
      ix.segs.push_back(seg);
    }
    d.indexes.push_back(std::move(ix));
  }
  if (!r.Str(&m.doda) || !r.I64(&n) || n < 0 || n > 4096) return false;
  for (int64_t i = 0; i < n; ++i) {
    int64_t f = 0, v = 0;
    if (!r.I64(&f) || !r.I64(&v)) return false;
    m.options[static_cast<uint32_t>(f)] = static_cast<uint32_t>(v);
  }
  if (!r.I64(&n) || n < 0 || n > kMaxIndexes + 1) return false;
  for (int64_t i = 0; i < n; ++i) {
    int64_t id = 0;
    if (!r.I64(&id)) return false;
    m.member_ids.push_back(id);
  }
  if (!r.done()) return false;
  *out = std::move(m);
  return true;
}

void TransformSegments(const IndexDef& ix, unsigned char* key) {
  unsigned char* p = key;
  for (const SegDef& s : ix.segs) {
    const int n = s.length;
    switch (BaseMode(s.mode)) {
      case CT_SEG_UPPER:
        for (int i = 0; i < n; ++i)
          if (p[i] >= 'a' && p[i] <= 'z') p[i] = static_cast<unsigned char>(p[i] - 'a' + 'A');
        break;
      case CT_SEG_UNSIGNED:
      case CT_SEG_SERIAL:
        std::reverse(p, p + n);
        break;
      case CT_SEG_SIGNED:
        std::reverse(p, p + n);
        p[0] ^= 0x80;
        break;
      case CT_SEG_FLOAT:
        std::reverse(p, p + n);
        if (p[0] & 0x80) {
          for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(~p[i]);
        } else {
          p[0] ^= 0x80;
        }
        break;
      default:
        break;
    }
    if (s.mode & CT_SEG_DESCENDING)
      for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(~p[i]);
    p += n;
  }
}

bool BuildKey(const IndexDef& ix, std::string_view image, int64_t pos, std::string* key) {
  const int seg_bytes = ix.SegBytes();
  key->assign(static_cast<size_t>(ix.keylen), '\0');
  unsigned char* k = reinterpret_cast<unsigned char*>(key->data());
  size_t at = 0;
  bool all_empty = true;
  for (const SegDef& s : ix.segs) {
    for (int i = 0; i < s.length; ++i) {
      size_t src = static_cast<size_t>(s.offset) + static_cast<size_t>(i);
      unsigned char c = src < image.size() ? static_cast<unsigned char>(image[src]) : 0;
      if (c != ix.empty) all_empty = false;
      k[at++] = c;
    }
  }
  if (ix.nullkey && all_empty) return false;
  TransformSegments(ix, k);
  if (ix.dup) {
    const int suffix = ix.keylen - seg_bytes;
    uint64_t p = static_cast<uint64_t>(pos);
    for (int i = suffix - 1; i >= 0; --i) {
      k[seg_bytes + i] = static_cast<unsigned char>(p & 0xff);
      p >>= 8;
    }
  }
  return true;
}

bool HasSerial(const TableDef& def) {
  for (const IndexDef& ix : def.indexes)
    for (const SegDef& s : ix.segs)
      if (BaseMode(s.mode) == CT_SEG_SERIAL) return true;
  return false;
}

void FillSerial(const TableDef& def, int64_t serial, unsigned char* image) {
  for (const IndexDef& ix : def.indexes)
    for (const SegDef& s : ix.segs)
      if (BaseMode(s.mode) == CT_SEG_SERIAL) {
        uint64_t v = static_cast<uint64_t>(serial);
        for (int i = 0; i < s.length; ++i) {
          image[s.offset + i] = static_cast<unsigned char>(v & 0xff);
          v >>= 8;
        }
      }
}

std::string SerializeDoda(const DATOBJ* doda, int count) {
  Writer w;
  w.I64(count);
  for (int i = 0; i < count; ++i) {
    w.Str(doda[i].fsymb != nullptr ? doda[i].fsymb : "");
    w.I64(doda[i].ftype);
    w.I64(doda[i].flen);
    for (uint32_t x : doda[i].fextra) w.I64(x);
  }
  return std::move(w.out());
}

size_t DodaArray(std::string_view stored, void* buf, size_t buflen) {
  Reader r(stored);
  int64_t n = 0;
  if (!r.I64(&n) || n < 0 || n > 100000) return 0;
  struct Item {
    std::string name;
    DATOBJ obj{};
  };
  std::vector<Item> items(static_cast<size_t>(n));
  size_t strings = 0;
  for (Item& it : items) {
    if (!r.Str(&it.name) || !r.Int(&it.obj.ftype) || !r.Int(&it.obj.flen)) return 0;
    for (uint32_t& x : it.obj.fextra)
      if (!r.Int(&x)) return 0;
    strings += it.name.size() + 1;
  }
  const size_t array = (items.size() + 1) * sizeof(DATOBJ);
  const size_t size = array + strings;
  if (buf == nullptr || buflen < size) return size;
  auto* out = static_cast<DATOBJ*>(buf);
  char* text = static_cast<char*>(buf) + array;
  for (size_t i = 0; i < items.size(); ++i) {
    out[i] = items[i].obj;
    std::memcpy(text, items[i].name.c_str(), items[i].name.size() + 1);
    out[i].fsymb = text;
    out[i].fadr = nullptr;
    text += items[i].name.size() + 1;
  }
  out[items.size()] = DATOBJ{};
  return size;
}

size_t DescriptionImage(const TableMeta& meta, const std::string& stem, void* buf,
                        size_t buflen) {
  const TableDef& d = meta.def;
  const size_t nidx = d.indexes.size();
  size_t nseg = 0;
  size_t text = stem.size() + 1 + d.first_field.size() + 1 + d.last_field.size() + 1;
  for (const IndexDef& ix : d.indexes) {
    nseg += ix.segs.size();
    text += ix.name.size() + 1 + ix.file.size() + 1;
  }
  auto align = [](size_t n) { return (n + 7) & ~size_t{7}; };
  const size_t at_ix = align(sizeof(ifil4));
  const size_t at_seg = at_ix + align(nidx * sizeof(IIDX));
  const size_t at_text = at_seg + align(nseg * sizeof(ISEG));
  const size_t size = at_text + text;
  if (buf == nullptr || buflen < size) return size;
  auto* base = static_cast<char*>(buf);
  std::memset(base, 0, size);
  char* t = base + at_text;
  auto put = [&t](const std::string& s) {
    char* p = t;
    std::memcpy(t, s.c_str(), s.size() + 1);
    t += s.size() + 1;
    return p;
  };
  auto* f = reinterpret_cast<ifil4*>(base);
  f->pfilnam = put(stem);
  f->dfilno = -1;
  f->dreclen = static_cast<uint16_t>(d.reclen);
  f->dxtdsiz = d.dxtdsiz;
  f->dfilmod = d.dfilmod;
  f->dnumidx = static_cast<int16_t>(nidx);
  f->ixtdsiz = d.ixtdsiz;
  f->ifilmod = d.ifilmod;
  f->ix = nidx != 0 ? reinterpret_cast<IIDX*>(base + at_ix) : nullptr;
  f->rfstfld = put(d.first_field);
  f->rlstfld = put(d.last_field);
  f->tfilno = -1;
  auto* seg = reinterpret_cast<ISEG*>(base + at_seg);
  for (size_t k = 0; k < nidx; ++k) {
    const IndexDef& ix = d.indexes[k];
    IIDX& o = f->ix[k];
    o.ikeylen = ix.keylen;
    o.ikeydup = ix.dup;
    o.inulkey = ix.nullkey;
    o.iempchr = ix.empty;
    o.inumseg = static_cast<int16_t>(ix.segs.size());
    o.seg = seg;
    for (const SegDef& s : ix.segs) *seg++ = ISEG{s.offset, s.length, s.mode};
    o.ridxnam = put(ix.name);
    o.aidxnam = ix.file.empty() ? (put(ix.file), nullptr) : put(ix.file);
  }
  return size;
}

}  // namespace vkt::isam::detail
