// The change-history viewer's spreadsheet: sheets of typed columns (text,
// integer, number, date, check box), cells with their own background,
// hidden columns, one active row per sheet and a tab strip to change
// sheet (a click on a tab, Ctrl+Page Up / Ctrl+Page Down); Left and Right
// scroll the columns. A change of
// sheet tells the parent with WM_COMMAND and kHistorySheetChanged.
//
//   grid.SetSheetCount(2);
//   grid.SetActiveSheet(2);
//   grid.AddColumn({"Codice", 8, CHistoryGrid::kText, true});
//   int r = grid.AddRow();
//   grid.SetText(1, r, "C001");
//   grid.SetCellBack(1, r, RGB(255, 255, 140));
#ifndef VKT_LOGIN_HISTORYGRID_H_
#define VKT_LOGIN_HISTORYGRID_H_

#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/window.h"

inline constexpr const char* kHistoryGridClass = "VKTHistoryGrid";
// WM_COMMAND notification code of a change of sheet.
constexpr WORD kHistorySheetChanged = 0x0600;
// No background of its own: the row colour shows.
constexpr COLORREF kNoCellBack = 0xFFFFFFFF;

class VKT_API CHistoryGrid : public CWnd {
 public:
  enum Kind { kDefault, kText, kInteger, kNumber4, kDate, kCheck };
  struct Column {
    std::string header;
    int width = 0;  // in characters; 0: the default width
    Kind kind = kDefault;
    bool centred = false;
    bool hidden = false;
  };
  struct Cell {
    std::string text;
    COLORREF back = kNoCellBack;
  };
  struct Sheet {
    std::string name;
    std::vector<Column> columns;
    std::vector<std::vector<Cell>> rows;
    int active_row = 0;
    int top = 1;
    int left = 1;  // first column shown (Left and Right move it)
  };

  CHistoryGrid();
  ~CHistoryGrid() override;

  // Sheets count from 1. A new count empties every sheet.
  void SetSheetCount(int n);
  int GetSheetCount() const { return static_cast<int>(sheets_.size()); }
  void SetSheetName(int sheet, const std::string& name);
  // Tells the parent (kHistorySheetChanged) when the sheet changes.
  void SetActiveSheet(int sheet);
  int GetActiveSheet() const { return active_; }
  int GetPreviousSheet() const { return previous_; }
  Sheet& sheet(int n) { return sheets_[static_cast<size_t>(n - 1)]; }
  const Sheet& sheet(int n) const { return sheets_[static_cast<size_t>(n - 1)]; }

  // On the active sheet.
  void ClearSheet();
  void AddColumn(Column c);
  int GetMaxCols() const;
  int AddRow();
  int GetMaxRows() const;
  void SetText(int col, int row, const std::string& text);
  std::string GetText(int col, int row) const;
  void SetCellBack(int col, int row, COLORREF c);
  COLORREF GetCellBack(int col, int row) const;
  void SetColHidden(int col, bool hidden);
  bool GetColHidden(int col) const;
  int GetActiveRow() const;
  void SetActiveRow(int row);
  // Pixel width of a column, from its width in characters.
  static int PixelWidth(const Column& c);

  // Alternating row colours and the three further colours (header, grid
  // lines, selection).
  void SetLook(COLORREF odd, COLORREF even, COLORREF header, COLORREF lines, COLORREF selection);
  // Off: changes are not painted until it is switched on again.
  void SetRedraw(bool on);

  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 private:
  Cell* At(int col, int row);
  const Cell* At(int col, int row) const;
  int RowHeight() const { return 18; }
  int VisibleRows() const;
  void Scroll();
  void Paint();
  void Repaint();
  std::vector<Sheet> sheets_;
  int active_ = 0;
  int previous_ = 0;
  bool redraw_ = true;
  COLORREF odd_ = RGB(255, 255, 255), even_ = RGB(219, 229, 241);
  COLORREF header_ = RGB(184, 204, 228), lines_ = RGB(147, 178, 227), selection_ = RGB(141, 171, 214);
};

namespace vkt::login {
// Registers the grid's window class (idempotent).
VKT_API void RegisterHistoryGridClass();
}  // namespace vkt::login

#endif  // VKT_LOGIN_HISTORYGRID_H_
