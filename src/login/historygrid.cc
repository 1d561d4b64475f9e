#include "login/historygrid.h"

#include <algorithm>

#include "win/gdi.h"
#include "win/winconst.h"

namespace {

CPoint PointOf(LPARAM l) {
  return CPoint(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
                static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
}

constexpr int kTabHeight = 20;
constexpr int kTabWidth = 110;
constexpr int kCharWidth = 7;
constexpr int kDefaultWidth = 9;

}  // namespace

namespace vkt::login {
void RegisterHistoryGridClass() {
  vkt::win::RegisterWindowClass(kHistoryGridClass, vkt::win::DefaultClassProc);
}
}  // namespace vkt::login

CHistoryGrid::CHistoryGrid() { SetSheetCount(1); }
CHistoryGrid::~CHistoryGrid() = default;

void CHistoryGrid::SetSheetCount(int n) {
  sheets_.assign(static_cast<size_t>(std::max(1, n)), Sheet{});
  for (size_t i = 0; i < sheets_.size(); ++i) sheets_[i].name = "Foglio " + std::to_string(i + 1);
  active_ = previous_ = 1;
  Repaint();
}

void CHistoryGrid::SetSheetName(int n, const std::string& name) {
  if (n >= 1 && n <= GetSheetCount()) sheet(n).name = name;
  Repaint();
}

void CHistoryGrid::SetActiveSheet(int n) {
  if (n < 1 || n > GetSheetCount() || n == active_) return;
  previous_ = active_;
  active_ = n;
  Repaint();
  if (m_hWnd)
    if (CWnd* parent = GetParent())
      parent->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID()), kHistorySheetChanged),
                          reinterpret_cast<LPARAM>(m_hWnd));
}

void CHistoryGrid::ClearSheet() {
  Sheet& s = sheet(active_);
  s.rows.clear();
  s.active_row = 0;
  s.top = 1;
  Repaint();
}

void CHistoryGrid::AddColumn(Column c) {
  Sheet& s = sheet(active_);
  s.left = 1;
  s.columns.push_back(std::move(c));
  for (auto& r : s.rows) r.resize(s.columns.size());
  Repaint();
}

int CHistoryGrid::GetMaxCols() const { return static_cast<int>(sheet(active_).columns.size()); }
int CHistoryGrid::GetMaxRows() const { return static_cast<int>(sheet(active_).rows.size()); }

int CHistoryGrid::AddRow() {
  Sheet& s = sheet(active_);
  s.rows.emplace_back(s.columns.size());
  if (s.active_row == 0) s.active_row = 1;
  Repaint();
  return static_cast<int>(s.rows.size());
}

CHistoryGrid::Cell* CHistoryGrid::At(int col, int row) {
  Sheet& s = sheet(active_);
  if (row < 1 || row > static_cast<int>(s.rows.size()) || col < 1 ||
      col > static_cast<int>(s.columns.size()))
    return nullptr;
  return &s.rows[static_cast<size_t>(row - 1)][static_cast<size_t>(col - 1)];
}

const CHistoryGrid::Cell* CHistoryGrid::At(int col, int row) const {
  return const_cast<CHistoryGrid*>(this)->At(col, row);
}

void CHistoryGrid::SetText(int col, int row, const std::string& text) {
  if (Cell* c = At(col, row)) c->text = text;
  Repaint();
}

std::string CHistoryGrid::GetText(int col, int row) const {
  const Cell* c = At(col, row);
  return c ? c->text : std::string();
}

void CHistoryGrid::SetCellBack(int col, int row, COLORREF back) {
  if (Cell* c = At(col, row)) c->back = back;
  Repaint();
}

COLORREF CHistoryGrid::GetCellBack(int col, int row) const {
  const Cell* c = At(col, row);
  return c ? c->back : kNoCellBack;
}

void CHistoryGrid::SetColHidden(int col, bool hidden) {
  Sheet& s = sheet(active_);
  if (col >= 1 && col <= static_cast<int>(s.columns.size())) s.columns[static_cast<size_t>(col - 1)].hidden = hidden;
  Repaint();
}

bool CHistoryGrid::GetColHidden(int col) const {
  const Sheet& s = sheet(active_);
  return col >= 1 && col <= static_cast<int>(s.columns.size()) && s.columns[static_cast<size_t>(col - 1)].hidden;
}

int CHistoryGrid::GetActiveRow() const { return sheet(active_).active_row; }

void CHistoryGrid::SetActiveRow(int row) {
  Sheet& s = sheet(active_);
  int n = static_cast<int>(s.rows.size());
  s.active_row = n == 0 ? 0 : std::clamp(row, 1, n);
  Scroll();
  Repaint();
}

int CHistoryGrid::PixelWidth(const Column& c) {
  return (c.width > 0 ? c.width : kDefaultWidth) * kCharWidth + 8;
}

void CHistoryGrid::SetLook(COLORREF odd, COLORREF even, COLORREF header, COLORREF lines, COLORREF selection) {
  odd_ = odd;
  even_ = even;
  header_ = header;
  lines_ = lines;
  selection_ = selection;
  Repaint();
}

void CHistoryGrid::SetRedraw(bool on) {
  redraw_ = on;
  if (on) Repaint();
}

void CHistoryGrid::Repaint() {
  if (redraw_ && m_hWnd) Invalidate();
}

int CHistoryGrid::VisibleRows() const {
  if (!m_hWnd) return 1;
  CRect rc;
  GetClientRect(&rc);
  return std::max(1, (rc.Height() - kTabHeight) / RowHeight() - 1);
}

void CHistoryGrid::Scroll() {
  Sheet& s = sheet(active_);
  if (s.active_row == 0) {
    s.top = 1;
    return;
  }
  int page = VisibleRows();
  if (s.active_row < s.top) s.top = s.active_row;
  if (s.active_row >= s.top + page) s.top = s.active_row - page + 1;
}

void CHistoryGrid::Paint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  dc.FillSolidRect(rc, RGB(171, 171, 171));
  const Sheet& s = sheet(active_);
  const int h = RowHeight();
  const int rows_bottom = rc.bottom - kTabHeight;
  dc.SetBkMode(TRANSPARENT);
  // Row-number column, then the visible columns.
  const int lead = 34;
  dc.FillSolidRect(CRect(0, 0, lead, h), header_);
  dc.Draw3dRect(CRect(0, 0, lead, h), RGB(255, 255, 255), lines_);
  int x = lead;
  for (size_t ci = static_cast<size_t>(s.left - 1); ci < s.columns.size(); ++ci) {
    const Column& c = s.columns[ci];
    if (c.hidden) continue;
    CRect cell(x, 0, x + PixelWidth(c), h);
    dc.FillSolidRect(cell, header_);
    dc.Draw3dRect(cell, RGB(255, 255, 255), lines_);
    dc.SetTextColor(RGB(0, 0, 0));
    CRect text = cell;
    text.DeflateRect(3, 0);
    dc.DrawText(c.header, text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    x += PixelWidth(c);
  }
  bool focused = ::GetFocus() == m_hWnd;
  int y = h;
  for (int r = s.top; r <= static_cast<int>(s.rows.size()) && y + h <= rows_bottom; ++r, y += h) {
    const bool active = r == s.active_row;
    COLORREF row_back = r % 2 == 1 ? odd_ : even_;
    CRect num(0, y, lead, y + h);
    dc.FillSolidRect(num, active ? selection_ : header_);
    dc.Draw3dRect(num, RGB(255, 255, 255), lines_);
    dc.SetTextColor(RGB(0, 0, 0));
    dc.DrawText(std::to_string(r), num, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    x = lead;
    for (size_t c = static_cast<size_t>(s.left - 1); c < s.columns.size(); ++c) {
      const Column& col = s.columns[c];
      if (col.hidden) continue;
      const Cell& cell = s.rows[static_cast<size_t>(r - 1)][c];
      CRect box(x, y, x + PixelWidth(col), y + h);
      COLORREF back = cell.back != kNoCellBack ? cell.back : row_back;
      if (active && focused && cell.back == kNoCellBack) back = selection_;
      dc.FillSolidRect(box, back);
      dc.FrameRect(CRect(box.left, box.top, box.right + 1, box.bottom + 1), lines_);
      if (col.kind == kCheck) {
        const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
        CRect tick(cx - 6, cy - 6, cx + 7, cy + 7);
        dc.FillSolidRect(tick, RGB(255, 255, 255));
        dc.FrameRect(tick, RGB(80, 80, 80));
        if (cell.text == "1") {
          dc.SelectPen(CPen(PS_SOLID, 2, RGB(0, 0, 0)));
          dc.MoveTo(tick.left + 3, tick.top + 6);
          dc.LineTo(tick.left + 5, tick.top + 9);
          dc.LineTo(tick.left + 10, tick.top + 3);
        }
      } else {
        CRect text = box;
        text.DeflateRect(3, 0);
        UINT align = col.centred ? DT_CENTER
                     : (col.kind == kInteger || col.kind == kNumber4) ? DT_RIGHT
                                                                      : DT_LEFT;
        dc.DrawText(cell.text, text, align | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
      }
      x += PixelWidth(col);
    }
    if (active) dc.FrameRect(CRect(lead, y, x + 1, y + h + 1), RGB(0, 0, 0));
  }
  // The sheet tabs.
  dc.FillSolidRect(CRect(0, rows_bottom, rc.right, rc.bottom), RGB(240, 240, 240));
  for (int i = 1; i <= GetSheetCount(); ++i) {
    CRect tab(4 + (i - 1) * kTabWidth, rows_bottom, 4 + i * kTabWidth - 2, rc.bottom - 2);
    dc.FillSolidRect(tab, i == active_ ? RGB(255, 255, 255) : RGB(190, 198, 214));
    dc.FrameRect(tab, RGB(120, 120, 120));
    dc.SetTextColor(RGB(0, 0, 0));
    dc.DrawText(sheet(i).name, tab, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }
  dc.FrameRect(rc, focused ? RGB(0, 120, 215) : RGB(130, 135, 144));
}

LRESULT CHistoryGrid::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_KEYDOWN: {
      const bool ctrl = ::GetKeyState(VK_CONTROL) < 0;
      if (ctrl && w == VK_NEXT) {
        SetActiveSheet(active_ % GetSheetCount() + 1);
        return 0;
      }
      if (ctrl && w == VK_PRIOR) {
        SetActiveSheet((active_ + GetSheetCount() - 2) % GetSheetCount() + 1);
        return 0;
      }
      int row = GetActiveRow();
      switch (w) {
        case VK_LEFT: {
          Sheet& sh = sheet(active_);
          if (sh.left > 1) --sh.left;
          Repaint();
          return 0;
        }
        case VK_RIGHT: {
          Sheet& sh = sheet(active_);
          if (sh.left < static_cast<int>(sh.columns.size())) ++sh.left;
          Repaint();
          return 0;
        }
        case VK_UP: SetActiveRow(row - 1); return 0;
        case VK_DOWN: SetActiveRow(row + 1); return 0;
        case VK_HOME: SetActiveRow(1); return 0;
        case VK_END: SetActiveRow(GetMaxRows()); return 0;
        case VK_PRIOR: SetActiveRow(row - VisibleRows()); return 0;
        case VK_NEXT: SetActiveRow(row + VisibleRows()); return 0;
        default: return 0;
      }
    }
    case WM_LBUTTONDOWN: {
      SetFocus();
      CPoint p = PointOf(l);
      CRect rc;
      GetClientRect(&rc);
      if (p.y >= rc.bottom - kTabHeight) {
        int tab = (p.x - 4) / kTabWidth + 1;
        if (p.x >= 4 && tab >= 1 && tab <= GetSheetCount()) SetActiveSheet(tab);
        return 0;
      }
      int r = p.y / RowHeight() - 1 + sheet(active_).top;
      if (p.y >= RowHeight() && r >= 1 && r <= GetMaxRows()) SetActiveRow(r);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Repaint();
      break;
    default:
      break;
  }
  return CWnd::WindowProc(msg, w, l);
}
