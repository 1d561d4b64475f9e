// The parameter block, its initialiser, the log line and the reporting rule.
#include "frame/vktapp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "win/rect.h"
#include "win/services.h"

namespace {

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    vkt::LibraryLoad();
    std::memset(&par_, 0, sizeof par_);
  }
  void TearDown() override {
    if (log_ != nullptr) std::fclose(log_);
    vkt::LibraryLoad();
  }
  // An in-memory log the host would have opened.
  FILE* OpenLog() {
    log_ = tmpfile();
    par_.log_file = log_;
    return log_;
  }
  std::string LogText() {
    std::fflush(log_);
    std::rewind(log_);
    std::string s;
    char buf[512];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, log_)) > 0) s.append(buf, n);
    return s;
  }

  VKTAPPPARAM par_;
  FILE* log_ = nullptr;
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
};

int HostTestDlg(int r) { return r + 100; }

TEST_F(FrameTest, InitializeFillsOnlyMissingCallbacksAndKeepsTheBlock) {
  VKTDlgInitialize(nullptr);
  EXPECT_EQ(vktpar, nullptr);

  par_.TestDlg = HostTestDlg;
  VKTDlgInitialize(&par_);
  EXPECT_EQ(vktpar, &par_);  // never copied
  EXPECT_EQ(+par_.TestDlg, &HostTestDlg);  // packed: read by value
  ASSERT_NE(+par_.VopidFunc, nullptr);
  ASSERT_NE(+par_.TestAnnoCorrente, nullptr);

  // The defaults say they are missing and let the work go on.
  EXPECT_EQ(par_.TestAnnoCorrente(), 1);
  par_.VopidFunc();
  ASSERT_EQ(fake_.transcript().size(), 2u);
  EXPECT_EQ(fake_.transcript()[0].text,
            "Funzione TestAnnoCorrente non impostata su inizializzazione DLL !");
  EXPECT_EQ(fake_.transcript()[1].text, "VopidFunc non Inizializzata !");

  VKTAPPPARAM other{};
  VKTDlgInitialize(&other);
  EXPECT_EQ(other.TestDlg(7), 7);
  EXPECT_EQ(fake_.transcript().back().text,
            "Funzione TestDlg non impostata su inizializzazione DLL !");
}

TEST_F(FrameTest, LogLineHasDatePrefixLiteralPercentAndCrLf) {
  OpenLog();
  VKTDlgInitialize(&par_);
  // 3 February 2025 09:07:05 in Rome is 08:07:05 UTC.
  fake_.SetNow(INT64_C(1738570025) * 1000000);
  WriteLogMessage("sconto 10%s %d\nseconda riga");
  EXPECT_EQ(LogText(), "03/02/2025 09:07:05 - sconto 10%s %d\nseconda riga\r\n");
}

TEST_F(FrameTest, LogWithoutFileOrBlockDoesNothing) {
  WriteLogMessage("nessun blocco");  // no vktpar at all
  VKTDlgInitialize(&par_);
  WriteLogMessage("nessun file");
  EXPECT_TRUE(fake_.transcript().empty());
  WriteLogMessage(nullptr);
}

TEST_F(FrameTest, ReportingRuleLogThenSilentThenBox) {
  VKTDlgInitialize(&par_);
  fake_.ScriptAnswer(IDNO);
  EXPECT_EQ(vkt::Report("Cancello ?", "Mirto", MB_YESNO | MB_ICONQUESTION), IDNO);
  ASSERT_EQ(fake_.transcript().size(), 1u);

  // Silent: no box, the question takes its affirmative answer.
  par_.silent = 1;
  fake_.ScriptAnswer(IDNO);
  EXPECT_EQ(vkt::Report("Cancello ?", "Mirto", MB_YESNO | MB_DEFBUTTON2), IDYES);
  EXPECT_EQ(vkt::Report("Riprovo ?", "Mirto", MB_RETRYCANCEL), IDRETRY);
  EXPECT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.answers_left(), 1u);  // nobody was asked

  // An open log wins over the box even when not silent.
  par_.silent = 0;
  OpenLog();
  EXPECT_EQ(vkt::ReportWithBeep("Record bloccato", "Mirto", MB_OK), IDOK);
  EXPECT_EQ(fake_.transcript().size(), 1u);
  EXPECT_TRUE(fake_.beeps().empty());
  EXPECT_NE(LogText().find(" - Record bloccato\r\n"), std::string::npos);

  // The places that look at `silent` alone still show a box with a log open.
  EXPECT_EQ(vkt::ReportUnlessSilent("Stampa ?", "Mirto", MB_YESNO), IDNO);
  EXPECT_EQ(fake_.transcript().size(), 2u);
}

TEST_F(FrameTest, BoxIsPrecededByTheAlarmBeep) {
  VKTDlgInitialize(&par_);
  vkt::ReportWithBeep("Errore", "Mirto", MB_OK | MB_ICONSTOP);
  ASSERT_EQ(fake_.beeps().size(), 1u);
  EXPECT_EQ(fake_.beeps()[0], std::make_pair(1000u, 10u));
}

TEST_F(FrameTest, FatalMessageReachesStderrWhenSilentWithoutLog) {
  VKTDlgInitialize(&par_);
  par_.silent = 1;
  // Capture stderr through a pipe.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  int saved = dup(STDERR_FILENO);
  dup2(fds[1], STDERR_FILENO);
  int code = -1;
  try {
    vkt::ReportFatal("Errore ISAM 12 file 3", "Mirto", 3);
  } catch (const vkt::ExitRequested& e) {
    code = e.code;
  }
  std::fflush(stderr);
  dup2(saved, STDERR_FILENO);
  close(saved);
  close(fds[1]);
  char buf[256] = {};
  ssize_t n = read(fds[0], buf, sizeof buf - 1);
  close(fds[0]);
  EXPECT_EQ(code, 3);
  ASSERT_GT(n, 0);
  EXPECT_NE(std::string(buf).find("Errore ISAM 12 file 3"), std::string::npos);
  EXPECT_TRUE(fake_.transcript().empty());

  // Not silent: a box, then the exit.
  par_.silent = 0;
  EXPECT_THROW(vkt::ReportFatal("Fine", "Mirto", 1), vkt::ExitRequested);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].type & MB_ICONMASK, MB_ICONSTOP);
}

TEST_F(FrameTest, DateBaseAndSilentReadSafelyWithoutTheBlock) {
  EXPECT_EQ(vkt::DateBase(), 0);
  EXPECT_FALSE(vkt::Silent());
  VKTDlgInitialize(&par_);
  EXPECT_EQ(vkt::DateBase(), 0);  // null selector: Julian count
  int base = 1;
  par_.date_base = &base;
  EXPECT_EQ(vkt::DateBase(), 1);
  base = 0;  // the live value, never a cached copy
  EXPECT_EQ(vkt::DateBase(), 0);
}

TEST_F(FrameTest, AdjustDlgSizeOnlyOverAMaximisedWindow) {
  CRect r(10, 20, 410, 320);
  AdjustDlgSize(&r);
  EXPECT_EQ(r, CRect(10, 20, 410, 320));
  fake_.SetZoomed(true);
  AdjustDlgSize(&r);
  EXPECT_EQ(r, CRect(10, 20, 392, 302));
  AdjustDlgSize(nullptr);
}

TEST_F(FrameTest, CalcAsksTheShellForTheCalculatorWithoutActivating) {
  Calc();
  ASSERT_EQ(fake_.shell_calls().size(), 1u);
  EXPECT_EQ(fake_.shell_calls()[0], "calc.exe||/usr/bin|4");
}

TEST_F(FrameTest, LoadResetsProcessWideState) {
  VKTDlgInitialize(&par_);
  mirto_db_force_doda = 1;
  psql_transaction = true;
  vkt::LibraryLoad();
  EXPECT_EQ(vktpar, nullptr);
  EXPECT_EQ(mirto_db_force_doda, 0);
  EXPECT_FALSE(psql_transaction);
  EXPECT_EQ(sizeof buf_stampa, 20480u);
}

}  // namespace
