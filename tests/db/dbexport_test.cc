// The exports of a table: the binary dump and its import, the CSV file and
// the JSON files of the records changed within a window.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/julian.h"
#include "db/dbexport_fixture.h"
#include "engine/csv.h"
#include "engine/json.h"
#include "isam/isam_testing.h"
#include "test_util.h"

namespace vkt::db::test {
namespace {

namespace fs = std::filesystem;

class ExportTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    InitSession();
    // The program folder keeps its case; only the file name is upper-cased.
    prog_ = dir_ + "/Prog";
    fs::create_directories(prog_ + "/out");
    std::snprintf(par_.path, sizeof par_.path, "%s", prog_.c_str());
    ASSERT_EQ(table_.DBOpen(1), 0);
    schema_ = MovSchema();
    int changed = 0;
    ASSERT_EQ(table_.DBPutDoda(schema_.data(), 0, &changed), 0);
    OpenLog();
  }

  std::string Out(const std::string& name) const { return prog_ + "/out/" + name; }

  // Records 1..n stamped one day apart from day 45000 on, added in reverse
  // order so that the physical order is not the last-update order.
  void Fill(int n) {
    std::vector<Mov> list;
    for (int i = n; i >= 1; --i) list.push_back(MakeMov(i, 45000.0 + i));
    table_.DBSetLockStamp(1);
    ASSERT_EQ(AddMovs(table_, list), 0);
    table_.DBSetLockStamp(0);
  }

  CkJsonObject LoadJson(const std::string& path) {
    CkJsonObject j;
    EXPECT_TRUE(j.Load(ReadFile(path))) << path << ": " << j.LastErrorText();
    return j;
  }

  std::string prog_;
  MovTable t_{dir_ + "/mov"};
  Mov buf_{};
  CDBCtree table_{7, &t_.ifil, &buf_, PutStandard, nullptr, StampMov, 0};
  std::vector<DATOBJ> schema_;
  char json_[5] = "json";
  char csv_[4] = "csv";
  char desc_[40] = "Movimenti di magazzino";
};

TEST_F(ExportTest, JsonHoldsEveryTypeInLastUpdateOrderWithEscapedUtf8Text) {
  Mov a = MakeMov(1, 45001.5);  // 2023-03-16 12:00
  std::strcpy(a.descr, "C:\\tmp \"q\"\tcaff\xE8");
  a.flag = 2;
  a.tipo = 'X';
  a.qta = -7;
  a.numero = 123456;
  a.data = DateToJulian(45000.0, 0);  // 15/03/2023
  a.ora = 3725;
  a.peso = 1.5f;
  a.prezzo = 12.25;
  a.quando = 45000.75;  // 15/03/2023 18:00:00
  Mov b = MakeMov(2, 45000.25);  // earlier stamp, empty dates
  // A code that fills its field to the last byte: the text ends there.
  std::memcpy(b.codice, "ABCDEFGHI", 9);
  std::strcpy(b.descr, "next");
  table_.DBSetLockStamp(1);
  ASSERT_EQ(AddMovs(table_, {a, b}), 0);

  CStringArray tables;
  ASSERT_EQ(table_.DBExpJson(0.0, DBL_MAX, desc_, json_, &tables, nullptr, nullptr), 1);
  ASSERT_EQ(tables.GetSize(), 1);
  EXPECT_STREQ(tables[0].GetString(), "mov");
  ASSERT_TRUE(fs::exists(Out("MOV.JSON")));
  const std::string text = ReadFile(Out("MOV.JSON"));
  EXPECT_NE(text.find("\r\n  \"table\": \"mov\""), std::string::npos) << "indented, CR-LF";
  CkJsonObject j = LoadJson(Out("MOV.JSON"));
  EXPECT_EQ(j.NameAt(0), "description");
  EXPECT_EQ(j.NameAt(3), "data");
  EXPECT_EQ(j.StringOf("description"), "Movimenti di magazzino");
  EXPECT_EQ(j.IntOf("records"), 2);
  ASSERT_EQ(j.SizeOfArray("data"), 2);
  // Last-update order: b first.
  EXPECT_EQ(j.StringOf("data[0].mov_codice"), "ABCDEFGHI");
  EXPECT_EQ(j.StringOf("data[0].mov_descr"), "next");
  EXPECT_TRUE(j.IsNullOf("data[0].mov_data"));
  EXPECT_TRUE(j.IsNullOf("data[0].mov_quando"));
  EXPECT_EQ(j.StringOf("data[0].mov_last_update"), "15/03/2023 06:00:00");
  // The stored form doubles the backslash; the file escapes it again, and
  // the quote and the tab; è arrives as UTF-8.
  EXPECT_EQ(j.StringOf("data[1].mov_descr"), "C:\\\\tmp \"q\"\tcaff\xC3\xA8");
  EXPECT_NE(text.find(R"("C:\\\\tmp \"q\"\tcaff)"), std::string::npos);
  EXPECT_EQ(j.IntOf("data[1].mov_flag"), 1);
  EXPECT_EQ(j.IntOf("data[1].mov_tipo"), 1);
  EXPECT_EQ(j.IntOf("data[1].mov_qta"), -7);
  EXPECT_EQ(j.IntOf("data[1].mov_numero"), 123456);
  EXPECT_EQ(j.StringOf("data[1].mov_data"), "15/03/2023 00:00:00");
  EXPECT_EQ(j.IntOf("data[1].mov_ora"), 3725);
  EXPECT_NE(text.find("\"mov_peso\": 1.500000,"), std::string::npos);
  EXPECT_NE(text.find("\"mov_prezzo\": 12.250000,"), std::string::npos);
  EXPECT_EQ(j.DoubleOf("data[1].mov_prezzo"), 12.25);
  EXPECT_EQ(j.StringOf("data[1].mov_quando"), "15/03/2023 18:00:00");
  EXPECT_EQ(j.StringOf("data[1].mov_last_update"), "16/03/2023 12:00:00");
  EXPECT_NE(LogText().find("Esportati 2 "), std::string::npos);
}

TEST_F(ExportTest, JsonSplitsEvery5000RecordsIntoNumberedFiles) {
  Fill(5000);
  ASSERT_EQ(table_.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(LoadJson(Out("MOV.JSON")).IntOf("records"), 5000);
  EXPECT_FALSE(fs::exists(Out("MOV_01.JSON"))) << "exactly 5000: one file";

  Mov extra = MakeMov(5001, 45000.0 + 5001);
  table_.DBSetLockStamp(1);
  ASSERT_EQ(AddMovs(table_, {extra}), 0);
  fs::remove(Out("MOV.JSON"));
  ASSERT_EQ(table_.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 1);
  CkJsonObject first = LoadJson(Out("MOV.JSON"));
  CkJsonObject second = LoadJson(Out("MOV_01.JSON"));
  EXPECT_EQ(first.IntOf("records"), 5000);
  EXPECT_EQ(first.SizeOfArray("data"), 5000);
  EXPECT_EQ(first.IntOf("data[4999].mov_numero"), 5000);
  EXPECT_EQ(second.IntOf("records"), 1);
  EXPECT_EQ(second.IntOf("data[0].mov_numero"), 5001);
  const std::string log = LogText();
  EXPECT_NE(log.find("Esportati 5000 "), std::string::npos);
  EXPECT_NE(log.find("Esportati 5001 "), std::string::npos);
}

TEST_F(ExportTest, TheWindowAndTheFilterSelectTheRecords) {
  Fill(10);
  // From day 45003 (a key search) up to 45006 inclusive.
  ASSERT_EQ(table_.DBExpJson(45003.0, 45006.0, desc_, json_, nullptr, nullptr, nullptr), 1);
  CkJsonObject j = LoadJson(Out("MOV.JSON"));
  ASSERT_EQ(j.IntOf("records"), 4);
  EXPECT_EQ(j.IntOf("data[0].mov_numero"), 3);
  EXPECT_EQ(j.IntOf("data[3].mov_numero"), 6);

  // The filter sees each candidate in the table's buffer.
  static CDBCtree* seen;
  seen = &table_;
  auto even = +[]() { return static_cast<Mov*>(seen->DBGetBuffer())->numero % 2 == 0 ? 1 : 0; };
  ASSERT_EQ(table_.DBExpCSV(0.0, DBL_MAX, csv_, even), 1);
  CkCsv csv;
  csv.put_HasColumnNames(true);
  csv.put_Delimiter("|");
  ASSERT_TRUE(csv.LoadFile(Out("MOV.CSV")));
  ASSERT_EQ(csv.get_NumRows(), 5);
  EXPECT_EQ(csv.GetCellByName(0, "mov_numero"), "2");
  EXPECT_EQ(csv.GetCellByName(4, "mov_numero"), "10");
}

TEST_F(ExportTest, CsvCellsQuoteTheSeparatorAndKeepTheStoredForm) {
  Mov a = MakeMov(1, 45001.5);
  std::strcpy(a.descr, "A|B \"q\"\r\nC\\D \xE8");
  a.flag = 1;
  a.tipo = 'Z';
  a.qta = 12;
  a.numero = -5;
  a.data = DateToJulian(45000.0, 0);
  a.ora = 3725;
  a.peso = 2.5f;
  a.prezzo = 3.125;
  a.quando = 45000.75;
  Mov b = MakeMov(2, 45002.0);
  table_.DBSetLockStamp(1);
  ASSERT_EQ(AddMovs(table_, {a, b}), 0);
  ASSERT_EQ(table_.DBExpCSV(0.0, DBL_MAX, csv_, nullptr), 1);
  const std::string text = ReadFile(Out("MOV.CSV"));
  EXPECT_EQ(text.substr(0, text.find("\r\n")),
            "mov_last_update|mov_codice|mov_descr|mov_flag|mov_tipo|mov_qta|mov_numero|mov_data|"
            "mov_ora|mov_peso|mov_prezzo|mov_quando|mov_utente");
  EXPECT_NE(text.find("|\"A|B \"\"q\"\"\r\nC\\\\D \xE8\"|"), std::string::npos) << text;
  CkCsv csv;
  csv.put_HasColumnNames(true);
  csv.put_Delimiter("|");
  ASSERT_TRUE(csv.LoadFile(Out("MOV.CSV")));
  ASSERT_EQ(csv.get_NumRows(), 2);
  EXPECT_EQ(csv.GetCellByName(0, "mov_descr"), "A|B \"q\"\r\nC\\\\D \xE8");
  EXPECT_EQ(csv.GetCellByName(0, "mov_flag"), "1");
  EXPECT_EQ(csv.GetCellByName(0, "mov_tipo"), "Z");
  EXPECT_EQ(csv.GetCellByName(0, "mov_qta"), "12");
  EXPECT_EQ(csv.GetCellByName(0, "mov_numero"), "-5");
  EXPECT_EQ(csv.GetCellByName(0, "mov_data"), "15/03/2023");
  EXPECT_EQ(csv.GetCellByName(0, "mov_ora"), "01:02:05");
  EXPECT_EQ(csv.GetCellByName(0, "mov_peso"), "2.500000");
  EXPECT_EQ(csv.GetCellByName(0, "mov_prezzo"), "3.125000");
  EXPECT_EQ(csv.GetCellByName(0, "mov_quando"), "15/03/2023 18:00:00");
  // Zero dates, times and flags of the second record.
  EXPECT_EQ(csv.GetCellByName(1, "mov_data"), "");
  EXPECT_EQ(csv.GetCellByName(1, "mov_ora"), "");
  EXPECT_EQ(csv.GetCellByName(1, "mov_quando"), "");
  EXPECT_EQ(csv.GetCellByName(1, "mov_flag"), "0");
  EXPECT_EQ(csv.GetCellByName(1, "mov_tipo"), "");
  EXPECT_NE(LogText().find("Esportati 2 "), std::string::npos);
}

TEST_F(ExportTest, ATableWithoutStampOrStampIndexExportsNothing) {
  Fill(3);
  // No "_last_update" field in the stored schema.
  ASSERT_EQ(table_.DBCloseIFile(), 0);
  MovTable other(dir_ + "/senza", true, "mov_stamp");
  Mov obuf{};
  CDBCtree senza(8, &other.ifil, &obuf, PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(senza.DBOpen(1), 0);
  std::vector<DATOBJ> s = MovSchema("mov_stamp");
  int changed = 0;
  ASSERT_EQ(senza.DBPutDoda(s.data(), 1, &changed), 0);
  EXPECT_EQ(senza.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(senza.DBExpCSV(0.0, DBL_MAX, csv_, nullptr), 0);
  EXPECT_FALSE(fs::exists(Out("SENZA.JSON")));
  EXPECT_FALSE(fs::exists(Out("SENZA.CSV")));
  EXPECT_NE(LogText().find("Campo last_update non trovato!"), std::string::npos);

  // The field is there, the index is not.
  MovTable noidx(dir_ + "/noidx", false);
  CDBCtree t2(9, &noidx.ifil, &obuf, PutStandard, nullptr, nullptr, 0);
  ASSERT_EQ(t2.DBOpen(1), 0);
  std::vector<DATOBJ> s2 = MovSchema();
  ASSERT_EQ(t2.DBPutDoda(s2.data(), 1, &changed), 0);
  EXPECT_EQ(t2.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 0);
  EXPECT_NE(LogText().find("Indice LastUpdate non trovato!"), std::string::npos);
  EXPECT_FALSE(fs::exists(Out("NOIDX.JSON")));
}

TEST_F(ExportTest, AFieldWithoutValueIsLeftOutOfJsonAndRefusedByCsv) {
  Fill(2);
  std::vector<DATOBJ> s = MovSchema("mov_last_update", 128);
  int changed = 0;
  ASSERT_EQ(table_.DBPutDoda(s.data(), 1, &changed), 0);
  ASSERT_EQ(table_.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 1);
  CkJsonObject j = LoadJson(Out("MOV.JSON"));
  EXPECT_FALSE(j.HasMember("data[0].mov_descr"));
  EXPECT_TRUE(j.HasMember("data[0].mov_flag"));
  EXPECT_EQ(table_.DBExpCSV(0.0, DBL_MAX, csv_, nullptr), 0);
  EXPECT_NE(LogText().find("Tipo campo mov_descr non riconosciuto"), std::string::npos);
  EXPECT_FALSE(fs::exists(Out("MOV.CSV")));
}

TEST_F(ExportTest, EveryFailedWriteIsAFailure) {
  Fill(5001);
  // The second file cannot be written: a folder holds its name.
  fs::create_directories(Out("MOV_01.JSON"));
  EXPECT_EQ(table_.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 0);
  EXPECT_NE(LogText().find("Impossibile salvare il file!"), std::string::npos);
  // The first one cannot be written either.
  fs::remove_all(prog_ + "/out");
  EXPECT_EQ(table_.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(table_.DBExpCSV(0.0, DBL_MAX, csv_, nullptr), 0);
  EXPECT_FALSE(fs::exists(Out("MOV.CSV")));
}

// --- The binary dump -----------------------------------------------------------------

// Counts what the layer asks of its progress windows; the counts outlive
// the windows.
struct ProgressLog {
  int cancel_at = 0;
  int steps = 0, checks = 0, windows = 0;
  std::vector<std::string> calls;
};

class Progress : public vkt::db::ProgressWindow {
 public:
  explicit Progress(ProgressLog* log) : log_(log) {}
  bool Exists() override { return true; }
  void SetStatus(const char* text) override { log_->calls.push_back(std::string("status ") + text); }
  void SetRange(int lower, int upper) override {
    log_->calls.push_back("range " + std::to_string(lower) + " " + std::to_string(upper));
  }
  void SetStep(int step) override { log_->calls.push_back("step " + std::to_string(step)); }
  int StepIt() override {
    ++log_->steps;
    return 0;
  }
  int CheckCancelButton() override { return ++log_->checks == log_->cancel_at ? 1 : 0; }
  void HideCancel() override { log_->calls.push_back("hide cancel"); }

 private:
  ProgressLog* log_;
};

class Provider : public vkt::db::ProgressProvider {
 public:
  std::unique_ptr<vkt::db::ProgressWindow> Create(const char* caption) override {
    log.calls.push_back(std::string("create ") + caption);
    ++log.windows;
    return std::make_unique<Progress>(&log);
  }
  std::unique_ptr<vkt::db::ProgressWindow> Wrap(CVKTProgressDlg*) override {
    log.calls.push_back("wrap");
    ++log.windows;
    return std::make_unique<Progress>(&log);
  }
  ProgressLog log;
};

struct ScopedProvider {
  explicit ScopedProvider(vkt::db::ProgressProvider* p) : old(vkt::db::SetProgressProvider(p)) {}
  ~ScopedProvider() { vkt::db::SetProgressProvider(old); }
  vkt::db::ProgressProvider* old;
};

TEST_F(ExportTest, DumpAndImportRoundTripEveryImage) {
  Fill(25);
  const std::string dump = Path("mov.bin");
  DB_IMPORT_EXPORT block{};
  block.file = std::fopen(dump.c_str(), "wb");
  ASSERT_NE(block.file, nullptr);
  Provider provider;
  ScopedProvider use(&provider);
  block.progress = reinterpret_cast<CVKTProgressDlg*>(&provider);  // any dialog: the provider wraps it
  EXPECT_EQ(table_.DBExport(&block), DB_EXPORT_DONE);
  std::fclose(block.file);
  EXPECT_EQ(block.count, 25);
  EXPECT_EQ(provider.log.windows, 1);
  EXPECT_EQ(provider.log.steps, 25);
  const std::string bytes = ReadFile(dump);
  ASSERT_EQ(bytes.size(), 25u * (2 + sizeof(Mov)));
  EXPECT_EQ(bytes[0], 7);  // tableId, little-endian
  EXPECT_EQ(bytes[1], 0);

  MovTable copy_t(dir_ + "/copia");
  Mov cbuf{};
  CDBCtree copy(7, &copy_t.ifil, &cbuf, PutStandard, nullptr, StampMov, 0);
  ASSERT_EQ(copy.DBOpen(1), 0);
  copy.DBSetLockStamp(1);
  block.file = std::fopen(dump.c_str(), "rb");
  for (int i = 0; i < 25; ++i) {
    unsigned char id[2];
    ASSERT_EQ(std::fread(id, 1, 2, block.file), 2u);
    EXPECT_EQ(copy.DBImport(&block), 0) << i;
  }
  std::fclose(block.file);
  EXPECT_EQ(copy.DBGetLockStamp(), 1) << "the flag comes back as it was";
  EXPECT_EQ(copy.DBNbrOfRecords(), 25);
  // The import stamps each record (the flag is off during the add).
  ASSERT_EQ(copy.DBFirstRecord(), 0);
  EXPECT_STREQ(cbuf.utente, "STAMPED");
  EXPECT_EQ(std::memcmp(cbuf.codice, bytes.data() + 2 + 8, 8), 0);

  // A dump cut inside its last record adds nothing.
  const std::string cut = Path("cut.bin");
  vkt::testing::WriteFile(cut, bytes.substr(0, 2 + sizeof(Mov) + 2 + 40));
  block.file = std::fopen(cut.c_str(), "rb");
  unsigned char id[2];
  ASSERT_EQ(std::fread(id, 1, 2, block.file), 2u);
  ASSERT_EQ(copy.DBDeleteIFile(schema_.data()), 0);
  EXPECT_EQ(copy.DBImport(&block), 0);
  ASSERT_EQ(std::fread(id, 1, 2, block.file), 2u);
  EXPECT_EQ(copy.DBImport(&block), DB_IMPORT_SHORT);
  std::fclose(block.file);
  EXPECT_EQ(copy.DBNbrOfRecords(), 1);
  EXPECT_EQ(copy.DBGetLockStamp(), 1);
}

TEST_F(ExportTest, DumpAnswersCancelAndFailureApartFromDone) {
  Fill(10);
  Provider provider;
  provider.log.cancel_at = 3;
  ScopedProvider use(&provider);
  DB_IMPORT_EXPORT block{};
  block.file = std::fopen(Path("a.bin").c_str(), "wb");
  block.progress = reinterpret_cast<CVKTProgressDlg*>(&provider);
  EXPECT_EQ(table_.DBExport(&block), DB_EXPORT_CANCELLED);
  EXPECT_EQ(block.count, 3);
  std::fclose(block.file);

  // Silent hosts show no progress and cannot cancel.
  par_.silent = 1;
  block.count = 0;
  block.file = std::fopen(Path("b.bin").c_str(), "wb");
  EXPECT_EQ(table_.DBExport(&block), DB_EXPORT_DONE);
  EXPECT_EQ(block.count, 10);
  EXPECT_EQ(provider.log.windows, 1) << "not consulted";
  std::fclose(block.file);
  par_.silent = 0;

  // A full disk: the write fails, and says so.
  block.count = 0;
  block.progress = nullptr;
  block.file = std::fopen("/dev/full", "wb");
  ASSERT_NE(block.file, nullptr);
  EXPECT_EQ(table_.DBExport(&block), DB_EXPORT_FAILED);
  std::fclose(block.file);
  // A stream that cannot be written at all.
  block.file = std::fopen(Path("a.bin").c_str(), "rb");
  EXPECT_EQ(table_.DBExport(&block), DB_EXPORT_FAILED);
  std::fclose(block.file);
}

TEST_F(ExportTest, AReadThatFailsMidWayIsNoExport) {
  Fill(20);
  // The tenth call from now fails as a broken disk read: every export
  // stops there and says it failed.
  DB_IMPORT_EXPORT block{};
  block.file = std::fopen(Path("r.bin").c_str(), "wb");
  vkt::isam::FailNthIsamCall(10, CT_READ_ERROR, 5);
  EXPECT_EQ(table_.DBExport(&block), DB_EXPORT_FAILED);
  EXPECT_LT(block.count, 20);
  std::fclose(block.file);
  vkt::isam::FailNthIsamCall(10, CT_READ_ERROR, 5);
  EXPECT_EQ(table_.DBExpJson(0.0, DBL_MAX, desc_, json_, nullptr, nullptr, nullptr), 0);
  EXPECT_FALSE(fs::exists(Out("MOV.JSON")));
  vkt::isam::FailNthIsamCall(10, CT_READ_ERROR, 5);
  EXPECT_EQ(table_.DBExpCSV(0.0, DBL_MAX, csv_, nullptr), 0);
  EXPECT_FALSE(fs::exists(Out("MOV.CSV")));
  vkt::isam::FailNthIsamCall(0, 0, 0);
  EXPECT_EQ(table_.DBExpCSV(0.0, DBL_MAX, csv_, nullptr), 1);
}

}  // namespace
}  // namespace vkt::db::test
