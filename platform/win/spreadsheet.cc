#include "win/spreadsheet.h"

#include <algorithm>
#include <cstdlib>

#include "win/ini_file.h"

namespace {

CPoint PointOf(LPARAM l) {
  return CPoint(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
                static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
}

}  // namespace

CSpreadSheet::CSpreadSheet() = default;
CSpreadSheet::~CSpreadSheet() = default;

BOOL CSpreadSheet::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  return CWnd::Create("SpreadSheet", "", style, rect, parent, id);
}

void CSpreadSheet::SetColumns(std::vector<Column> columns) {
  columns_ = std::move(columns);
  Invalidate();
}

int CSpreadSheet::AddRow(std::vector<std::string> cells) {
  rows_.push_back(std::move(cells));
  if (active_ == 0) active_ = 1;
  Invalidate();
  return GetMaxRows();
}

void CSpreadSheet::SetRow(int row, std::vector<std::string> cells) {
  if (row < 1 || row > GetMaxRows()) return;
  rows_[static_cast<size_t>(row - 1)] = std::move(cells);
  Invalidate();
}

void CSpreadSheet::ClearRows() {
  rows_.clear();
  active_ = 0;
  top_ = 1;
  Invalidate();
}

std::string CSpreadSheet::GetText(int col, int row) const {
  if (row < 1 || row > GetMaxRows() || col < 1) return std::string();
  const auto& r = rows_[static_cast<size_t>(row - 1)];
  return static_cast<size_t>(col) <= r.size() ? r[static_cast<size_t>(col - 1)] : std::string();
}

void CSpreadSheet::SetActiveRow(int row) {
  active_ = rows_.empty() ? 0 : std::clamp(row, 1, GetMaxRows());
  Scroll();
  Invalidate();
}

void CSpreadSheet::LoadAppearance(const std::string& ini_path) {
  vkt::win::IniFile ini;
  if (ini_path.empty() || !ini.Load(ini_path)) return;
  auto get = [&](const char* key, long fallback) {
    std::string v = ini.Get("SpreadSettings", key, "");
    if (v.empty()) return fallback;
    char* end = nullptr;
    long n = std::strtol(v.c_str(), &end, 0);
    return end && *end == '\0' ? n : fallback;
  };
  look_.appearance_style = static_cast<int>(get("AppearanceStyle", look_.appearance_style));
  look_.use_visual_styles = static_cast<int>(get("UseVisualStyles", look_.use_visual_styles));
  look_.scroll_bar_style = static_cast<int>(get("ScrollBarStyle", look_.scroll_bar_style));
  look_.gray_area_back = static_cast<COLORREF>(get("GrayAreaBackColor", look_.gray_area_back));
  look_.back_odd = static_cast<COLORREF>(get("clrBackOdd", look_.back_odd));
  look_.fore_odd = static_cast<COLORREF>(get("clrForeOdd", look_.fore_odd));
  look_.back_even = static_cast<COLORREF>(get("clrBackEven", look_.back_even));
  look_.fore_even = static_cast<COLORREF>(get("clrForeEven", look_.fore_even));
  Invalidate();
}

bool CSpreadSheet::Invoke(DISPID id, WORD flags, const VARIANT* arg, VARIANT* result) {
  if (flags & DISPATCH_PROPERTYGET) {
    if (!result) return false;
    switch (id) {
      case kSpreadActiveRow: *result = MakeVariant(static_cast<int32_t>(active_)); return true;
      case kSpreadMaxRows: *result = MakeVariant(static_cast<int32_t>(GetMaxRows())); return true;
      default: break;
    }
    auto it = props_.find(id);
    if (it == props_.end()) return false;
    *result = it->second;
    return true;
  }
  if (flags & DISPATCH_PROPERTYPUT) {
    if (!arg) return false;
    switch (id) {
      case kSpreadActiveRow:
        if (arg->vt != VT_I4) return false;
        SetActiveRow(arg->lVal);
        return true;
      case kSpreadMaxRows:
        return false;  // the rows are the host's
      case kSpreadProp108:
      case kSpreadProp199:
        if (arg->vt != VT_BOOL) return false;
        break;
      case kSpreadProp110:
      case kSpreadProp200:
      case kSpreadProp201:
        if (arg->vt != VT_I4) return false;
        break;
      default:
        break;
    }
    props_[id] = *arg;
    Invalidate();
    return true;
  }
  return false;
}

VARIANT CSpreadSheet::StoredProperty(DISPID id) const {
  auto it = props_.find(id);
  return it == props_.end() ? VARIANT{} : it->second;
}

int CSpreadSheet::RowHeight() const {
  return vkt::win::TextHeight(GetFont() ? GetFont()->GetSafeHandle() : vkt::win::DefaultGuiFontHandle()) + 6;
}

int CSpreadSheet::VisibleRows() const {
  CRect rc;
  GetClientRect(&rc);
  return std::max(1, rc.Height() / RowHeight() - 1);
}

void CSpreadSheet::Scroll() {
  if (active_ == 0) return;
  if (active_ < top_) top_ = active_;
  if (active_ >= top_ + VisibleRows()) top_ = active_ - VisibleRows() + 1;
}

int CSpreadSheet::RowAt(CPoint p) const {
  int h = RowHeight();
  if (p.y < h) return 0;
  int row = top_ + (p.y - h) / h;
  return row <= GetMaxRows() ? row : 0;
}

void CSpreadSheet::Paint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  dc.FillSolidRect(rc, look_.gray_area_back);
  int h = RowHeight();
  dc.SetBkMode(TRANSPARENT);
  int x = 0;
  for (size_t c = 0; c < columns_.size(); ++c) {
    CRect cell(x, 0, x + columns_[c].width, h);
    dc.FillSolidRect(cell, look_.header_back);
    dc.Draw3dRect(cell, RGB(255, 255, 255), RGB(160, 160, 160));
    dc.SetTextColor(RGB(0, 0, 0));
    CRect text = cell;
    text.DeflateRect(4, 0);
    dc.DrawText(columns_[c].header, text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    x += columns_[c].width;
  }
  bool focused = ::GetFocus() == m_hWnd;
  for (int r = top_, y = h; r <= GetMaxRows() && y < rc.bottom; ++r, y += h) {
    bool odd = r % 2 == 1;
    bool active = r == active_;
    COLORREF back = active ? (focused ? look_.selection_back : RGB(200, 200, 200))
                           : (odd ? look_.back_odd : look_.back_even);
    COLORREF fore = active && focused ? look_.selection_fore : (odd ? look_.fore_odd : look_.fore_even);
    x = 0;
    for (size_t c = 0; c < columns_.size(); ++c) {
      CRect cell(x, y, x + columns_[c].width, y + h);
      dc.FillSolidRect(cell, back);
      dc.FrameRect(CRect(cell.left, cell.top, cell.right + 1, cell.bottom + 1), RGB(208, 215, 229));
      dc.SetTextColor(fore);
      CRect text = cell;
      text.DeflateRect(4, 0);
      dc.DrawText(GetText(static_cast<int>(c) + 1, r), text,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      x += columns_[c].width;
    }
  }
  dc.FrameRect(rc, focused ? RGB(0, 120, 215) : RGB(130, 135, 144));
}

LRESULT CSpreadSheet::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS;
    case WM_KEYDOWN: {
      if (rows_.empty()) return 0;
      int page = VisibleRows();
      switch (w) {
        case VK_UP: SetActiveRow(active_ - 1); return 0;
        case VK_DOWN: SetActiveRow(active_ + 1); return 0;
        case VK_HOME: SetActiveRow(1); return 0;
        case VK_END: SetActiveRow(GetMaxRows()); return 0;
        case VK_PRIOR: SetActiveRow(active_ - page); return 0;
        case VK_NEXT: SetActiveRow(active_ + page); return 0;
        default: return 0;
      }
    }
    case WM_LBUTTONDOWN: {
      SetFocus();
      int row = RowAt(PointOf(l));
      if (row > 0) SetActiveRow(row);
      return 0;
    }
    case WM_LBUTTONDBLCLK: {
      int row = RowAt(PointOf(l));
      if (row > 0) {
        SetActiveRow(row);
        if (CWnd* p = GetParent())
          p->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID()), kSpreadDblClick),
                         reinterpret_cast<LPARAM>(m_hWnd));
      }
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    default:
      return CAxControl::WindowProc(msg, w, l);
  }
}
