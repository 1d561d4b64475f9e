#include "login/lastuser.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/checks.h"
#include "common/julian.h"
#include "frame/vktapp.h"
#include "login/loginresources.h"
#include "win/oledatetime.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

template <typename T>
T Read(const void* at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}

std::string OleText(double date) {
  if (date == 0) return std::string();
  COleDateTime t(date);
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", t.GetDay(), t.GetMonth(), t.GetYear(),
                t.GetHour(), t.GetMinute(), t.GetSecond());
  return text;
}

// Seconds since 1970 on the local clock.
std::string UnixText(int32_t secs) {
  std::tm tm{};
  if (!vkt::services().LocalTime(secs, &tm)) return std::to_string(secs);
  char text[64];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d %02d:%02d:%02d", tm.tm_mday, tm.tm_mon + 1,
                tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
  return text;
}

bool SameName(const char* a, const char* b) { return a && b && std::strcmp(a, b) == 0; }

}  // namespace

CLastUser::CLastUser(char* n, double w, CDBCtree* t, int32_t low, int32_t high, DATOBJ* s, CWnd* parent)
    : CVKTDialog(IDD_VKT_LASTUSER, parent), when(w), table(t), schema(s), recordLow(low), recordHigh(high) {
  vkt::login::RegisterLoginResources();
  std::memset(name, 0, sizeof name);
  if (n) std::snprintf(name, sizeof name, "%s", n);
}

CLastUser::~CLastUser() = default;

void CLastUser::DoDataExchange(CDataExchange* dx) {
  CVKTDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_LASTUSER_NAME, m_name);
  DDX_Control(dx, IDC_LASTUSER_TIME, m_when);
  DDX_Control(dx, IDC_LASTUSER_LABEL, m_label);
  DDX_Control(dx, IDOK, m_ok);
  DDX_Control(dx, IDC_LASTUSER_GRID, m_grid);
  DDX_Control(dx, IDC_LASTUSER_FILTER, m_filter);
  DDX_Control(dx, IDC_LASTUSER_LBL_LOGS, m_label_logs);
  DDX_Control(dx, IDC_LASTUSER_LOGS, m_logs);
}

std::string CLastUser::ImageTypeName(int16_t type) {
  switch (type) {
    case 2: return "LADDKEY";
    case 4: return "LDELKEY";
    case 10: return "NEWLINK";
    case 12: return "NEWIMAGE";
    case 14: return "OLDIMAGE";
    case 15: return "DIFIMAGE";
    case 18: return "LOGEXTFIL";
    case 19: return "NODEXTFIL";
    default: return std::to_string(type);
  }
}

BOOL CLastUser::OnInitDialog() {
  CVKTDialog::OnInitDialog();
  m_name.SetFormat(20, "<!_");
  m_when.SetFormat(20, "<!_");
  m_logs.SetFormat(5, "<!_", filter_digit);
  m_logs.SetText("5");
  m_logs.EnableWindow(TRUE);

  m_grid.SetSheetCount(2);
  m_grid.SetSheetName(1, "Operazioni");
  m_grid.SetSheetName(2, "Immagini");
  for (int sheet : {1, 2}) {
    m_grid.sheet(sheet) = CHistoryGrid::Sheet{m_grid.sheet(sheet).name, {}, {}, 0, 1};
  }
  m_grid.SetLook(RGB(255, 255, 255), RGB(219, 229, 241), RGB(184, 204, 228), RGB(147, 178, 227),
                 RGB(141, 171, 214));
  {
    auto& ops = m_grid.sheet(1).columns;
    ops = {{"Operazione", 11, CHistoryGrid::kText, false},
           {"Utente", 12, CHistoryGrid::kText, false},
           {"Stazione", 12, CHistoryGrid::kText, false},
           {"Data e ora", 18, CHistoryGrid::kText, true},
           {"Transazione", 10, CHistoryGrid::kInteger, false},
           {"Sequenza", 9, CHistoryGrid::kInteger, false},
           {"Posizione", 9, CHistoryGrid::kInteger, false},
           {"Pos. alta", 8, CHistoryGrid::kInteger, false}};
  }

  if (schema && table && table->ifil) {
    for (int32_t i = 0; schema[i].fsymb && schema[i].fsymb[0] != '\0'; ++i) {
      if (firstField < 0 && SameName(schema[i].fsymb, table->ifil->rfstfld)) firstField = i;
      if (firstField >= 0 && SameName(schema[i].fsymb, table->ifil->rlstfld)) {
        lastField = i;
        break;
      }
    }
    if (firstField < 0 || lastField < 0) firstField = lastField = -1;
  }
  if (firstField >= 0) {
    auto& cols = m_grid.sheet(2).columns;
    for (int32_t i = firstField; i <= lastField; ++i) {
      const DATOBJ& f = schema[i];
      CHistoryGrid::Column c{f.fsymb, 0, CHistoryGrid::kDefault, false};
      switch (f.ftype) {
        case 8: case 16: case 24: c.kind = CHistoryGrid::kCheck; c.centred = true; c.width = 8; break;
        case 33: case 51: c.kind = CHistoryGrid::kInteger; break;
        case 75: c.kind = CHistoryGrid::kDate; c.centred = true; c.width = 12; break;
        case 83: c.kind = CHistoryGrid::kText; c.centred = true; c.width = 9; break;
        case 91: case 103: c.kind = CHistoryGrid::kNumber4; c.width = 12; break;
        case 124: c.kind = CHistoryGrid::kText; c.centred = true; c.width = 14; break;
        case 144: c.kind = CHistoryGrid::kText; c.width = std::clamp(static_cast<int>(f.flen / 1.2), 8, 50); break;
        default:
          vkt::Report(kHistoryUnknownType, vkt::controls::MessageCaption(), MB_OK | MB_ICONEXCLAMATION);
          break;
      }
      cols.push_back(std::move(c));
    }
  }

  m_grid.SetActiveSheet(2);
  m_name.SetText(name);
  m_filter.EnableWindow(FALSE);
  m_filter.ShowWindow(SW_HIDE);
  if (when != 0) {
    COleDateTime t(when);
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%04d  %02d:%02d:%02d", t.GetDay(), t.GetMonth(), t.GetYear(),
                  t.GetHour(), t.GetMinute(), t.GetSecond());
    m_when.SetText(text);
  }
  GotoDlgCtrl(&m_grid);
  return FALSE;
}

std::string CLastUser::FieldText(const DATOBJ& f, const unsigned char* at) const {
  char text[64];
  switch (f.ftype) {
    case 8: case 16: case 24: return at[0] != 0 ? "1" : "0";
    case 33: return std::to_string(Read<int16_t>(at));
    case 51: return std::to_string(Read<int32_t>(at));
    case 75: {
      int32_t day = Read<int32_t>(at);
      if (day == 0) return std::string();
      std::snprintf(text, sizeof text, "%02d/%02d/%04d", Day(day), Month(day), Year(day));
      return text;
    }
    case 83: {
      int32_t t = Read<int32_t>(at);
      if (t == 0) return std::string();
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", Hour(t), Minute(t), Second(t));
      return text;
    }
    case 91: std::snprintf(text, sizeof text, "%.4f", Read<float>(at)); return text;
    case 103: std::snprintf(text, sizeof text, "%.4f", Read<double>(at)); return text;
    case 124: return OleText(Read<double>(at));
    case 144: return std::string(reinterpret_cast<const char*>(at), strnlen(reinterpret_cast<const char*>(at), f.flen));
    default: return std::string();
  }
}

void CLastUser::AddEntry(const char* entry, int32_t recordLength) {
  const int16_t type = Read<int16_t>(entry + 40);
  if (type == 13) return;
  // The user text is bounded by the buffer's last byte, always zero.
  const char* who = entry + 44 + recordLength;
  std::string user(who, strnlen(who, sizeof buf_stampa - 1 - (44 + static_cast<size_t>(recordLength))));
  std::string station;
  if (size_t bar = user.find('|'); bar != std::string::npos) {
    station = user.substr(bar + 1);
    user.resize(bar);
  }
  const int current = m_grid.GetActiveSheet();
  m_grid.SetActiveSheet(1);
  int row = m_grid.AddRow();
  m_grid.SetText(5, row, std::to_string(Read<int32_t>(entry + 4)));
  m_grid.SetText(6, row, std::to_string(Read<int32_t>(entry + 8)));
  m_grid.SetText(7, row, std::to_string(Read<int32_t>(entry + 12)));
  m_grid.SetText(8, row, std::to_string(Read<int32_t>(entry + 16)));
  m_grid.SetText(1, row, ImageTypeName(type));
  m_grid.SetText(2, row, user);
  m_grid.SetText(3, row, station);
  m_grid.SetText(4, row, UnixText(Read<int32_t>(entry + 24)));
  if (firstField >= 0) {
    m_grid.SetActiveSheet(2);
    int r = m_grid.AddRow();
    const auto* image = reinterpret_cast<const unsigned char*>(entry + 44);
    int32_t offset = 0;
    for (int32_t i = firstField; i <= lastField; ++i) {
      const DATOBJ& f = schema[i];
      if (offset + f.flen <= recordLength) m_grid.SetText(i - firstField + 1, r, FieldText(f, image + offset));
      offset += f.flen;
    }
  }
  m_grid.SetActiveSheet(current);
}

void CLastUser::OnOK() { OnClickOk(); }

void CLastUser::OnClickOk() {
  if (!m_ok.IsWindowEnabled()) return;
  if (recordLow != 0 && table != nullptr && table->ifil != nullptr) {
    const int32_t length = table->ifil->dreclen;
    if (length + 144 >= static_cast<int32_t>(sizeof buf_stampa)) {
      vkt::Report(kHistoryRecordTooLarge, vkt::controls::MessageCaption(), MB_OK | MB_ICONSTOP);
    } else {
      m_ok.EnableWindow(FALSE);
      m_filter.ShowWindow(SW_HIDE);
      m_logs.EnableWindow(FALSE);
      vkt::services().WaitCursor(true);
      std::memset(buf_stampa, 0, sizeof buf_stampa);
      char logs_text[8];
      m_logs.GetText(logs_text);
      const int32_t logs = std::atoi(logs_text);
      bool read = true;
      if (logs != 0) read = DBTransactionHistory(-1, nullptr, nullptr, logs, 0, 256) == 0;
      if (read) {
        if (table->createBlock && (table->createBlock->x8mode & 64)) DBctSETHGH(recordHigh);
        const int16_t file = static_cast<int16_t>(table->ifil->tfilno);
        // One byte short of the buffer: the last entry's text always ends
        // in a zero of ours.
        const int32_t room = static_cast<int32_t>(sizeof buf_stampa) - 1;
        int16_t status = DBTransactionHistory(file, nullptr, buf_stampa, recordLow, room, 32834);
        while (status == 0) {
          // An entry of another record ends the history: both words of its
          // position are compared, a file past 4 GB having records that
          // share the low word.
          if (Read<int32_t>(buf_stampa + 12) != recordLow || Read<int32_t>(buf_stampa + 16) != recordHigh) break;
          AddEntry(buf_stampa, length);
          status = DBTransactionHistory(file, nullptr, buf_stampa, 0, room, 4);
        }
      }
      DBTransactionHistory(-1, nullptr, nullptr, -1, 0, 1);
      DBFreeHistory();
      const int current = m_grid.GetActiveSheet();
      m_grid.SetActiveSheet(2);
      const int rows = m_grid.GetMaxRows(), cols = m_grid.GetMaxCols();
      for (int r = 1; r < rows; ++r)
        for (int c = 1; c <= cols; ++c)
          if (m_grid.GetText(c, r) != m_grid.GetText(c, r + 1)) m_grid.SetCellBack(c, r, kHistoryChanged);
      (void)current;
      m_grid.SetActiveSheet(1);
      vkt::services().WaitCursor(false);
    }
  }
  GotoDlgCtrl(&m_grid);
  filtered = 0;
  m_ok.EnableWindow(TRUE);
  m_filter.SetWindowText(kHistoryFilter);
  m_filter.EnableWindow(TRUE);
  m_filter.ShowWindow(SW_SHOW);
}

void CLastUser::OnClickFiltra() {
  m_grid.SetRedraw(false);
  CHistoryGrid::Sheet& images = m_grid.sheet(2);
  if (filtered == 0) {
    for (size_t c = 0; c < images.columns.size(); ++c) {
      bool changed = false;
      for (const auto& row : images.rows) changed = changed || row[c].back == kHistoryChanged;
      images.columns[c].hidden = !changed;
    }
    m_filter.SetWindowText(kHistoryShowAll);
    filtered = 1;
  } else {
    for (auto& c : images.columns) c.hidden = false;
    m_filter.SetWindowText(kHistoryFilter);
    filtered = 0;
  }
  m_grid.SetRedraw(true);
}

void CLastUser::OnSheetChangedSpread(int oldSheet, int newSheet) {
  if (oldSheet < 1 || oldSheet > m_grid.GetSheetCount()) return;
  int row = m_grid.sheet(oldSheet).active_row;
  (void)newSheet;
  m_grid.SetActiveRow(row);
}

BOOL CLastUser::OnCommand(WPARAM w, LPARAM l) {
  if (LOWORD(w) == IDC_LASTUSER_GRID && HIWORD(w) == kHistorySheetChanged) {
    OnSheetChangedSpread(m_grid.GetPreviousSheet(), m_grid.GetActiveSheet());
    return TRUE;
  }
  return CVKTDialog::OnCommand(w, l);
}

BOOL CLastUser::OnCmdMsg(UINT id, int code, void* extra, void* handler_info) {
  if (code == CN_COMMAND && id == IDOK) {
    OnClickOk();
    return TRUE;
  }
  if (code == CN_COMMAND && id == IDC_LASTUSER_FILTER) {
    OnClickFiltra();
    return TRUE;
  }
  return CVKTDialog::OnCmdMsg(id, code, extra, handler_info);
}

BOOL CLastUser::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN || msg->message == WM_SYSKEYDOWN) {
    const bool on_grid = msg->hwnd == m_grid.m_hWnd;
    const bool shift = ::GetKeyState(VK_SHIFT) < 0;
    switch (msg->wParam) {
      case VK_RETURN: {
        CButton* button = dynamic_cast<CButton*>(CWnd::FromHandlePermanent(msg->hwnd));
        if (!button) {
          NextDlgCtrl();
          return TRUE;
        }
        if (button == &m_ok) {
          OnClickOk();
          return TRUE;
        }
        if (button == &m_filter) {
          OnClickFiltra();
          return TRUE;
        }
        break;
      }
      case VK_ESCAPE:
        EndDialog(IDCANCEL);
        return TRUE;
      case VK_UP: {
        const int rows = m_grid.GetMaxRows(), row = m_grid.GetActiveRow();
        if (on_grid && rows > 0 && row > 1 && !shift) break;  // the grid moves up
        if (shift) vkt::win::SetKeyDown(VK_SHIFT, false);
        PrevDlgCtrl();
        return TRUE;
      }
      case VK_DOWN: {
        const int rows = m_grid.GetMaxRows(), row = m_grid.GetActiveRow();
        if (on_grid && rows > 0 && row < rows && !shift) break;  // the grid moves down
        if (shift) vkt::win::SetKeyDown(VK_SHIFT, false);
        NextDlgCtrl();
        return TRUE;
      }
      case VK_F2:
        OnClickOk();
        return TRUE;
      case VK_F3:
        if (m_filter.IsWindowEnabled()) OnClickFiltra();
        return TRUE;
      default:
        break;
    }
  }
  return CVKTDialog::PreTranslateMessage(msg);
}
