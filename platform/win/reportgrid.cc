#include "win/reportgrid.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "win/cp1252.h"

namespace {

CPoint PointOf(LPARAM l) {
  return CPoint(static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l))),
                static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l))));
}

HFONT FontOr(const CFont& f) {
  return f.IsValid() ? f.GetSafeHandle() : vkt::win::DefaultGuiFontHandle();
}

std::vector<CXTPPopupMenuWnd*>& MenuStack() {
  static std::vector<CXTPPopupMenuWnd*> stack;
  return stack;
}

constexpr int kMenuItemHeight = 22;
// What a menu's modal loop ends with when the user chose or dismissed it (a
// loop that ran out of input ends with IDCANCEL instead).
constexpr int kMenuDone = 0x4D454E55;
constexpr int kGroupByHeight = 30;
constexpr int kMinColumnWidth = 20;
constexpr int kMaxColumnWidth = 4000;

}  // namespace

// --- Columns ----------------------------------------------------------------

CXTPReportColumn::CXTPReportColumn(int item_index, const char* caption, int width, BOOL auto_size)
    : item_index_(item_index), caption_(caption ? caption : ""), width_(width), auto_size_(auto_size) {}
CXTPReportColumn::~CXTPReportColumn() = default;

void CXTPReportColumn::SetWidth(int width) {
  width_ = std::clamp(width, kMinColumnWidth, kMaxColumnWidth);
  if (control_) control_->Invalidate();
}

void CXTPReportColumn::SetVisible(BOOL visible) {
  visible_ = visible ? TRUE : FALSE;
  if (control_) control_->Invalidate();
}

void CXTPReportColumn::BestFit() {
  if (!control_) return;
  HFONT text = FontOr(control_->GetPaintManager()->m_fontText);
  HFONT bold = FontOr(control_->GetPaintManager()->m_fontBoldText);
  int best = vkt::win::TextWidth(bold, caption_.GetString());
  for (int i = 0; i < control_->GetRowCount(); ++i) {
    CXTPReportRow* row = control_->GetRow(i);
    if (row->IsGroupRow()) continue;
    XTP_REPORTRECORDITEM_METRICS m;
    CString s = control_->ItemText(row, this, &m);
    best = std::max(best, vkt::win::TextWidth(m.pFont ? m.pFont->GetSafeHandle() : text, s.GetString()));
  }
  SetWidth(best + 12);
}

CXTPReportColumn* CXTPReportColumnOrder::GetAt(int i) const {
  return i >= 0 && i < GetCount() ? columns_[static_cast<size_t>(i)] : nullptr;
}
int CXTPReportColumnOrder::IndexOf(const CXTPReportColumn* c) const {
  auto it = std::find(columns_.begin(), columns_.end(), c);
  return it == columns_.end() ? -1 : static_cast<int>(it - columns_.begin());
}
void CXTPReportColumnOrder::Add(CXTPReportColumn* c) {
  if (c && IndexOf(c) < 0) columns_.push_back(c);
}
void CXTPReportColumnOrder::Remove(CXTPReportColumn* c) {
  columns_.erase(std::remove(columns_.begin(), columns_.end(), c), columns_.end());
}

CXTPReportColumn* CXTPReportColumns::Add(CXTPReportColumn* column) {
  column->control_ = control_;
  columns_.emplace_back(column);
  return column;
}
void CXTPReportColumns::Clear() {
  groups_.Clear();
  sort_.Clear();
  columns_.clear();
}
CXTPReportColumn* CXTPReportColumns::GetAt(int i) const {
  return i >= 0 && i < GetCount() ? columns_[static_cast<size_t>(i)].get() : nullptr;
}
CXTPReportColumn* CXTPReportColumns::Find(int item_index) const {
  for (const auto& c : columns_)
    if (c->GetItemIndex() == item_index) return c.get();
  return nullptr;
}
int CXTPReportColumns::IndexOf(const CXTPReportColumn* c) const {
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].get() == c) return static_cast<int>(i);
  return -1;
}
void CXTPReportColumns::ChangeColumnOrder(int pos, int from) {
  if (from < 0 || from >= GetCount()) return;
  pos = std::clamp(pos, 0, GetCount() - 1);
  auto c = std::move(columns_[static_cast<size_t>(from)]);
  columns_.erase(columns_.begin() + from);
  columns_.insert(columns_.begin() + pos, std::move(c));
}
int CXTPReportColumns::GetVisibleColumnsCount() const {
  return static_cast<int>(std::count_if(columns_.begin(), columns_.end(),
                                        [](const auto& c) { return c->IsVisible(); }));
}

// --- Records and items -----------------------------------------------------

CXTPReportRecordItem::CXTPReportRecordItem() = default;
CXTPReportRecordItem::~CXTPReportRecordItem() = default;
CString CXTPReportRecordItem::GetCaption(CXTPReportColumn*) { return m_strCaption; }
CString CXTPReportRecordItem::GetGroupCaption(CXTPReportColumn* column) {
  CString s = column ? column->GetCaption() : CString();
  s += ": ";
  s += GetCaption(column);
  return s;
}
int CXTPReportRecordItem::Compare(CXTPReportColumn* column, CXTPReportRecordItem* other) {
  std::string a = GetCaption(column).GetString(), b = other->GetCaption(column).GetString();
  for (char& c : a) c = vkt::win::Cp1252ToLower(c);
  for (char& c : b) c = vkt::win::Cp1252ToLower(c);
  return a.compare(b);
}
void CXTPReportRecordItem::OnEditChanged(const char* text) { m_strCaption = text; }
void CXTPReportRecordItem::GetItemMetrics(XTP_REPORTRECORDITEM_DRAWARGS*,
                                          XTP_REPORTRECORDITEM_METRICS*) {}

CXTPReportRecordItemText::CXTPReportRecordItemText(const char* value) : m_strText(value ? value : "") {}
CString CXTPReportRecordItemText::GetCaption(CXTPReportColumn*) {
  return m_strCaption.IsEmpty() ? m_strText : m_strCaption;
}

CXTPReportRecordItemNumber::CXTPReportRecordItemNumber(double value)
    : m_dValue(value), m_strFormatString("%g") {}
CXTPReportRecordItemNumber::CXTPReportRecordItemNumber(double value, const char* format)
    : m_dValue(value), m_strFormatString(format ? format : "%g") {}
bool CXTPReportRecordItemNumber::IsNumberFormat(const char* format) {
  if (!format) return false;
  int conversions = 0;
  for (const char* p = format; *p; ++p) {
    if (*p != '%') continue;
    if (*++p == '%') continue;
    while (*p && std::strchr("-+ #0", *p)) ++p;
    while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    if (*p == '.') {
      ++p;
      while (std::isdigit(static_cast<unsigned char>(*p))) ++p;
    }
    if (*p == 'l') ++p;
    if (!*p || !std::strchr("aAeEfFgG", *p)) return false;
    ++conversions;
  }
  return conversions == 1;
}

std::string CXTPReportRecordItemNumber::FormatValue(const char* format, double value) {
  char buf[512];
  const char* f = IsNumberFormat(format) ? format : "%g";
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  std::snprintf(buf, sizeof buf, f, value);
#pragma GCC diagnostic pop
  return buf;
}

CString CXTPReportRecordItemNumber::GetCaption(CXTPReportColumn*) {
  if (!m_strCaption.IsEmpty()) return m_strCaption;
  return CString(FormatValue(m_strFormatString.GetString(), m_dValue));
}

int CXTPReportRecordItemNumber::Compare(CXTPReportColumn* column, CXTPReportRecordItem* other) {
  if (auto* o = dynamic_cast<CXTPReportRecordItemNumber*>(other))
    return m_dValue < o->m_dValue ? -1 : m_dValue > o->m_dValue ? 1 : 0;
  return CXTPReportRecordItem::Compare(column, other);
}

CXTPReportRecordItemDateTime::CXTPReportRecordItemDateTime(COleDateTime value) : m_odtValue(value) {}
CString CXTPReportRecordItemDateTime::GetCaption(CXTPReportColumn*) {
  if (!m_strCaption.IsEmpty()) return m_strCaption;
  if (m_odtValue.GetStatus() != COleDateTime::valid) return CString();
  return CString(m_odtValue.Format(m_strFormatString.GetString()));
}
int CXTPReportRecordItemDateTime::Compare(CXTPReportColumn* column, CXTPReportRecordItem* other) {
  if (auto* o = dynamic_cast<CXTPReportRecordItemDateTime*>(other)) {
    // Null dates sort first.
    bool a = m_odtValue.GetStatus() == COleDateTime::valid;
    bool b = o->m_odtValue.GetStatus() == COleDateTime::valid;
    if (a != b) return a ? 1 : -1;
    if (!a) return 0;
    return m_odtValue < o->m_odtValue ? -1 : o->m_odtValue < m_odtValue ? 1 : 0;
  }
  return CXTPReportRecordItem::Compare(column, other);
}

CXTPReportRecord::CXTPReportRecord() = default;
CXTPReportRecord::~CXTPReportRecord() = default;
CXTPReportRecordItem* CXTPReportRecord::AddItem(CXTPReportRecordItem* item) {
  item->record_ = this;
  items_.emplace_back(item);
  return item;
}
CXTPReportRecordItem* CXTPReportRecord::GetItem(int index) const {
  return index >= 0 && index < GetItemCount() ? items_[static_cast<size_t>(index)].get() : nullptr;
}
CXTPReportRecordItem* CXTPReportRecord::GetItem(const CXTPReportColumn* column) const {
  return column ? GetItem(column->GetItemIndex()) : nullptr;
}
void CXTPReportRecord::GetItemMetrics(XTP_REPORTRECORDITEM_DRAWARGS*, XTP_REPORTRECORDITEM_METRICS*) {}

CXTPReportRecord* CXTPReportRecords::Add(CXTPReportRecord* record) {
  records_.emplace_back(record);
  return record;
}
CXTPReportRecord* CXTPReportRecords::GetAt(int i) const {
  return i >= 0 && i < GetCount() ? records_[static_cast<size_t>(i)].get() : nullptr;
}

// --- Paint manager ---------------------------------------------------------

CXTPReportPaintManager::CXTPReportPaintManager() {
  LOGFONT lf = vkt::win::DefaultGuiFont();
  m_fontText.CreateFontIndirect(&lf);
  lf.lfWeight = FW_BOLD;
  m_fontBoldText.CreateFontIndirect(&lf);
}

void CXTPReportPaintManager::SetGridStyle(BOOL vertical, int style) {
  (vertical ? vertical_grid_ : horizontal_grid_) = std::clamp(style, 0, 4);
}

// --- XML property exchange -------------------------------------------------

namespace {

pugi::xml_node Node(pugi::xml_node_struct* n) { return pugi::xml_node(n); }

// Element names a layout may use: a letter, then letters, digits, '_', '-',
// '.'. The host's section names may be anything, so they go in an attribute.
bool IsElementName(const char* name) {
  if (!name || !std::isalpha(static_cast<unsigned char>(*name))) return false;
  for (const char* p = name; *p; ++p)
    if (!std::isalnum(static_cast<unsigned char>(*p)) && *p != '_' && *p != '-' && *p != '.')
      return false;
  return true;
}

}  // namespace

CXTPPropExchangeXMLNode::CXTPPropExchangeXMLNode(BOOL loading, const char* root)
    : doc_(std::make_shared<pugi::xml_document>()), root_(root ? root : "Layouts"), loading_(loading) {
  node_ = doc_->append_child(root_.c_str()).internal_object();
}

CXTPPropExchangeXMLNode::CXTPPropExchangeXMLNode(std::shared_ptr<pugi::xml_document> doc,
                                                 pugi::xml_node_struct* node, BOOL loading)
    : doc_(std::move(doc)), node_(node), loading_(loading) {}

CXTPPropExchangeXMLNode::~CXTPPropExchangeXMLNode() = default;

BOOL CXTPPropExchangeXMLNode::LoadFromFile(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    doc_->reset();
    node_ = doc_->append_child(root_.c_str()).internal_object();
    return FALSE;
  };
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return fail(std::strerror(errno));
  if (!S_ISREG(st.st_mode)) return fail("non \xE8 un file");
  if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) return fail("file troppo grande");
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(std::strerror(errno));
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes.size() > kMaxFileSize) return fail("file troppo grande");
  pugi::xml_parse_result r = doc_->load_buffer(bytes.data(), bytes.size(),
                                               pugi::parse_default | pugi::parse_doctype,
                                               pugi::encoding_utf8);
  if (!r) {
    return fail(std::string("XML non valido alla posizione ") + std::to_string(r.offset) + " (" +
                r.description() + ")");
  }
  // A layout never declares entities; a document that does is not ours.
  for (pugi::xml_node n : doc_->children())
    if (n.type() == pugi::node_doctype) return fail("dichiarazione DOCTYPE non ammessa");
  pugi::xml_node root = doc_->document_element();
  if (root_ != root.name()) return fail("elemento radice diverso da " + root_);
  node_ = root.internal_object();
  return TRUE;
}

BOOL CXTPPropExchangeXMLNode::SaveToFile(const std::string& path, std::string* error) {
  std::string tmp = path + ".tmpXXXXXX";
  int fd = mkstemp(tmp.data());
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return FALSE;
  }
  std::ostringstream out;
  doc_->save(out, "  ", pugi::format_default, pugi::encoding_utf8);
  std::string bytes = out.str();
  bool ok = true;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ok = false;
    else done += static_cast<size_t>(n);
  }
  if (ok && fsync(fd) != 0) ok = false;
  if (close(fd) != 0) ok = false;
  if (ok && rename(tmp.c_str(), path.c_str()) != 0) ok = false;
  if (!ok) {
    if (error) *error = path + ": " + std::strerror(errno);
    unlink(tmp.c_str());
    return FALSE;
  }
  return TRUE;
}

std::unique_ptr<CXTPPropExchangeXMLNode> CXTPPropExchangeXMLNode::Section(const char* name,
                                                                          bool named) {
  pugi::xml_node n = Node(node_);
  std::string utf8 = vkt::win::Cp1252ToUtf8(name ? name : "");
  if (!named && !IsElementName(name)) return nullptr;
  pugi::xml_node c;
  for (pugi::xml_node k : n.children()) {
    if (named ? (std::strcmp(k.name(), "Section") == 0 && utf8 == k.attribute("Name").value())
              : utf8 == k.name()) {
      c = k;
      break;
    }
  }
  if (loading_) {
    if (!c) return nullptr;
  } else {
    if (c) n.remove_child(c);
    if (named) {
      c = n.append_child("Section");
      c.append_attribute("Name") = utf8.c_str();
    } else {
      c = n.append_child(utf8.c_str());
    }
  }
  return std::unique_ptr<CXTPPropExchangeXMLNode>(
      new CXTPPropExchangeXMLNode(doc_, c.internal_object(), loading_));
}

std::unique_ptr<CXTPPropExchangeXMLNode> CXTPPropExchangeXMLNode::GetSection(const char* name) {
  return Section(name, false);
}

std::unique_ptr<CXTPPropExchangeXMLNode> CXTPPropExchangeXMLNode::GetNamedSection(const char* name) {
  return Section(name, true);
}

std::vector<std::unique_ptr<CXTPPropExchangeXMLNode>> CXTPPropExchangeXMLNode::GetSections(
    const char* name) {
  std::vector<std::unique_ptr<CXTPPropExchangeXMLNode>> out;
  for (pugi::xml_node c : Node(node_).children(name))
    out.emplace_back(new CXTPPropExchangeXMLNode(doc_, c.internal_object(), loading_));
  return out;
}

std::unique_ptr<CXTPPropExchangeXMLNode> CXTPPropExchangeXMLNode::AddSection(const char* name) {
  pugi::xml_node c = Node(node_).append_child(name);
  return std::unique_ptr<CXTPPropExchangeXMLNode>(
      new CXTPPropExchangeXMLNode(doc_, c.internal_object(), loading_));
}

BOOL CXTPPropExchangeXMLNode::PX_Int(const char* name, int& value, int def) {
  pugi::xml_node n = Node(node_);
  if (!loading_) {
    n.remove_attribute(name);
    n.append_attribute(name) = value;
    return TRUE;
  }
  pugi::xml_attribute a = n.attribute(name);
  const char* s = a.value();
  char* end = nullptr;
  errno = 0;
  long v = a ? std::strtol(s, &end, 10) : 0;
  if (!a || end == s || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
    value = def;
    return FALSE;
  }
  value = static_cast<int>(v);
  return TRUE;
}

BOOL CXTPPropExchangeXMLNode::PX_Bool(const char* name, BOOL& value, BOOL def) {
  pugi::xml_node n = Node(node_);
  if (!loading_) {
    n.remove_attribute(name);
    n.append_attribute(name) = value ? "true" : "false";
    return TRUE;
  }
  std::string s = n.attribute(name).value();
  if (s == "true" || s == "1") value = TRUE;
  else if (s == "false" || s == "0") value = FALSE;
  else {
    value = def;
    return FALSE;
  }
  return TRUE;
}

BOOL CXTPPropExchangeXMLNode::PX_String(const char* name, CString& value, const char* def) {
  pugi::xml_node n = Node(node_);
  if (!loading_) {
    n.remove_attribute(name);
    n.append_attribute(name) = vkt::win::Cp1252ToUtf8(value.GetString()).c_str();
    return TRUE;
  }
  pugi::xml_attribute a = n.attribute(name);
  if (!a) {
    value = def ? def : "";
    return FALSE;
  }
  std::string text;
  vkt::win::Utf8ToCp1252(a.value(), &text);
  value = text;
  return TRUE;
}

// --- Pop-up menu ------------------------------------------------------------

void CXTPMenu::AppendItem(UINT id, const char* text, bool checked) {
  items_.push_back(Item{id, CString(text), checked, nullptr});
}
void CXTPMenu::AppendSubMenu(std::shared_ptr<CXTPMenu> submenu, const char* text) {
  items_.push_back(Item{0, CString(text), false, std::move(submenu)});
}
void CXTPMenu::InsertSubMenu(int pos, std::shared_ptr<CXTPMenu> submenu, const char* text) {
  pos = std::clamp(pos, 0, GetItemCount());
  items_.insert(items_.begin() + pos, Item{0, CString(text), false, std::move(submenu)});
}

CRect CXTPPopupMenuWnd::ItemRect(int pos) const {
  CRect rc;
  GetClientRect(&rc);
  return CRect(2, 2 + pos * kMenuItemHeight, rc.Width() - 2, 2 + (pos + 1) * kMenuItemHeight);
}

CSize CXTPPopupMenuWnd::Measure() {
  int w = 120;
  for (int i = 0; i < menu_->GetItemCount(); ++i)
    w = std::max(w, vkt::win::TextWidth(vkt::win::DefaultGuiFontHandle(),
                                        menu_->GetItem(i).text.GetString()) + 60);
  return CSize(w, menu_->GetItemCount() * kMenuItemHeight + 4);
}

void CXTPPopupMenuWnd::Choose(int pos) {
  if (pos < 0 || pos >= menu_->GetItemCount()) return;
  const CXTPMenu::Item& item = menu_->GetItem(pos);
  highlighted_ = pos;
  if (item.submenu) {
    CRect r = ItemRect(pos);
    CPoint at(r.right, r.top);
    ClientToScreen(&at);
    int cmd = CXTPCommandBars::TrackPopupMenu(item.submenu.get(), xtpTrackReturnCmd, at.x, at.y, nullptr);
    if (cmd == 0) return;  // back in this menu
    chosen_ = cmd;
  } else {
    chosen_ = static_cast<int>(item.id);
  }
  EndModalLoop(kMenuDone);
}

LRESULT CXTPPopupMenuWnd::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_KEYDOWN:
      switch (w) {
        case VK_DOWN:
          highlighted_ = (highlighted_ + 1) % std::max(1, menu_->GetItemCount());
          return 0;
        case VK_UP:
          highlighted_ = highlighted_ <= 0 ? menu_->GetItemCount() - 1 : highlighted_ - 1;
          return 0;
        case VK_RETURN:
          Choose(highlighted_);
          return 0;
        case VK_RIGHT:
          if (highlighted_ >= 0 && menu_->GetItem(highlighted_).submenu) Choose(highlighted_);
          return 0;
        case VK_ESCAPE:
        case VK_LEFT:
          chosen_ = 0;
          EndModalLoop(kMenuDone);
          return 0;
        default:
          return 0;
      }
    case WM_LBUTTONUP: {
      CPoint p = PointOf(l);
      for (int i = 0; i < menu_->GetItemCount(); ++i)
        if (ItemRect(i).PtInRect(p)) Choose(i);
      return 0;
    }
    case WM_PAINT: {
      CPaintDC dc(this);
      CRect rc;
      GetClientRect(&rc);
      dc.FillSolidRect(rc, RGB(250, 250, 250));
      dc.FrameRect(rc, RGB(130, 135, 144));
      dc.SetBkMode(TRANSPARENT);
      for (int i = 0; i < menu_->GetItemCount(); ++i) {
        const CXTPMenu::Item& item = menu_->GetItem(i);
        CRect r = ItemRect(i);
        if (i == highlighted_) dc.FillSolidRect(r, RGB(204, 228, 247));
        dc.SetTextColor(RGB(0, 0, 0));
        if (item.checked) {
          CRect box(r.left + 6, r.top + 5, r.left + 18, r.top + 17);
          dc.FrameRect(box, RGB(0, 90, 160));
          dc.MoveTo(box.left + 2, box.top + 6);
          dc.LineTo(box.left + 5, box.top + 9);
          dc.LineTo(box.left + 10, box.top + 2);
        }
        CRect t(r.left + 26, r.top, r.right - 16, r.bottom);
        dc.DrawText(item.text.GetString(), t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
        if (item.submenu) {
          CRect a(r.right - 16, r.top, r.right - 4, r.bottom);
          dc.DrawText(">", a, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        }
      }
      return 0;
    }
    default:
      return CWnd::WindowProc(msg, w, l);
  }
}

int CXTPCommandBars::TrackPopupMenu(const CXTPMenu* menu, UINT flags, int x, int y, CWnd* owner) {
  if (!menu || menu->GetItemCount() == 0) return 0;
  CXTPPopupMenuWnd wnd(menu);
  CSize size = wnd.Measure();
  HWND focus = ::GetFocus();
  if (!wnd.CreateEx(0, "XTPPopupMenu", "", WS_POPUP | WS_VISIBLE | WS_BORDER,
                    CRect(x, y, x + size.cx, y + size.cy), nullptr, 0))
    return 0;
  MenuStack().push_back(&wnd);
  wnd.SetFocus();
  int cmd = wnd.RunModalLoop() == kMenuDone ? wnd.chosen() : 0;
  MenuStack().pop_back();
  wnd.DestroyWindow();
  if (IsWindow(focus)) ::SetFocus(focus);
  if (flags & xtpTrackReturnCmd) return cmd;
  if (cmd != 0 && owner && !(flags & xtpTrackNoNotify))
    owner->SendMessage(WM_COMMAND, static_cast<WPARAM>(cmd), 0);
  return cmd != 0 ? TRUE : FALSE;
}

namespace vkt::win {
CXTPPopupMenuWnd* ActivePopupMenu() { return MenuStack().empty() ? nullptr : MenuStack().back(); }
}  // namespace vkt::win

// --- Page texts -------------------------------------------------------------

std::string CXTPReportViewPrintOptions::FormatPageText(const char* format, int page, int pages,
                                                       const COleDateTime& now, int width) {
  std::vector<std::string> parts(1);
  for (const char* p = format ? format : ""; *p; ++p) {
    if (*p != '&' || p[1] == '\0') {
      parts.back() += *p;
      continue;
    }
    switch (*++p) {
      case 'D': parts.back() += now.Format("%d/%m/%Y"); break;
      case 'T': parts.back() += now.Format("%H:%M"); break;
      case 'p': parts.back() += std::to_string(page); break;
      case 'P': parts.back() += std::to_string(pages); break;
      case 'b':
        if (parts.size() < 3) parts.emplace_back();
        break;
      case '&': parts.back() += '&'; break;
      default: parts.back() += '&'; parts.back() += *p; break;
    }
  }
  width = std::max(width, 0);
  std::string line(static_cast<size_t>(width), ' ');
  auto place = [&](const std::string& s, int at) {
    for (size_t i = 0; i < s.size(); ++i) {
      long x = at + static_cast<long>(i);
      if (x >= 0 && x < width) line[static_cast<size_t>(x)] = s[i];
    }
  };
  int n = static_cast<int>(parts.size());
  place(parts[0], 0);
  if (n == 2) place(parts[1], width - static_cast<int>(parts[1].size()));
  if (n == 3) {
    place(parts[1], (width - static_cast<int>(parts[1].size())) / 2);
    place(parts[2], width - static_cast<int>(parts[2].size()));
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

// --- The control ------------------------------------------------------------

CXTPReportControl::CXTPReportControl() : columns_(this) {}
CXTPReportControl::~CXTPReportControl() = default;

BOOL CXTPReportControl::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  return CWnd::Create("XTPReport", "", style, rect, parent, id);
}

CXTPReportColumn* CXTPReportControl::AddColumn(CXTPReportColumn* column) {
  Invalidate();
  return columns_.Add(column);
}

CXTPReportRecord* CXTPReportControl::AddRecord(CXTPReportRecord* record) {
  return records_.Add(record);
}

void CXTPReportControl::ResetContent() {
  EndEdit();
  rows_.clear();
  records_.RemoveAll();
  focused_ = -1;
  top_ = 0;
  Invalidate();
}

CXTPReportRow* CXTPReportControl::GetRow(int i) const {
  return i >= 0 && i < GetRowCount() ? rows_[static_cast<size_t>(i)].get() : nullptr;
}
CXTPReportRow* CXTPReportControl::GetHeaderRow(int i) const {
  return i >= 0 && i < GetHeaderRowCount() ? header_rows_[static_cast<size_t>(i)].get() : nullptr;
}

void CXTPReportControl::Populate() {
  CXTPReportRecord* focused_record = GetRow(focused_) ? GetRow(focused_)->GetRecord() : nullptr;
  rows_.clear();
  std::vector<CXTPReportRecord*> shown;
  for (int i = 0; i < records_.GetCount(); ++i)
    if (records_.GetAt(i)->IsVisible()) shown.push_back(records_.GetAt(i));
  std::vector<CXTPReportColumn*> keys;
  CXTPReportColumnOrder* groups = columns_.GetGroupsOrder();
  CXTPReportColumnOrder* sort = columns_.GetSortOrder();
  for (int i = 0; i < groups->GetCount(); ++i) keys.push_back(groups->GetAt(i));
  for (int i = 0; i < sort->GetCount(); ++i)
    if (groups->IndexOf(sort->GetAt(i)) < 0) keys.push_back(sort->GetAt(i));
  std::stable_sort(shown.begin(), shown.end(), [&](CXTPReportRecord* a, CXTPReportRecord* b) {
    for (CXTPReportColumn* c : keys) {
      CXTPReportRecordItem* x = a->GetItem(c);
      CXTPReportRecordItem* y = b->GetItem(c);
      if (!x || !y) {
        if (x != y) return x == nullptr;
        continue;
      }
      int r = x->Compare(c, y);
      if (r != 0) return c->IsSortedIncreasing() ? r < 0 : r > 0;
    }
    return false;
  });
  std::vector<CString> current(static_cast<size_t>(groups->GetCount()));
  bool first = true;
  for (CXTPReportRecord* rec : shown) {
    bool changed = first;
    for (int g = 0; g < groups->GetCount(); ++g) {
      CXTPReportColumn* c = groups->GetAt(g);
      CXTPReportRecordItem* item = rec->GetItem(c);
      CString caption = item ? item->GetGroupCaption(c) : CString();
      if (changed || caption != current[static_cast<size_t>(g)]) {
        changed = true;
        current[static_cast<size_t>(g)] = caption;
        auto row = std::make_unique<CXTPReportRow>();
        row->group_caption_ = caption;
        row->level_ = g;
        row->index_ = GetRowCount();
        rows_.push_back(std::move(row));
      }
    }
    first = false;
    auto row = std::make_unique<CXTPReportRow>();
    row->record_ = rec;
    row->level_ = groups->GetCount();
    row->index_ = GetRowCount();
    rows_.push_back(std::move(row));
  }
  focused_ = -1;
  for (int i = 0; i < GetRowCount(); ++i)
    if (focused_record && rows_[static_cast<size_t>(i)]->record_ == focused_record) focused_ = i;
  top_ = std::clamp(top_, 0, std::max(0, GetRowCount() - 1));
  Invalidate();
}

void CXTPReportControl::PopulateHeaderRows() {
  CXTPReportRecordItem* editing = edit_item_;
  header_rows_.clear();
  bool keep = false;
  for (int i = 0; i < header_records_.GetCount(); ++i) {
    auto row = std::make_unique<CXTPReportRow>();
    row->record_ = header_records_.GetAt(i);
    row->type_ = xtpRowTypeHeader;
    row->index_ = i;
    for (int k = 0; editing && k < row->record_->GetItemCount(); ++k)
      if (row->record_->GetItem(k) == editing) keep = true;
    header_rows_.push_back(std::move(row));
  }
  if (!keep) EndEdit();
  Invalidate();
}

void CXTPReportControl::ShowHeaderRows(BOOL show) {
  show_header_rows_ = show ? TRUE : FALSE;
  if (!show) EndEdit();
  Invalidate();
}

void CXTPReportControl::ShowGroupBy(BOOL show) {
  show_group_by_ = show ? TRUE : FALSE;
  Invalidate();
}

void CXTPReportControl::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) Invalidate();
}

void CXTPReportControl::SortBy(CXTPReportColumn* column, BOOL increasing) {
  if (!column) return;
  columns_.GetSortOrder()->Clear();
  columns_.GetSortOrder()->Add(column);
  column->SetSortIncreasing(increasing);
  Populate();
}

void CXTPReportControl::SetFocusedRow(int row) {
  if (GetRowCount() == 0) {
    focused_ = -1;
    return;
  }
  focused_ = std::clamp(row, 0, GetRowCount() - 1);
  CRect body = BodyRect();
  int visible = std::max(1, body.Height() / RowHeight());
  if (focused_ < top_) top_ = focused_;
  if (focused_ >= top_ + visible) top_ = focused_ - visible + 1;
  Invalidate();
}

BOOL CXTPReportControl::EditHeaderItem(int row, CXTPReportColumn* column) {
  CXTPReportRow* r = GetHeaderRow(row);
  if (!r || !column || !show_header_rows_ || !header_rows_edit_) return FALSE;
  CXTPReportRecordItem* item = r->GetRecord()->GetItem(column);
  if (!item || !item->IsEditable()) return FALSE;
  edit_item_ = item;
  edit_row_ = row;
  Invalidate();
  return TRUE;
}

void CXTPReportControl::EndEdit() {
  edit_item_ = nullptr;
  edit_row_ = -1;
  Invalidate();
}

void CXTPReportControl::DoPropExchange(CXTPPropExchange* px) {
  BOOL group_by = show_group_by_;
  px->PX_Bool("ShowGroupBox", group_by, FALSE);
  if (!px->IsLoading()) {
    auto cols = px->GetSection("Columns");
    for (int i = 0; i < columns_.GetCount(); ++i) {
      CXTPReportColumn* c = columns_.GetAt(i);
      auto n = cols->AddSection("Column");
      int index = c->GetItemIndex(), width = c->GetWidth();
      BOOL visible = c->IsVisible(), increasing = c->IsSortedIncreasing();
      CString caption = c->GetCaption();
      n->PX_Int("ItemIndex", index, 0);
      n->PX_String("Caption", caption, "");
      n->PX_Int("Width", width, 0);
      n->PX_Bool("Visible", visible, TRUE);
      n->PX_Bool("SortIncreasing", increasing, TRUE);
    }
    for (auto [name, order] : {std::pair{"SortOrder", columns_.GetSortOrder()},
                               std::pair{"GroupOrder", columns_.GetGroupsOrder()}}) {
      auto sec = px->GetSection(name);
      for (int i = 0; i < order->GetCount(); ++i) {
        int index = order->GetAt(i)->GetItemIndex();
        sec->AddSection("Column")->PX_Int("ItemIndex", index, 0);
      }
    }
    return;
  }
  // Loading: everything is read and checked first, then applied at once, so
  // a damaged layout leaves the grid as it was.
  struct Col {
    CXTPReportColumn* column;
    int width;
    BOOL visible, increasing;
  };
  std::vector<Col> order;
  auto cols = px->GetSection("Columns");
  if (!cols) return;
  for (auto& n : cols->GetSections("Column")) {
    int index = 0, width = 0;
    BOOL visible = TRUE, increasing = TRUE;
    if (!n->PX_Int("ItemIndex", index, -1)) continue;
    CXTPReportColumn* c = columns_.Find(index);
    if (!c || std::any_of(order.begin(), order.end(), [&](const Col& o) { return o.column == c; }))
      continue;  // a column this grid does not have, or twice
    if (!n->PX_Int("Width", width, c->GetWidth())) width = c->GetWidth();
    n->PX_Bool("Visible", visible, c->IsVisible());
    n->PX_Bool("SortIncreasing", increasing, c->IsSortedIncreasing());
    order.push_back({c, std::clamp(width, kMinColumnWidth, kMaxColumnWidth), visible, increasing});
  }
  auto read_order = [&](const char* name) {
    std::vector<CXTPReportColumn*> out;
    if (auto sec = px->GetSection(name)) {
      for (auto& n : sec->GetSections("Column")) {
        int index = 0;
        if (!n->PX_Int("ItemIndex", index, -1)) continue;
        CXTPReportColumn* c = columns_.Find(index);
        if (c && std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
      }
    }
    return out;
  };
  std::vector<CXTPReportColumn*> sort = read_order("SortOrder");
  std::vector<CXTPReportColumn*> groups = read_order("GroupOrder");
  // Apply: the columns named come first, in the file's order; the others
  // keep their relative order after them.
  for (size_t i = 0; i < order.size(); ++i) {
    columns_.ChangeColumnOrder(static_cast<int>(i), columns_.IndexOf(order[i].column));
    order[i].column->width_ = order[i].width;
    order[i].column->visible_ = order[i].visible;
    order[i].column->increasing_ = order[i].increasing;
  }
  columns_.GetSortOrder()->Clear();
  for (CXTPReportColumn* c : sort) columns_.GetSortOrder()->Add(c);
  columns_.GetGroupsOrder()->Clear();
  for (CXTPReportColumn* c : groups) columns_.GetGroupsOrder()->Add(c);
  show_group_by_ = group_by;
  Invalidate();
}

int CXTPReportControl::RowHeight() const { return vkt::win::TextHeight(FontOr(paint_.m_fontText)) + 8; }

CRect CXTPReportControl::GroupByRect() const {
  CRect rc;
  GetClientRect(&rc);
  return CRect(0, 0, rc.Width(), show_group_by_ ? kGroupByHeight : 0);
}
CRect CXTPReportControl::HeaderRect() const {
  CRect g = GroupByRect();
  return CRect(0, g.bottom, g.right, g.bottom + (show_header_ ? RowHeight() : 0));
}
CRect CXTPReportControl::HeaderRowsRect() const {
  CRect h = HeaderRect();
  int n = show_header_rows_ ? GetHeaderRowCount() : 0;
  return CRect(0, h.bottom, h.right, h.bottom + n * RowHeight() + (n ? 2 : 0));
}
CRect CXTPReportControl::BodyRect() const {
  CRect rc;
  GetClientRect(&rc);
  CRect hr = HeaderRowsRect();
  return CRect(0, hr.bottom, rc.Width(), std::max(hr.bottom, static_cast<int>(rc.Height())));
}

CRect CXTPReportControl::ColumnHeaderRect(const CXTPReportColumn* column) const {
  CRect h = HeaderRect();
  int x = 0;
  for (int i = 0; i < columns_.GetCount(); ++i) {
    CXTPReportColumn* c = columns_.GetAt(i);
    if (!c->IsVisible()) continue;
    if (c == column) return CRect(x, h.top, x + c->GetWidth(), h.top + RowHeight());
    x += c->GetWidth();
  }
  return CRect();
}

CRect CXTPReportControl::HeaderCellRect(int row, const CXTPReportColumn* column) const {
  CRect c = ColumnHeaderRect(column);
  int top = HeaderRowsRect().top + row * RowHeight();
  return CRect(c.left, top, c.right, top + RowHeight());
}

int CXTPReportControl::HitTestRow(CPoint p) const {
  CRect body = BodyRect();
  if (!body.PtInRect(p)) return -1;
  int row = top_ + (p.y - body.top) / RowHeight();
  return row < GetRowCount() ? row : -1;
}

CXTPReportColumn* CXTPReportControl::HitTestColumn(CPoint p) const {
  int x = 0;
  for (int i = 0; i < columns_.GetCount(); ++i) {
    CXTPReportColumn* c = columns_.GetAt(i);
    if (!c->IsVisible()) continue;
    if (p.x >= x && p.x < x + c->GetWidth()) return c;
    x += c->GetWidth();
  }
  return nullptr;
}

CString CXTPReportControl::ItemText(CXTPReportRow* row, CXTPReportColumn* column,
                                    XTP_REPORTRECORDITEM_METRICS* metrics) {
  XTP_REPORTRECORDITEM_METRICS local;
  XTP_REPORTRECORDITEM_METRICS* m = metrics ? metrics : &local;
  CXTPReportRecord* rec = row ? row->GetRecord() : nullptr;
  CXTPReportRecordItem* item = rec ? rec->GetItem(column) : nullptr;
  if (!item) return CString();
  m->strText = item->GetCaption(column);
  m->nItemTextAlign = item->GetAlignment();
  m->clrForeground = paint_.m_clrWindowText;
  XTP_REPORTRECORDITEM_DRAWARGS args;
  args.pControl = this;
  args.pRow = row;
  args.pColumn = column;
  args.pItem = item;
  args.nTextAlign = item->GetAlignment();
  item->GetItemMetrics(&args, m);
  rec->GetItemMetrics(&args, m);
  return m->strText;
}

LRESULT CXTPReportControl::SendNotify(UINT code, XTP_NM_REPORTRECORDITEM* nm) {
  nm->hdr.hwndFrom = m_hWnd;
  nm->hdr.idFrom = static_cast<uintptr_t>(GetDlgCtrlID());
  nm->hdr.code = code;
  LRESULT result = 0;
  if (OnReflectNotify(code, nm, &result)) return result;
  if (CWnd* p = GetParent())
    return p->SendMessage(WM_NOTIFY, static_cast<WPARAM>(GetDlgCtrlID()), reinterpret_cast<LPARAM>(nm));
  return 0;
}

LRESULT CXTPReportControl::SendNotifyMessage(UINT code) {
  XTP_NMHDR hdr{m_hWnd, static_cast<uintptr_t>(GetDlgCtrlID()), code};
  if (CWnd* p = GetParent())
    return p->SendMessage(WM_NOTIFY, static_cast<WPARAM>(GetDlgCtrlID()), reinterpret_cast<LPARAM>(&hdr));
  return 0;
}

BOOL CXTPReportControl::OnReflectNotify(UINT, XTP_NM_REPORTRECORDITEM*, LRESULT*) { return FALSE; }

void CXTPReportControl::SetEditText(const std::string& text) {
  if (!edit_item_) return;
  edit_item_->OnEditChanged(text.c_str());
  XTP_NM_REPORTRECORDITEM nm;
  nm.pRow = GetHeaderRow(edit_row_);
  nm.pItem = edit_item_;
  for (int i = 0; i < columns_.GetCount(); ++i)
    if (nm.pRow && nm.pRow->GetRecord()->GetItem(columns_.GetAt(i)) == edit_item_) nm.pColumn = columns_.GetAt(i);
  Invalidate();
  SendNotify(XTP_NM_REPORT_VALUECHANGED, &nm);
}

void CXTPReportControl::OnChar(UINT ch) {
  if (!edit_item_) return;
  std::string text = edit_item_->GetCaption(nullptr).GetString();
  if (ch == 8) {
    if (text.empty()) return;
    text.pop_back();
  } else if (ch >= 32 && ch != 127) {
    if (text.size() >= 255) return;  // a search text, not a document
    text += static_cast<char>(ch);
  } else {
    return;
  }
  SetEditText(text);
}

void CXTPReportControl::OnHeaderClick(CPoint p) {
  CXTPReportColumn* c = HitTestColumn(p);
  if (!c) return;
  BOOL increasing = columns_.GetSortOrder()->GetCount() == 1 && columns_.GetSortOrder()->GetAt(0) == c
                        ? !c->IsSortedIncreasing()
                        : TRUE;
  SortBy(c, increasing);
}

void CXTPReportControl::OnRightClick(CPoint p) {
  if (!HeaderRect().PtInRect(p)) return;
  XTP_NM_REPORTRECORDITEM nm;
  nm.pColumn = HitTestColumn(p);
  nm.pt = p;
  if (nm.pColumn) SendNotify(XTP_NM_REPORT_HEADER_RCLICK, &nm);
}

LRESULT CXTPReportControl::WindowProc(UINT msg, WPARAM w, LPARAM l) {
  switch (msg) {
    case WM_GETDLGCODE:
      return edit_item_ ? DLGC_WANTALLKEYS | DLGC_WANTCHARS : DLGC_WANTARROWS;
    case WM_KEYDOWN:
      if (edit_item_) {
        if (w == VK_RETURN || w == VK_ESCAPE || w == VK_TAB) EndEdit();
        return 0;
      }
      switch (w) {
        case VK_UP: SetFocusedRow(focused_ - 1); return 0;
        case VK_DOWN: SetFocusedRow(focused_ + 1); return 0;
        case VK_HOME: SetFocusedRow(0); return 0;
        case VK_END: SetFocusedRow(GetRowCount() - 1); return 0;
        default: return 0;
      }
    case WM_CHAR:
      OnChar(static_cast<UINT>(w) & 0xFF);
      return 0;
    case WM_LBUTTONDOWN: {
      SetFocus();
      CPoint p = PointOf(l);
      drag_column_ = HeaderRect().PtInRect(p) ? HitTestColumn(p) : nullptr;
      if (HeaderRowsRect().PtInRect(p)) {
        int row = (p.y - HeaderRowsRect().top) / RowHeight();
        if (!EditHeaderItem(row, HitTestColumn(p))) EndEdit();
      } else {
        EndEdit();
        int row = HitTestRow(p);
        if (row >= 0) SetFocusedRow(row);
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      CPoint p = PointOf(l);
      CXTPReportColumn* dragged = drag_column_;
      drag_column_ = nullptr;
      if (!dragged) return 0;
      if (show_group_by_ && GroupByRect().PtInRect(p)) {
        columns_.GetGroupsOrder()->Add(dragged);
        Populate();
      } else if (HeaderRect().PtInRect(p) && HitTestColumn(p) == dragged) {
        OnHeaderClick(p);
      }
      return 0;
    }
    case WM_RBUTTONUP:
      OnRightClick(PointOf(l));
      return 0;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      Invalidate();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    default:
      return CWnd::WindowProc(msg, w, l);
  }
}

void CXTPReportControl::PaintRowCells(CDC& dc, CXTPReportRow* row, int y, bool selected) {
  int h = RowHeight();
  int x = 0;
  for (int i = 0; i < columns_.GetCount(); ++i) {
    CXTPReportColumn* c = columns_.GetAt(i);
    if (!c->IsVisible()) continue;
    CRect cell(x, y, x + c->GetWidth(), y + h);
    XTP_REPORTRECORDITEM_METRICS m;
    CString text = ItemText(row, c, &m);
    CXTPReportRecordItem* item = row->GetRecord()->GetItem(c);
    if (row->GetType() == xtpRowTypeHeader) {
      dc.FillSolidRect(cell, paint_.m_clrHeaderRowBack);
      if (item && item == edit_item_) {
        dc.FillSolidRect(cell, RGB(255, 255, 255));
        dc.FrameRect(cell, RGB(0, 120, 215));
        text += "|";
      }
    } else if (selected) {
      dc.FillSolidRect(cell, paint_.m_clrHighlight);
      m.clrForeground = paint_.m_clrHighlightText;
    }
    dc.SetTextColor(m.clrForeground);
    dc.SelectFont(m.pFont ? m.pFont->GetSafeHandle() : FontOr(paint_.m_fontText));
    CRect t = cell;
    t.DeflateRect(4, 0);
    dc.DrawText(text.GetString(), t, static_cast<UINT>(m.nItemTextAlign) | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (paint_.GetGridStyle(TRUE) != 0) {
      dc.SelectPen(CPen(PS_SOLID, 1, paint_.m_clrGridLine));
      dc.MoveTo(cell.right - 1, cell.top);
      dc.LineTo(cell.right - 1, cell.bottom);
    }
    x += c->GetWidth();
  }
  if (paint_.GetGridStyle(FALSE) != 0) {
    dc.SelectPen(CPen(PS_SOLID, 1, paint_.m_clrGridLine));
    dc.MoveTo(0, y + h - 1);
    dc.LineTo(x, y + h - 1);
  }
}

void CXTPReportControl::Paint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  dc.FillSolidRect(rc, paint_.m_clrControlBack);
  dc.SetBkMode(TRANSPARENT);
  int h = RowHeight();
  if (show_group_by_) {
    CRect g = GroupByRect();
    dc.FillSolidRect(g, paint_.m_clrGroupBoxBack);
    CXTPReportColumnOrder* groups = columns_.GetGroupsOrder();
    dc.SelectFont(FontOr(paint_.m_fontText));
    if (groups->GetCount() == 0) {
      dc.SetTextColor(RGB(255, 255, 255));
      CRect t(8, g.top, g.right, g.bottom);
      dc.DrawText("Trascinare qui l'intestazione di una colonna per raggruppare", t,
                  DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }
    int x = 6;
    for (int i = 0; i < groups->GetCount(); ++i) {
      std::string cap = groups->GetAt(i)->GetCaption().GetString();
      int w = vkt::win::TextWidth(FontOr(paint_.m_fontText), cap) + 16;
      CRect box(x, g.top + 5, x + w, g.bottom - 5);
      dc.FillSolidRect(box, paint_.m_clrHeaderBack);
      dc.Draw3dRect(box, RGB(255, 255, 255), RGB(100, 100, 100));
      dc.SetTextColor(RGB(0, 0, 0));
      dc.DrawText(cap, box, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      x += w + 8;
    }
  }
  if (show_header_) {
    dc.SelectFont(FontOr(paint_.m_fontText));
    for (int i = 0; i < columns_.GetCount(); ++i) {
      CXTPReportColumn* c = columns_.GetAt(i);
      if (!c->IsVisible()) continue;
      CRect cell = ColumnHeaderRect(c);
      dc.FillGradientV(cell, RGB(246, 248, 252), paint_.m_clrHeaderBack);
      dc.Draw3dRect(cell, RGB(255, 255, 255), RGB(160, 160, 160));
      dc.SetTextColor(RGB(0, 0, 0));
      CRect t = cell;
      t.DeflateRect(4, 0);
      int sorted = columns_.GetSortOrder()->IndexOf(c);
      if (sorted >= 0) t.right -= 12;
      dc.DrawText(c->GetCaption().GetString(), t,
                  static_cast<UINT>(c->GetAlignment()) | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
      if (sorted >= 0) {
        CRect a(cell.right - 14, cell.top, cell.right - 2, cell.bottom);
        dc.DrawText(c->IsSortedIncreasing() ? "^" : "v", a, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
      }
    }
  }
  if (show_header_rows_ && GetHeaderRowCount() > 0) {
    CRect hr = HeaderRowsRect();
    for (int i = 0; i < GetHeaderRowCount(); ++i) PaintRowCells(dc, GetHeaderRow(i), hr.top + i * h, false);
    dc.FillSolidRect(CRect(0, hr.bottom - 2, rc.Width(), hr.bottom), paint_.GetHeaderRowsDividerColor());
  }
  CRect body = BodyRect();
  bool focused = ::GetFocus() == m_hWnd;
  for (int r = top_, y = body.top; r < GetRowCount() && y < body.bottom; ++r, y += h) {
    CXTPReportRow* row = GetRow(r);
    if (row->IsGroupRow()) {
      CRect g(row->GetGroupLevel() * 16, y, rc.Width(), y + h);
      dc.FillSolidRect(g, paint_.m_clrGroupBack);
      dc.SelectPen(CPen(PS_SOLID, 1, RGB(110, 130, 170)));
      dc.MoveTo(g.left, g.bottom - 1);
      dc.LineTo(g.right, g.bottom - 1);
      dc.SelectFont(FontOr(paint_.m_fontBoldText));
      dc.SetTextColor(RGB(30, 50, 90));
      CRect t = g;
      t.DeflateRect(6, 0);
      dc.DrawText(row->GetGroupCaption().GetString(), t, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    } else {
      PaintRowCells(dc, row, y, r == focused_ && focused);
    }
  }
  dc.FrameRect(rc, focused ? RGB(0, 120, 215) : RGB(130, 135, 144));
}

// --- Print view -------------------------------------------------------------

CXTPReportView::CXTPReportView() = default;
CXTPReportView::~CXTPReportView() = default;

BOOL CXTPReportView::CreateView(CWnd* parent) {
  return CreateEx(0, "XTPReportView", "", parent ? WS_CHILD : WS_POPUP, CRect(0, 0, 10, 10), parent, 0);
}

std::vector<std::vector<std::string>> CXTPReportView::PrintPages(const COleDateTime& now) {
  std::vector<std::vector<std::string>> pages;
  if (!control_ || !options_) return pages;
  const int width = std::max(10, options_->m_nPageColumns);
  const int rows = std::max(8, options_->m_nPageRows);
  // A column gets a character for every 7 pixels, at least 3, and a blank
  // after it.
  struct Field {
    CXTPReportColumn* column;
    int chars;
  };
  std::vector<Field> fields;
  CXTPReportColumns* cols = control_->GetColumns();
  int total = 0;
  for (int i = 0; i < cols->GetCount(); ++i) {
    if (!cols->GetAt(i)->IsVisible()) continue;
    fields.push_back({cols->GetAt(i), std::max(3, cols->GetAt(i)->GetWidth() / 7)});
    total += fields.back().chars + 1;
  }
  // Columns wider than the page all shrink alike, so none falls off it.
  if (total > width + 1) {
    int room = width + 1 - static_cast<int>(fields.size());
    for (Field& f : fields) f.chars = std::max(3, f.chars * room / (total - static_cast<int>(fields.size())));
  }
  auto lay = [&](auto text_of, auto align_of) {
    std::string line;
    for (const Field& f : fields) {
      std::string s = text_of(f);
      if (static_cast<int>(s.size()) > f.chars) s.resize(static_cast<size_t>(f.chars));
      std::string pad(static_cast<size_t>(f.chars) - s.size(), ' ');
      line += align_of(f) == DT_RIGHT ? pad + s : s + pad;
      line += ' ';
    }
    if (static_cast<int>(line.size()) > width) line.resize(static_cast<size_t>(width));
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
  };
  std::string captions = lay([](const Field& f) { return std::string(f.column->GetCaption().GetString()); },
                             [](const Field& f) { return f.column->GetAlignment(); });
  std::string rule(std::min<size_t>(static_cast<size_t>(width), std::max<size_t>(captions.size(), 1)), '-');
  std::vector<std::string> body;
  for (int r = 0; r < control_->GetRowCount(); ++r) {
    CXTPReportRow* row = control_->GetRow(r);
    if (row->IsGroupRow()) {
      std::string s = std::string(static_cast<size_t>(row->GetGroupLevel()) * 2, ' ') + row->GetGroupCaption().GetString();
      if (static_cast<int>(s.size()) > width) s.resize(static_cast<size_t>(width));
      body.push_back(s);
      continue;
    }
    std::vector<XTP_REPORTRECORDITEM_METRICS> metrics(fields.size());
    size_t k = 0;
    body.push_back(lay([&](const Field& f) { return std::string(control_->ItemText(row, f.column, &metrics[k++]).GetString()); },
                       [&](const Field& f) {
                         CXTPReportRecordItem* it = row->GetRecord()->GetItem(f.column);
                         return it ? it->GetAlignment() : DT_LEFT;
                       }));
  }
  // Header, blank, captions, rule; body; blank, footer.
  const int per_page = rows - 6;
  const int count = std::max(1, static_cast<int>((body.size() + static_cast<size_t>(per_page) - 1) / static_cast<size_t>(per_page)));
  for (int p = 0; p < count; ++p) {
    std::vector<std::string> page;
    page.push_back(CXTPReportViewPrintOptions::FormatPageText(options_->m_strPageHeader, p + 1, count, now, width));
    page.push_back("");
    page.push_back(captions);
    page.push_back(rule);
    for (size_t i = static_cast<size_t>(p * per_page); i < body.size() && i < static_cast<size_t>((p + 1) * per_page); ++i)
      page.push_back(body[i]);
    while (static_cast<int>(page.size()) < rows - 1) page.push_back("");
    page.push_back(CXTPReportViewPrintOptions::FormatPageText(options_->m_strPageFooter, p + 1, count, now, width));
    pages.push_back(std::move(page));
  }
  return pages;
}
