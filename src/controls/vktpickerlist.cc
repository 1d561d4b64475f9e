#include "controls/vktpickerlist.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <strings.h>

#include "win/cp1252.h"
#include "win/gdi.h"

namespace vkt::controls {
namespace {

std::string Shown(const std::string& name) {
  std::string out;
  if (vkt::win::Utf8ToCp1252(name, &out)) return out;
  return out.empty() ? name : out;
}

bool NameLess(const PickerEntry& a, const PickerEntry& b) {
  const int c = strcasecmp(a.label.c_str(), b.label.c_str());
  return c != 0 ? c < 0 : a.label < b.label;
}

}  // namespace

bool IsFolder(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string NormalFolder(const std::string& path) {
  if (path.empty()) return path;
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty() && parts.back() != "..") parts.pop_back();
      else if (path[0] != '/') parts.push_back(part);
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out = path[0] == '/' ? "/" : "";
  for (size_t k = 0; k < parts.size(); ++k) out += (k ? "/" : "") + parts[k];
  return out.empty() ? "." : out;
}

std::string ParentFolder(const std::string& path) {
  std::string p = NormalFolder(path);
  if (p == "/" || p.empty()) return "/";
  const size_t slash = p.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : p.substr(0, slash);
}

std::vector<PickerEntry> ListFolder(const std::string& folder, bool files,
                                    const std::vector<std::string>& patterns) {
  std::vector<PickerEntry> dirs, plain;
  const std::string base = NormalFolder(folder);
  DIR* d = opendir(base.c_str());
  if (d == nullptr) return {};
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    const std::string path = base == "/" ? "/" + name : base + "/" + name;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      dirs.push_back({Shown(name), path, true});
    } else if (files && S_ISREG(st.st_mode)) {
      bool match = patterns.empty();
      for (const std::string& p : patterns)
        if (fnmatch(p.c_str(), name.c_str(), FNM_CASEFOLD) == 0) match = true;
      if (match) plain.push_back({Shown(name), path, false});
    }
  }
  closedir(d);
  std::sort(dirs.begin(), dirs.end(), NameLess);
  std::sort(plain.begin(), plain.end(), NameLess);
  std::vector<PickerEntry> out;
  if (base != "/") out.push_back({"..", ParentFolder(base), true});
  out.insert(out.end(), dirs.begin(), dirs.end());
  out.insert(out.end(), plain.begin(), plain.end());
  return out;
}

}  // namespace vkt::controls

BOOL CVKTPickerList::Create(const CRect& rect, CWnd* parent, UINT id) {
  static const bool registered =
      vkt::win::RegisterWindowClass("VKTPickerList", &vkt::win::DefaultClassProc) || true;
  (void)registered;
  return CWnd::Create("VKTPickerList", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER, rect,
                      parent, id);
}

void CVKTPickerList::Fill(std::vector<vkt::controls::PickerEntry> entries) {
  entries_ = std::move(entries);
  sel_ = -1;
  top_ = 0;
  Invalidate();
}

int CVKTPickerList::Find(const std::string& path) const {
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].path == path && entries_[i].label != "..") return static_cast<int>(i);
  return -1;
}

int CVKTPickerList::VisibleRows() const {
  CRect r;
  GetClientRect(&r);
  return std::max(1, (r.Height() - 4) / kRowHeight);
}

int CVKTPickerList::RowAt(CPoint point) const {
  if (point.y < 2) return -1;
  const int row = top_ + (point.y - 2) / kRowHeight;
  return row < GetCount() ? row : -1;
}

CPoint CVKTPickerList::RowCenter(int index) const {
  CRect r;
  GetClientRect(&r);
  return CPoint(r.Width() / 2, 2 + (index - top_) * kRowHeight + kRowHeight / 2);
}

void CVKTPickerList::SetCurSel(int index) { Select(index, false); }

void CVKTPickerList::Select(int index, bool notify) {
  if (index < -1 || index >= GetCount()) return;
  const bool changed = index != sel_;
  sel_ = index;
  if (sel_ >= 0) {
    if (sel_ < top_) top_ = sel_;
    if (sel_ >= top_ + VisibleRows()) top_ = sel_ - VisibleRows() + 1;
  }
  Invalidate();
  if (changed && notify) Notify(kSelChange);
}

void CVKTPickerList::Notify(WORD code) {
  if (CWnd* parent = GetParent())
    parent->SendMessage(WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID()), code),
                        reinterpret_cast<LPARAM>(m_hWnd));
}

LRESULT CVKTPickerList::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  if (msg == WM_GETDLGCODE) return DLGC_WANTARROWS | (w == VK_RETURN ? DLGC_WANTMESSAGE : 0);
  return CWnd::WindowProc(msg, w, l);
}

void CVKTPickerList::OnLButtonDown(UINT, CPoint point) {
  SetFocus();
  const int row = RowAt(point);
  if (row >= 0) Select(row, true);
}

void CVKTPickerList::OnLButtonDblClk(UINT, CPoint point) {
  const int row = RowAt(point);
  if (row < 0) return;
  Select(row, true);
  Notify(kActivate);
}

void CVKTPickerList::OnKeyDown(UINT vk, UINT, UINT) {
  const int n = GetCount();
  if (n == 0) return;
  switch (vk) {
    case VK_UP: Select(sel_ <= 0 ? 0 : sel_ - 1, true); break;
    case VK_DOWN: Select(sel_ < 0 ? 0 : std::min(n - 1, sel_ + 1), true); break;
    case VK_HOME: Select(0, true); break;
    case VK_END: Select(n - 1, true); break;
    case VK_PRIOR: Select(std::max(0, (sel_ < 0 ? 0 : sel_) - VisibleRows()), true); break;
    case VK_NEXT: Select(std::min(n - 1, (sel_ < 0 ? 0 : sel_) + VisibleRows()), true); break;
    case VK_RETURN:
      if (sel_ >= 0) Notify(kActivate);
      break;
    default: break;
  }
}

void CVKTPickerList::OnSetFocus(CWnd*) {
  focused_ = true;
  Invalidate();
}

void CVKTPickerList::OnKillFocus(CWnd*) {
  focused_ = false;
  Invalidate();
}

void CVKTPickerList::OnPaint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  dc.FillSolidRect(rc, vkt::win::GetSysColor(COLOR_WINDOW));
  dc.DrawEdge(rc, EDGE_SUNKEN, BF_RECT);
  HFONT old = dc.SelectFont(GetFont() ? GetFont()->GetSafeHandle() : vkt::win::DefaultGuiFontHandle());
  dc.SetBkMode(TRANSPARENT);
  const int rows = VisibleRows();
  for (int i = top_; i < GetCount() && i < top_ + rows; ++i) {
    const auto& e = entries_[i];
    CRect row(2, 2 + (i - top_) * kRowHeight, rc.Width() - 2, 2 + (i - top_ + 1) * kRowHeight);
    const bool sel = i == sel_;
    if (sel) dc.FillSolidRect(row, focused_ ? vkt::win::GetSysColor(COLOR_HIGHLIGHT) : RGB(204, 204, 204));
    // A folder glyph, or a sheet for a file.
    CRect icon(row.left + 4, row.top + 3, row.left + 18, row.bottom - 3);
    if (e.folder) {
      dc.FillSolidRect(CRect(icon.left, icon.top, icon.left + 6, icon.top + 3), RGB(214, 170, 60));
      dc.FillSolidRect(CRect(icon.left, icon.top + 2, icon.right, icon.bottom), RGB(240, 200, 80));
      dc.FrameRect(CRect(icon.left, icon.top + 2, icon.right, icon.bottom), RGB(180, 140, 40));
    } else {
      CRect sheet(icon.left + 2, icon.top - 1, icon.right - 2, icon.bottom + 1);
      dc.FillSolidRect(sheet, RGB(255, 255, 255));
      dc.FrameRect(sheet, RGB(120, 120, 120));
    }
    dc.SetTextColor(sel && focused_ ? vkt::win::GetSysColor(COLOR_HIGHLIGHTTEXT)
                                    : vkt::win::GetSysColor(COLOR_WINDOWTEXT));
    CRect text(row.left + 24, row.top, row.right - 2, row.bottom);
    dc.DrawText(e.label, text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  dc.SelectFont(old);
}
