// The stored schema and description as the client hands them back: the
// checks that compare them with the host's refuse an answer whose sizes or
// names point outside the bytes it gave, and never read past them. The
// client's two reads are wrapped at link time (see CMakeLists.txt), so a test
// can bend what they answer; by default the answer passes untouched.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "db/db_fixture.h"
#include "db/dbctree.h"
#include "isam/ctree.h"

namespace {

// Given the buffer, its length and the client's true answer, answers the
// size the caller is told.
using Bend = std::function<int32_t(char* buf, int32_t buflen, int32_t size)>;
Bend g_bend_doda;
Bend g_bend_ifile;

}  // namespace

// GetDODA(int32_t, int32_t, void*, int16_t) and GetIFile(int32_t, int32_t,
// void*) by their linker names.
extern "C" int32_t __real__Z7GetDODAiiPvs(int32_t filno, int32_t buflen, void* buf, int16_t mode);
extern "C" int32_t __wrap__Z7GetDODAiiPvs(int32_t filno, int32_t buflen, void* buf, int16_t mode) {
  const int32_t size = __real__Z7GetDODAiiPvs(filno, buflen, buf, mode);
  if (!g_bend_doda || size <= 0 || buf == nullptr) return size;
  return g_bend_doda(static_cast<char*>(buf), buflen, size);
}
extern "C" int32_t __real__Z8GetIFileiiPv(int32_t filno, int32_t buflen, void* buf);
extern "C" int32_t __wrap__Z8GetIFileiiPv(int32_t filno, int32_t buflen, void* buf) {
  const int32_t size = __real__Z8GetIFileiiPv(filno, buflen, buf);
  if (!g_bend_ifile || size <= 0 || buf == nullptr) return size;
  return g_bend_ifile(static_cast<char*>(buf), buflen, size);
}

namespace vkt::db::test {
namespace {

class StoredTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    OpenClienti(t_, table_);
    schema_ = ClientiSchema();
    ASSERT_EQ(table_.DBCheckDoda(schema_.data()), 0);
    ASSERT_EQ(table_.DBCheckIFile(), 0);
  }
  void TearDown() override {
    g_bend_doda = nullptr;
    g_bend_ifile = nullptr;
    DbTest::TearDown();
  }
  // The stored elements as answered, up to the ending null name.
  static std::vector<DATOBJ> Elements(const char* buf) {
    std::vector<DATOBJ> out;
    for (size_t i = 0;; ++i) {
      DATOBJ e;
      std::memcpy(&e, buf + i * sizeof e, sizeof e);
      if (e.fsymb == nullptr) return out;
      out.push_back(e);
    }
  }
  static void SetElement(char* buf, size_t i, const DATOBJ& e) { std::memcpy(buf + i * sizeof e, &e, sizeof e); }

  ClientiTable t_{Path("clienti")};
  Cliente buf_{};
  CDBCtree table_{1, &t_.ifil, &buf_, PutStandard, nullptr, StampCliente, 0};
  std::vector<DATOBJ> schema_;
};

// Texts like the stored names, outside the buffer the client filled.
char g_codice[] = "cli_codice";
char g_last[] = "cli_last_update";

TEST_F(StoredTest, AStoredSchemaWhoseNamesLieOutsideTheBytesReadIsADifference) {
  // The names follow the array: an answer that ends with the array leaves
  // every name outside what was read, though the bytes are still there.
  g_bend_doda = [](char* buf, int32_t, int32_t) {
    return static_cast<int32_t>((Elements(buf).size() + 1) * sizeof(DATOBJ));
  };
  EXPECT_EQ(table_.DBCheckDoda(schema_.data()), 1);
  // One name moved to an equal text elsewhere in memory.
  g_bend_doda = [](char* buf, int32_t, int32_t size) {
    DATOBJ e = Elements(buf)[0];
    e.fsymb = g_codice;
    SetElement(buf, 0, e);
    return size;
  };
  EXPECT_EQ(table_.DBCheckDoda(schema_.data()), 1);
  // The answer cut inside the last name: its end is not among the bytes read.
  g_bend_doda = [](char* buf, int32_t, int32_t) {
    const char* last = Elements(buf).back().fsymb;
    return static_cast<int32_t>(last - buf + 3);
  };
  EXPECT_EQ(table_.DBCheckDoda(schema_.data()), 1);
  // A size beyond the buffer asked for. Over an array that never ends, the
  // elements are read only inside the buffer; a name placed past the buffer
  // but inside the size told is never looked at (the sanitizer build sees
  // any read past the buffer).
  g_bend_doda = [](char* buf, int32_t buflen, int32_t) {
    DATOBJ e = Elements(buf)[0];
    std::memcpy(e.fextra, "cli_codice", 11);  // the name inside the element
    e.fsymb = buf + offsetof(DATOBJ, fextra);
    size_t i = 0;
    for (; (i + 1) * sizeof e <= static_cast<size_t>(buflen); ++i) SetElement(buf, i, e);
    std::memcpy(buf + i * sizeof e, &e.fsymb, sizeof e.fsymb);  // the last one that starts inside
    return buflen + 4096;
  };
  EXPECT_EQ(table_.DBCheckDoda(schema_.data()), 1);
  g_bend_doda = [](char* buf, int32_t buflen, int32_t) {
    DATOBJ e = Elements(buf)[0];
    e.fsymb = buf + buflen + 1;  // just past buf_stampa: buflen keeps its last byte
    SetElement(buf, 0, e);
    return buflen + 4096;
  };
  EXPECT_EQ(table_.DBCheckDoda(schema_.data()), 1);
  // Even an honest array is refused under a size the buffer cannot hold.
  g_bend_doda = [](char*, int32_t buflen, int32_t) { return buflen + 1; };
  EXPECT_EQ(table_.DBCheckDoda(schema_.data()), 1);

  // A refused answer is a schema that differs: the host's is stored again
  // and the honest answer agrees with it afterwards.
  g_bend_doda = [](char* buf, int32_t, int32_t) {
    return static_cast<int32_t>((Elements(buf).size() + 1) * sizeof(DATOBJ));
  };
  int changed = 0;
  EXPECT_EQ(table_.DBPutDoda(schema_.data(), 0, &changed), 0);
  EXPECT_EQ(changed, 1);
  g_bend_doda = nullptr;
  EXPECT_EQ(table_.DBCheckDoda(schema_.data()), 0);
  EXPECT_EQ(table_.DBPutDoda(schema_.data(), 0, &changed), 0);
  EXPECT_EQ(changed, 0);
}

TEST_F(StoredTest, AStoredDescriptionWhoseNamesLieOutsideTheBytesReadIsADifference) {
  auto stored = [](const char* buf) {
    ifil4 f;
    std::memcpy(&f, buf, sizeof f);
    return f;
  };
  // Cut just before the last field's name: the first still lies inside.
  g_bend_ifile = [&](char* buf, int32_t, int32_t) {
    return static_cast<int32_t>(stored(buf).rlstfld - buf);
  };
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  // Cut inside it: no end among the bytes read.
  g_bend_ifile = [&](char* buf, int32_t, int32_t) {
    return static_cast<int32_t>(stored(buf).rlstfld - buf + 4);
  };
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  // Names that point at equal texts outside the buffer.
  g_bend_ifile = [&](char* buf, int32_t, int32_t size) {
    ifil4 f = stored(buf);
    f.rfstfld = g_codice;
    std::memcpy(buf, &f, sizeof f);
    return size;
  };
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  g_bend_ifile = [&](char* buf, int32_t, int32_t size) {
    ifil4 f = stored(buf);
    f.rlstfld = g_last;
    std::memcpy(buf, &f, sizeof f);
    return size;
  };
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  // A size beyond the buffer, with a name past the buffer but inside the
  // size told: never looked at.
  g_bend_ifile = [&](char* buf, int32_t buflen, int32_t) {
    ifil4 f = stored(buf);
    f.rlstfld = buf + buflen + 1;  // just past buf_stampa: buflen keeps its last byte
    std::memcpy(buf, &f, sizeof f);
    return buflen + 4096;
  };
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  g_bend_ifile = [](char*, int32_t buflen, int32_t) { return buflen + 1; };
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  // Shorter than the description itself.
  g_bend_ifile = [](char*, int32_t, int32_t) { return static_cast<int32_t>(sizeof(ifil4) - 1); };
  EXPECT_EQ(table_.DBCheckIFile(), 1);
  g_bend_ifile = nullptr;
  EXPECT_EQ(table_.DBCheckIFile(), 0);
}

}  // namespace
}  // namespace vkt::db::test
