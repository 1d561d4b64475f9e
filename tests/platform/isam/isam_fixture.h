// Shared set-up of the ISAM tests: a fresh folder, a session and a sample
// table "art" of 64-byte records:
//   0  code   10 bytes text   index 1, unique
//   10 name   30 bytes text   index 2, duplicates, without case (+4 suffix)
//   40 qty    int32           index 3, duplicates, signed, descending (+8)
//   44 price  double
#ifndef VKT_TESTS_PLATFORM_ISAM_ISAM_FIXTURE_H_
#define VKT_TESTS_PLATFORM_ISAM_ISAM_FIXTURE_H_

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "isam/ctree.h"
#include "isam/isam_testing.h"

namespace vkt::isam::test {

#pragma pack(push, 1)
struct Art {
  char code[10];
  char name[30];
  int32_t qty;
  double price;
  char pad[12];
};
#pragma pack(pop)
static_assert(sizeof(Art) == 64);

inline Art MakeArt(const std::string& code, const std::string& name, int32_t qty, double price) {
  Art a;
  std::memset(&a, ' ', sizeof a);
  std::memcpy(a.code, code.data(), std::min(code.size(), sizeof a.code));
  std::memcpy(a.name, name.data(), std::min(name.size(), sizeof a.name));
  a.qty = qty;
  a.price = price;
  std::memset(a.pad, 0, sizeof a.pad);
  return a;
}

inline std::string Code(const Art& a) {
  std::string s(a.code, sizeof a.code);
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

inline std::string MakeTempDir(const char* tag) {
  std::string tmpl = (std::filesystem::temp_directory_path() / (std::string("isam_") + tag + "_XXXXXX")).string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  char* d = ::mkdtemp(buf.data());
  return d != nullptr ? std::string(d) : std::string();
}

// A table description that lives as long as the object.
class ArtTable {
 public:
  explicit ArtTable(const std::string& stem, int16_t mode = CT_MODE_SHARED | CT_MODE_PERMANENT,
                    int32_t datno = -1) {
    path_ = stem;
    seg_[0] = {0, 10, CT_SEG_BYTES};
    seg_[1] = {10, 30, CT_SEG_UPPER};
    seg_[2] = {40, 4, CT_SEG_SIGNED | CT_SEG_DESCENDING};
    ix_[0] = IIDX{10, 0, 0, 0, 0, 1, &seg_[0], name1_, nullptr, nullptr, nullptr};
    ix_[1] = IIDX{34, 0, 1, 0, 0, 1, &seg_[1], name2_, nullptr, nullptr, nullptr};
    ix_[2] = IIDX{12, 0, 1, 0, 0, 1, &seg_[2], name3_, nullptr, nullptr, nullptr};
    ifil.pfilnam = path_.data();
    ifil.dfilno = datno;
    ifil.dreclen = sizeof(Art);
    ifil.dxtdsiz = 4096;
    ifil.dfilmod = mode;
    ifil.dnumidx = 3;
    ifil.ixtdsiz = 4096;
    ifil.ifilmod = mode;
    ifil.ix = ix_;
    ifil.rfstfld = first_;
    ifil.rlstfld = last_;
    ifil.tfilno = -1;
  }
  ArtTable(const ArtTable&) = delete;
  ArtTable& operator=(const ArtTable&) = delete;

  int32_t dat() const { return ifil.tfilno; }
  int32_t key(int k) const { return ifil.tfilno + k; }

  ifil4 ifil{};
  ISEG seg_[3];
  IIDX ix_[3];

 private:
  std::string path_;
  char name1_[16] = "ArtCode";
  char name2_[16] = "ArtName";
  char name3_[16] = "ArtQty";
  char first_[8] = "code";
  char last_[8] = "price";
};

class IsamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetIsamForTesting();
    dir_ = MakeTempDir("t");
    ASSERT_FALSE(dir_.empty());
    ASSERT_EQ(InitISAMXtd(15, 64, 16, 15, 1, "tester", "", ""), 0);
  }
  void TearDown() override {
    ResetIsamForTesting();
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  // Creates (or opens) the sample table.
  void CreateArt(ArtTable& t) {
    int16_t s = CreateIFileXtd(&t.ifil, nullptr, nullptr, 31710, nullptr, nullptr);
    ASSERT_EQ(s, 0);
  }
  void AddArts(ArtTable& t, const std::vector<Art>& arts) {
    for (Art a : arts) ASSERT_EQ(AddRecord(t.dat(), &a), 0) << Code(a);
  }

  std::string dir_;
};

}  // namespace vkt::isam::test

#endif  // VKT_TESTS_PLATFORM_ISAM_ISAM_FIXTURE_H_
