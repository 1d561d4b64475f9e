// The spreadsheet grid the host supplies for its list windows (its ActiveX
// control behind the CSpreadSheet wrapper), reduced to what the library's
// browse dialogs use: columns with headers, rows of texts, one active row,
// the skin's appearance settings and the members set by dispatch id.
//
//   CSpreadSheet grid;                  // bound to the template's grid
//   DDX_Control(dx, IDC_GRID, grid);
//   grid.SetColumns({{"Codice", 80}, {"Ragione sociale", 240}});
//   grid.AddRow({"C001", "Rossi Mario"});
//   grid.SetActiveRow(1);
//
// Rows count from 1, as the control counts them; 0 is no active row. Up,
// Down, Home, End, Page Up and Page Down move the active row while the grid
// has the focus; a click chooses a row; a double click on a row tells the
// parent with the notification kSpreadDblClick.
#ifndef VKT_WIN_SPREADSHEET_H_
#define VKT_WIN_SPREADSHEET_H_

#include <map>
#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/activex.h"

// The members the library reaches by dispatch id.
constexpr DISPID kSpreadActiveRow = 3;       // 4-byte integer, get and put
constexpr DISPID kSpreadMaxRows = 68;        // 4-byte integer, get
constexpr DISPID kSpreadProp108 = 108;       // boolean
constexpr DISPID kSpreadProp110 = 110;       // 4-byte integer
constexpr DISPID kSpreadProp199 = 199;       // boolean
constexpr DISPID kSpreadProp200 = 200;       // 4-byte integer
constexpr DISPID kSpreadProp201 = 201;       // 4-byte integer
// WM_COMMAND notification code of a double click on a row.
constexpr WORD kSpreadDblClick = 0x0500;

class VKT_API CSpreadSheet : public CAxControl {
 public:
  struct Column {
    std::string header;
    int width = 80;
  };
  // The skin's grid settings (section "SpreadSettings" of the skin INI).
  struct Appearance {
    int appearance_style = 2;
    int use_visual_styles = 0;
    int scroll_bar_style = 3;
    COLORREF gray_area_back = 14922387;
    COLORREF back_odd = 0xFFFFFF;
    COLORREF fore_odd = 0;
    COLORREF back_even = 15853019;
    COLORREF fore_even = 0;
    COLORREF header_back = RGB(220, 228, 240);
    COLORREF selection_back = RGB(51, 153, 255);
    COLORREF selection_fore = RGB(255, 255, 255);
  };

  CSpreadSheet();
  ~CSpreadSheet() override;

  BOOL Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);

  void SetColumns(std::vector<Column> columns);
  const std::vector<Column>& columns() const { return columns_; }
  // Returns the new row's number.
  int AddRow(std::vector<std::string> cells);
  void SetRow(int row, std::vector<std::string> cells);
  void ClearRows();
  int GetMaxRows() const { return static_cast<int>(rows_.size()); }
  // The text of a cell (rows and columns from 1); empty outside the grid.
  std::string GetText(int col, int row) const;
  int GetActiveRow() const { return active_; }
  // Clamped to the rows; 0 only for an empty grid.
  void SetActiveRow(int row);

  // Reads the settings from `ini_path`; missing keys keep their defaults.
  void LoadAppearance(const std::string& ini_path);
  const Appearance& appearance() const { return look_; }

  bool Invoke(DISPID id, WORD flags, const VARIANT* arg, VARIANT* result) override;
  // The value a member was last given by SetProperty (VT_EMPTY when none).
  VARIANT StoredProperty(DISPID id) const;

  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 private:
  int RowAt(CPoint p) const;
  int RowHeight() const;
  int VisibleRows() const;
  void Paint();
  void Scroll();
  std::vector<Column> columns_;
  std::vector<std::vector<std::string>> rows_;
  int active_ = 0;
  int top_ = 1;  // first row shown
  Appearance look_;
  std::map<DISPID, VARIANT> props_;
};

#endif  // VKT_WIN_SPREADSHEET_H_
