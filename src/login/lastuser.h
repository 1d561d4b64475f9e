// Who changed a record, when, and what it looked like: the engine's
// transaction history of one record of a c-tree table in a two-sheet
// grid. Sheet 1 lists the operations (kind, user, station, time, log
// co-ordinates); sheet 2 the record image of each operation, one column
// per field, every value that differs from the next image highlighted.
// F3 shows only the columns that changed.
//
//   CLastUser view(desc, 0, &clienti, clienti.DBCurrentFileOffset(true), 0,
//                  clienti_doda, this);
//   view.DoModal();                  // F2 reads, F3 filters, Escape closes
#ifndef VKT_LOGIN_LASTUSER_H_
#define VKT_LOGIN_LASTUSER_H_

#include <cstdint>

#include "controls/vktbutton.h"
#include "controls/vktedit.h"
#include "db/dbctree.h"
#include "dialogs/vktdialog.h"
#include "login/historygrid.h"
#include "vkt_export.h"

inline constexpr COLORREF kHistoryChanged = RGB(255, 255, 140);
inline constexpr const char* kHistoryRecordTooLarge =
    "Eccessiva dimensione del record !\n\nAumentare le dimensioni del buffer";
inline constexpr const char* kHistoryUnknownType = "Tipo di Campo sconosciuto";
inline constexpr const char* kHistoryFilter = "F3 - Filtra Colonne Variate";
inline constexpr const char* kHistoryShowAll = "F3 - Mostra Tutto";

class VKT_API CLastUser : public CVKTDialog {
 public:
  CLastUser(char* name, double when, CDBCtree* table, int32_t recordLow, int32_t recordHigh,
            DATOBJ* schema, CWnd* parent = nullptr);
  ~CLastUser() override;

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* handler_info) override;
  BOOL OnCommand(WPARAM w, LPARAM l) override;
  void OnOK() override;
  void OnClickOk();
  void OnClickFiltra();
  void OnSheetChangedSpread(int oldSheet, int newSheet);

  // The name of an image type ("LADDKEY", ..., else its number).
  static std::string ImageTypeName(int16_t type);

  char name[21];
  double when;
  CDBCtree* table;
  DATOBJ* schema;
  int32_t recordLow;
  int32_t recordHigh;
  int32_t filtered = 0;
  CVKTEdit m_name;
  CVKTEdit m_when;
  CStatic m_label;
  CVKTButton m_ok;
  CHistoryGrid m_grid;
  CVKTButton m_filter;
  CStatic m_label_logs;
  CVKTEdit m_logs;
  int32_t firstField = -1;
  int32_t lastField = -1;

 private:
  void AddEntry(const char* entry, int32_t recordLength);
  std::string FieldText(const DATOBJ& field, const unsigned char* at) const;
};

#endif  // VKT_LOGIN_LASTUSER_H_
