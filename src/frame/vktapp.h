// The host contract: the application parameter block, its initialiser, the
// log writer and the library-wide reporting rule.
//
// The host owns one VKTAPPPARAM for the life of the process, fills it and
// hands it over before it calls anything else:
//
//   static VKTAPPPARAM par;             // zero-filled
//   static int date_base = 0;
//   static int32_t company = 1, year = 2025;
//   strzcpy(par.path, "/srv/mirto", sizeof par.path);
//   par.date_base = &date_base; par.company = &company; par.year = &year;
//   VKTDlgInitialize(&par);
//
// The library never copies the block: it reads the live values through
// `vktpar` whenever it needs them.
#ifndef VKT_FRAME_VKTAPP_H_
#define VKT_FRAME_VKTAPP_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "saapi/saclient.h"
#include "vkt_export.h"

class CWnd;  // the host's on-screen keyboard control

// Byte-packed: hosts are compiled separately against this declaration, so the
// order and width of every field, the unread host runs included, are part of
// the interface. Data fields keep their historical widths (long = int32_t);
// pointers and callbacks take the native 64-bit width. On the original 32-bit
// platform every pointer and callback below was 4 bytes wide, so the block
// there ended `report_hook` at offset 1823; here the pointers move the later
// fields, as the static_asserts below record.
#pragma pack(push, 1)
struct VKTAPPPARAM {
  char app_name[31];
  char product[61];
  char server_at_host[62];
  char server[31];
  char host[31];
  char user[101];
  char password[51];
  char last_user[51];
  char archive[9];
  char path[520];
  char skin_ini[520];
  int* date_base;
  FILE* log_file;
  int32_t* company;
  int32_t* year;
  unsigned char host_reserved1[12];
  unsigned char create_dirs;
  unsigned char host_reserved2[2];
  int silent;
  unsigned char host_reserved3[28];
  unsigned char preview_kind;
  unsigned char host_reserved4[12];
  int32_t sql_port;
  unsigned char host_reserved5[1];
  char sql_user[51];
  char sql_password[51];
  char sql_schema[67];
  unsigned char* no_delete;
  unsigned char allow_create;
  CWnd* keyboard;
  int (*TestDlg)(int);
  unsigned char host_reserved6[4];
  int (*host_callback[2])(void);
  void (*VopidFunc)(void);
  int (*TestAnnoCorrente)(void);
  unsigned char host_reserved7[68];
  struct {
    SAString (*database)(int32_t year, int kind, bool flag);
    SAString (*user)(int kind);
    SAString (*password)(int kind);
    eSAClient (*client)(void);
  } pg_param;
  struct {
    SAString (*database)(int32_t year, int kind, bool flag);
    SAString (*user)(int kind);
    SAString (*password)(int kind);
    int (*kind)(void);
  } pg_remote_param;
  unsigned char host_reserved8[16];
  void (*report_hook)(void*);
};
#pragma pack(pop)

static_assert(offsetof(VKTAPPPARAM, product) == 31);
static_assert(offsetof(VKTAPPPARAM, server_at_host) == 92);
static_assert(offsetof(VKTAPPPARAM, server) == 154);
static_assert(offsetof(VKTAPPPARAM, host) == 185);
static_assert(offsetof(VKTAPPPARAM, user) == 216);
static_assert(offsetof(VKTAPPPARAM, password) == 317);
static_assert(offsetof(VKTAPPPARAM, last_user) == 368);
static_assert(offsetof(VKTAPPPARAM, archive) == 419);
static_assert(offsetof(VKTAPPPARAM, path) == 428);
static_assert(offsetof(VKTAPPPARAM, skin_ini) == 948);
static_assert(offsetof(VKTAPPPARAM, date_base) == 1468);
static_assert(offsetof(VKTAPPPARAM, log_file) == 1476);
static_assert(offsetof(VKTAPPPARAM, company) == 1484);
static_assert(offsetof(VKTAPPPARAM, year) == 1492);
static_assert(offsetof(VKTAPPPARAM, create_dirs) == 1512);
static_assert(offsetof(VKTAPPPARAM, silent) == 1515);
static_assert(offsetof(VKTAPPPARAM, preview_kind) == 1547);
static_assert(offsetof(VKTAPPPARAM, sql_port) == 1560);
static_assert(offsetof(VKTAPPPARAM, sql_user) == 1565);
static_assert(offsetof(VKTAPPPARAM, sql_password) == 1616);
static_assert(offsetof(VKTAPPPARAM, sql_schema) == 1667);
static_assert(offsetof(VKTAPPPARAM, no_delete) == 1734);
static_assert(offsetof(VKTAPPPARAM, allow_create) == 1742);
static_assert(offsetof(VKTAPPPARAM, keyboard) == 1743);
static_assert(offsetof(VKTAPPPARAM, TestDlg) == 1751);
static_assert(offsetof(VKTAPPPARAM, host_callback) == 1763);
static_assert(offsetof(VKTAPPPARAM, VopidFunc) == 1779);
static_assert(offsetof(VKTAPPPARAM, TestAnnoCorrente) == 1787);
static_assert(offsetof(VKTAPPPARAM, pg_param) == 1863);
static_assert(offsetof(VKTAPPPARAM, pg_remote_param) == 1895);
static_assert(offsetof(VKTAPPPARAM, report_hook) == 1943);
static_assert(sizeof(VKTAPPPARAM) == 1951);

// The host's block; null until VKTDlgInitialize.
VKT_API extern VKTAPPPARAM* vktpar;
// Shared scratch text buffer for messages, print lines and export lines.
VKT_API extern char buf_stampa[20480];
// True while a PostgreSQL transaction started by the library is open.
VKT_API extern bool psql_transaction;
// 1 once a table open has created a file.
VKT_API extern int mirto_db_force_doda;

// Stores `p` in `vktpar` and writes defaults into the three callbacks the
// host left null (VopidFunc, TestDlg, TestAnnoCorrente). A null `p` is
// ignored.
VKT_API void VKTDlgInitialize(VKTAPPPARAM* p);

// Appends "dd/mm/yyyy hh:mm:ss - " + msg + "\r\n" to the host's log file and
// flushes it; nothing when there is no block or no log file.
VKT_API void WriteLogMessage(const char* msg);

// Starts the desktop calculator.
VKT_API void Calc();

// Shrinks a dialog rectangle placed over a maximised main window.
struct CRect;
VKT_API void AdjustDlgSize(CRect* rect);

namespace vkt {

// The library-wide reporting rule:
//   1. log file open: the message goes to the log only;
//   2. else `silent`: the message goes to the log (lost, the log being
//      closed) and a question takes its affirmative answer;
//   3. else a message box.
// Returns the answer (ID*), the affirmative one when no box was shown.
VKT_API int Report(const std::string& text, const std::string& caption,
                   unsigned type);
// As Report, preceded by the library's alarm beep (1000 Hz, 10 ms) when a box
// is shown.
VKT_API int ReportWithBeep(const std::string& text, const std::string& caption,
                           unsigned type);
// The places that test only `silent`: log when it is set, box otherwise.
VKT_API int ReportUnlessSilent(const std::string& text,
                               const std::string& caption, unsigned type);
// A fatal error: reported as Report does, but a message that would be lost
// (silent, no log file) goes to standard error, so the process never ends
// without a word. Then the process ends with `exit_code`.
[[noreturn]] VKT_API void ReportFatal(const std::string& text,
                                      const std::string& caption,
                                      int exit_code);

// The block's live values with the library's defaults for a missing block:
// the day-number selector (0 = Julian Day Number) and `silent`.
VKT_API int DateBase();
VKT_API bool Silent();
VKT_API FILE* LogFile();

// Library load and unload, run by the shared library's constructor and
// destructor; tests call them to put the process-wide state back.
VKT_API void LibraryLoad();
VKT_API void LibraryUnload();

}  // namespace vkt

#endif  // VKT_FRAME_VKTAPP_H_
