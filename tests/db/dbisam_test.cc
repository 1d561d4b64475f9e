// The ISAM session, the Italian error messages and the session services.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "db/dbctree.h"
#include "db/db_fixture.h"
#include "isam/ctree.h"
#include "isam/isam_testing.h"
#include "win/oledatetime.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::db::test {
namespace {

using SessionTest = DbTest;

TEST_F(SessionTest, InitCountsTheSessionAndCloseUndoesItOnce) {
  EXPECT_EQ(DBCloseISAM(0), 0);  // nothing open: nothing done, nothing shown
  EXPECT_TRUE(fake_.transcript().empty());

  InitSession();
  EXPECT_EQ(DbSessionCountForTesting(), 1);
  EXPECT_EQ(DBLocal(), 1);
  EXPECT_EQ(DBSetFileMode(), 129);
  EXPECT_EQ(DBCloseISAM(0), 0);
  EXPECT_EQ(DbSessionCountForTesting(), 0);
  EXPECT_EQ(DBCloseISAM(0), 0);  // a second close is harmless
  EXPECT_TRUE(fake_.transcript().empty());
}

TEST_F(SessionTest, InitFailuresAreReportedWithTheirItalianTextUnlessQuiet) {
  char none[1] = "";
  EXPECT_EQ(DBInitISAM(2, par_.user, par_.password, none, true, false, false), 182);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text,
            "Errore n. 182 - Il Parametro files non puo' contenere i 3 files per R-Tree");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONSTOP);
  EXPECT_EQ(DbSessionCountForTesting(), 0);

  EXPECT_EQ(DBInitISAM(2, par_.user, par_.password, none, true, false, true), 182);
  EXPECT_EQ(fake_.transcript().size(), 1u);  // quiet: returned only

  InitSession();
  EXPECT_EQ(DBInitISAM(64, par_.user, par_.password, none, true, false, false), 125);
  EXPECT_EQ(fake_.transcript().back().text, "Errore n. 125 - C-Tree Plus gia inizializzato");
  EXPECT_EQ(DbSessionCountForTesting(), 1);

  // A status without a text of its own shows the number alone.
  OpenLog();
  char unknown[32] = "NESSUNO@nowhere";
  vkt::isam::SetIsamProgramDirectory(dir_.c_str());
  ASSERT_EQ(DBCloseISAM(0), 0);
  EXPECT_EQ(DBInitISAM(64, par_.user, par_.password, unknown, true, false, false), 133);
  EXPECT_NE(LogText().find(" - Errore n. 133 - FAIRCOM Server non Trovato\r\n"), std::string::npos);
}

TEST_F(SessionTest, AFailureAfterTheSessionWasCountedClosesItSoARetryWorks) {
  char none[1] = "";
  // InitISAMXtd is the first call, naming the node the second.
  vkt::isam::FailNthIsamCall(2, 36, 5);
  EXPECT_EQ(DBInitISAM(64, par_.user, par_.password, none, true, false, true), 36);
  EXPECT_EQ(DbSessionCountForTesting(), 0);
  EXPECT_EQ(DBGetUerrCod(), 36);
  EXPECT_EQ(DBGetSysIOCod(), 5);
  // ChangeSet(0) failing the same way.
  vkt::isam::FailNthIsamCall(3, 33, 0);
  EXPECT_EQ(DBInitISAM(64, par_.user, par_.password, none, true, false, true), 33);
  EXPECT_EQ(DbSessionCountForTesting(), 0);
  // Nothing was left open: the next attempt is not refused with 125.
  EXPECT_EQ(DBInitISAM(64, par_.user, par_.password, none, true, false, true), 0);
  EXPECT_EQ(DbSessionCountForTesting(), 1);
}

TEST_F(SessionTest, ClientSessionReopensWithTheHostCredentialsAndReadsTheServerClock) {
  {
    std::ofstream ini(dir_ + "/isamserv.ini");
    ini << "[FAIRCOMS@LOCALHOST]\nbackend=folder\nfolder=" << dir_ << "\nuser.ADMIN=segreto\n";
  }
  vkt::isam::SetIsamProgramDirectory(dir_.c_str());
  std::strcpy(par_.user, "ADMIN");
  std::strcpy(par_.password, "segreto");
  std::strcpy(par_.server_at_host, "FAIRCOMS@LOCALHOST");
  EXPECT_EQ(DBInitISAM(400, par_.user, par_.password, par_.server_at_host, true, false, false), 0);
  EXPECT_EQ(DBLocal(), 0);
  EXPECT_EQ(DBSetFileMode(), 177);

  // 2040: the server's second count no longer fits a signed 32-bit value.
  const int64_t secs_2040 = 2222222222;  // 2040-06-02 03:57:02 UTC
  fake_.SetNow(secs_2040 * 1000000);
  COleDateTime stamp(DBGetTimeStamp());
  EXPECT_EQ(stamp.GetYear(), 2040);
  EXPECT_EQ(stamp.GetMonth(), 6);
  EXPECT_EQ(stamp.GetDay(), 2);
  EXPECT_EQ(stamp.GetHour(), 5);  // Rome, summer time

  EXPECT_EQ(DBCloseISAM(1), 0);
  EXPECT_EQ(DbSessionCountForTesting(), 1);  // counted once, inside the reopen
  EXPECT_EQ(DBLocal(), 0);
  EXPECT_EQ(DBCloseISAM(1 + 1), 0);  // only 1 reopens
  EXPECT_EQ(DbSessionCountForTesting(), 0);

  // Wrong stored password: the reopen reports and returns its status.
  InitSession();
  ASSERT_EQ(DBCloseISAM(0), 0);
  EXPECT_EQ(DBInitISAM(400, par_.user, par_.password, par_.server_at_host, true, false, false), 0);
  std::strcpy(par_.password, "sbagliata");
  EXPECT_EQ(DBCloseISAM(1), 451);
  EXPECT_EQ(fake_.transcript().back().text, "Errore n. 451 - Password non valida");
  EXPECT_EQ(DbSessionCountForTesting(), 0);
}

TEST_F(SessionTest, LocalTimeStampIsTheLocalClock) {
  InitSession();
  fake_.SetNow(int64_t{1738570025} * 1000000);  // 2025-02-03 08:07:05 UTC
  COleDateTime t(DBGetTimeStamp());
  EXPECT_EQ(t.GetYear(), 2025);
  EXPECT_EQ(t.GetDay(), 3);
  EXPECT_EQ(t.GetHour(), 9);
  EXPECT_EQ(t.GetMinute(), 7);
}

using ErrorTest = DbTest;

TEST_F(ErrorTest, RecoverableCodesShowTheirTextAndReturn) {
  EXPECT_EQ(DBISAM(0, "clienti"), 0);
  EXPECT_TRUE(fake_.beeps().empty());
  EXPECT_EQ(DBISAM(-14, "clienti"), -14);
  EXPECT_TRUE(fake_.beeps().empty());
  EXPECT_TRUE(fake_.transcript().empty());

  EXPECT_EQ(DBISAM(-12, "clienti"), -12);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text,
            "Un Record con il codice digitato \xE9\ngi\xE0 presente in archivio.");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK | MB_ICONEXCLAMATION);
  ASSERT_EQ(fake_.beeps().size(), 1u);
  EXPECT_EQ(fake_.beeps()[0], std::make_pair(1000u, 10u));

  const std::pair<int, const char*> box[] = {
      {-10, "Record bloccato da un altro processo"},
      {-11, "Record cancellato da un altro processo"},
      {-13, "Il Record \xE9 stato modificato da un altro processo."},
      {-15, "Non \xE9 Possibile Cancellare il Record Indicato."},
      {-16, "Non \xE9 Possibile aprire il file in modo esclusivo."},
      {-17, "Trovate Chiavi Duplicate nel File."},
      {-18, "Sono stati trovati ed eliminati record con chiavi duplicate!"},
  };
  for (const auto& [code, text] : box) {
    EXPECT_EQ(DBError(code, "x"), code);
    EXPECT_EQ(fake_.transcript().back().text, text) << code;
  }
  // silent does not matter here: only the log file does.
  par_.silent = 1;
  EXPECT_EQ(DBISAM(-13, "clienti"), -13);
  EXPECT_EQ(fake_.transcript().back().text, "Il Record \xE9 stato modificato da un altro processo.");
}

TEST_F(ErrorTest, RecoverableCodesGoToTheLogWithTheFileName) {
  OpenLog();
  EXPECT_EQ(DBISAM(-10, "clienti"), -10);
  EXPECT_EQ(DBISAM(-11, "clienti"), -11);
  EXPECT_EQ(DBISAM(-13, nullptr), -13);  // a missing name prints as empty
  std::string log = LogText();
  EXPECT_NE(log.find(" - Record bloccato da un altro processo!\n\nFile : clienti\r\n"),
            std::string::npos);
  EXPECT_NE(log.find(" - Record cancellato da un altro processo!\n\nFile : clienti\r\n"),
            std::string::npos);
  EXPECT_NE(log.find(" - Il Record \xE9 stato modificato da un altro processo.\n\nFile : \r\n"),
            std::string::npos);
  EXPECT_TRUE(fake_.transcript().empty());
}

TEST_F(ErrorTest, ApplicationMessagesComeFromTheHostsStrings) {
  EXPECT_EQ(DBISAM(20001, "clienti"), 20001);
  EXPECT_EQ(fake_.beeps().size(), 1u);  // beep, and no text to show
  EXPECT_TRUE(fake_.transcript().empty());
  fake_.SetStringResource(20002, "Codice cliente obbligatorio");
  EXPECT_EQ(DBISAM(20002, "clienti"), 20002);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Codice cliente obbligatorio");
  OpenLog();
  EXPECT_EQ(DBError(20002, "clienti"), 20002);
  EXPECT_NE(LogText().find("Codice cliente obbligatorio\n\nFile : clienti\r\n"), std::string::npos);
}

int FatalCode(int status, const char* where) {
  try {
    DBISAM(status, where);
  } catch (const vkt::ExitRequested& e) {
    return e.code;
  }
  return -99999;
}

TEST_F(ErrorTest, FatalStatusesEndTheProcessWithTheStatusAfterTheirMessage) {
  isam_err = 450;
  EXPECT_EQ(FatalCode(1001, "login"), 1001);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text,
            "Impossibile collegarsi al Server !\n\nNome Utente non Valido.   \n");
  EXPECT_EQ(fake_.transcript()[0].type, MB_OK);
  isam_err = 133;
  FatalCode(1001, "login");
  EXPECT_EQ(fake_.transcript().back().text,
            "Impossibile Trovare il Server sull'Host indicato !\n\nVerificare :\n\t- Server attivo "
            "su macchina Host\n\t- Correttezza dati immessi nella maschera di Login    \n");
  isam_err = 451;
  FatalCode(1001, "login");
  EXPECT_EQ(fake_.transcript().back().text,
            "Impossibile collegarsi al Server !\n\nPassword non Valida.   \n");

  EXPECT_EQ(FatalCode(101, "clienti"), 101);
  EXPECT_EQ(fake_.transcript().back().text,
            "Impossibile trovare il record (Err. 101) !\n\nContattare l' assistenza tecnica per "
            "ricostruire gli indici.\n\nFile : clienti");
  EXPECT_EQ(FatalCode(33, "x"), 33);
  EXPECT_EQ(fake_.transcript().back().text,
            "Riscrittura con buffer vuoto (Err. 33) !\n\nPrendere nota dell' operazione in corso e "
            "contattare immediatamente l' assistenza tecnica.\n");
  FatalCode(17, "x");
  EXPECT_EQ(fake_.transcript().back().text,
            "Archivio non trovato (Err. 17) !\n\nPossibili cause : \n  - Percorso dati non "
            "valido\n  - Rete non collegata\n  - Disco pieno\n");
  FatalCode(198, "x");
  EXPECT_EQ(fake_.transcript().back().text,
            "Dimensione Record non valida (Err. 198) !\n\nPossibili cause : \n  - Errata Versione "
            "del Software\n  - Necessaria conversione formato archivi\n");
  FatalCode(463, "x");
  EXPECT_EQ(fake_.transcript().back().text,
            "File ID non unico (Err. 463) !\n\nRiavviare il Server e avviare il programma con "
            "-FILEID sulla riga di comando\n");

  isam_err = 12;
  uerr_cod = 14;
  sysio_cod = 2;
  errno = 0;
  EXPECT_EQ(FatalCode(36, "DBCtree:12"), 36);
  EXPECT_EQ(fake_.transcript().back().text,
            "Errore irrecuperabile sul Database.\nContattare l' assistenza comunicando i seguenti "
            "dati:\nErrore n. 36\nisam_err n. 12\nuerr_cod 14\nsysio_cod 2\nlast_err 0\n\nFile : "
            "DBCtree:12");
  EXPECT_EQ(fake_.transcript().back().type, MB_OK | MB_ICONSTOP);
  // Negative statuses outside the layer's own are fatal too.
  EXPECT_EQ(FatalCode(-1, "x"), -1);
  EXPECT_EQ(FatalCode(485, "x"), 485);
  EXPECT_NE(fake_.transcript().back().text.find("Errore n. 485\n"), std::string::npos);
  for (const auto& [f, ms] : fake_.beeps()) EXPECT_EQ(std::make_pair(f, ms), std::make_pair(1000u, 10u));
  EXPECT_EQ(fake_.beeps().size(), fake_.transcript().size());
}

TEST_F(ErrorTest, MessagesIntoTheSharedBufferAreBoundedWhateverTheName) {
  std::string huge(30000, 'x');
  EXPECT_EQ(FatalCode(101, huge.c_str()), 101);
  const std::string& shown = fake_.transcript().back().text;
  EXPECT_EQ(shown.size(), sizeof buf_stampa - 1);
  EXPECT_EQ(shown.compare(0, 32, "Impossibile trovare il record (E"), 0);
  EXPECT_EQ(FatalCode(36, nullptr), 36);
  EXPECT_EQ(fake_.transcript().back().text.substr(fake_.transcript().back().text.size() - 9),
            "\n\nFile : ");
  OpenLog();
  EXPECT_EQ(DBISAM(-12, huge.c_str()), -12);
  EXPECT_EQ(LogText().size(), 22 + (sizeof buf_stampa - 1) + 2);  // prefix, text, CR LF
}

TEST_F(ErrorTest, FatalMessagesAreLoggedWhenSilentOrLogging) {
  par_.silent = 1;
  OpenLog();
  isam_err = 0;
  EXPECT_EQ(FatalCode(198, "x"), 198);
  EXPECT_TRUE(fake_.transcript().empty());
  EXPECT_NE(LogText().find("Dimensione Record non valida (Err. 198) !"), std::string::npos);
}

TEST_F(ErrorTest, FatalIsExactlyTheRangeDBISAMEndsOn) {
  EXPECT_EQ(DBFatal(0), 0);
  EXPECT_EQ(DBFatal(20000), 0);
  EXPECT_EQ(DBFatal(19999), 1);
  EXPECT_EQ(DBFatal(1), 1);
  EXPECT_EQ(DBFatal(-10), 0);
}

TEST_F(ErrorTest, SqlAndCtdbErrorsShowTheirTexts) {
  tagCTSQLCONN conn;
  ctsqlSetError(&conn, "colonna inesistente", 17);
  EXPECT_EQ(DBSQLError(0, &conn, "x"), 0);
  EXPECT_EQ(DBSQLAlert(-20005, &conn, "q.cc:10"), -20005);
  EXPECT_EQ(fake_.transcript().back().text,
            "Errore SQL irrecuperabile.\nContattare l' assistenza comunicando i seguenti dati:\n\n"
            "Errore n. -20005 - colonna inesistente\n\nError Pos. : 17\n\nFile : q.cc:10");
  EXPECT_EQ(fake_.transcript().back().type, MB_OK | MB_ICONSTOP);
  try {
    DBSQLError(-20005, nullptr, "q.cc:11");
    ADD_FAILURE() << "DBSQLError returned";
  } catch (const vkt::ExitRequested& e) {
    EXPECT_EQ(e.code, -20005);
  }
  EXPECT_EQ(fake_.transcript().back().text,
            "Errore SQL irrecuperabile.\nContattare l' assistenza comunicando i seguenti dati:\n"
            "Errore n. -20005\n\nFile : q.cc:11");
  EXPECT_EQ(DBCTDBError(0, "x"), 0);
  try {
    DBCTDBError(4012, "c.cc:3");
    ADD_FAILURE() << "DBCTDBError returned";
  } catch (const vkt::ExitRequested& e) {
    EXPECT_EQ(e.code, 4012);
  }
  EXPECT_EQ(fake_.transcript().back().text,
            "Errore CTDB irrecuperabile.\nContattare l' assistenza comunicando i seguenti dati:\n"
            "Errore n. 4012\n\nFile : c.cc:3");
}

TEST_F(ErrorTest, ConfirmationAsksWithTheProductsIconAndTakesNoAsNo) {
  fake_.ScriptAnswer(IDNO);
  EXPECT_EQ(DBConferma(), 0);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Confermi la cancellazione...");
  EXPECT_EQ(fake_.transcript()[0].caption, "Mirto");
  EXPECT_EQ(fake_.transcript()[0].type, MB_YESNO | MB_DEFBUTTON2);
  std::strcpy(par_.product, "LOCANDA");
  fake_.ScriptAnswer(IDYES);
  EXPECT_EQ(DBConferma(), 1);
  EXPECT_EQ(fake_.transcript()[1].type, MB_YESNO | MB_DEFBUTTON2 | MB_ICONEXCLAMATION);
  // Unanswered, the default button is No.
  EXPECT_EQ(DBConferma(), 0);
  // A silent host confirms without a box.
  par_.silent = 1;
  EXPECT_EQ(DBConferma(), 1);
  EXPECT_EQ(fake_.transcript().size(), 3u);
}

TEST_F(ErrorTest, SqlLogAppendsOneLinePerTextUnderTheProgramFolder) {
  std::filesystem::create_directories(dir_ + "/log");
  std::strcpy(par_.path, dir_.c_str());
  CString a("SELECT * FROM clienti1 WHERE codice = '100%'");
  CString b("COMMIT");
  LogSQL(a);
  LogSQL(b);
  EXPECT_EQ(ReadFile(dir_ + "/log/sql.txt"),
            "SELECT * FROM clienti1 WHERE codice = '100%'\r\nCOMMIT\r\n");
  // A name that does not fit is not cut into another file's name.
  std::string deep = dir_ + "/" + std::string(240, 'd');
  std::filesystem::create_directories(deep + "/log");
  std::snprintf(par_.path, sizeof par_.path, "%s", deep.c_str());
  LogSQL(a);
  EXPECT_FALSE(std::filesystem::exists(deep + "/log/sql.txt"));
}

TEST_F(ErrorTest, ErrorAccessorsReadTheThreadsVariables) {
  isam_err = 7;
  uerr_cod = 8;
  sysio_cod = 9;
  EXPECT_EQ(DBGetIsamErr(), 7);
  EXPECT_EQ(DBGetUerrCod(), 8);
  EXPECT_EQ(DBGetSysIOCod(), 9);
  DBctThrdTerm();
  EXPECT_EQ(DBGetIsamErr(), -1);
  EXPECT_EQ(DBGetUerrCod(), -1);
  EXPECT_EQ(DBGetSysIOCod(), -1);
}

}  // namespace
}  // namespace vkt::db::test
