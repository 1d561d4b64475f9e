#include "print/vktreportcontrol.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/julian.h"
#include "frame/vktapp.h"
#include "print/printer.h"
#include "print/text_document.h"
#include "win/appwnd.h"
#include "win/cp1252.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

constexpr COLORREF kDividerColor = 0xFCE7D8;
constexpr const char* kPageFooter = "&D &T&b&bPag. &p di &P";
constexpr const char* kLayoutRoot = "Layouts";

std::string Lower(const char* s) {
  std::string out = s ? s : "";
  for (char& c : out) c = vkt::win::Cp1252ToLower(c);
  return out;
}

// A number as the host's format prints it; "" when that reads back as 0.
std::string FormatNumber(const CString& format, double value) {
  std::string s = CXTPReportRecordItemNumber::FormatValue(format.GetString(), value);
  return std::atof(s.c_str()) == 0.0 ? std::string() : s;
}

// The view-printing routine: the view's pages through the text printer (or
// into a PDF file) under the document name given.
short PrintView(CXTPReportView* view, const char* document, short output, const std::string& file) {
  COleDateTime now = COleDateTime::GetCurrentTime();
  std::vector<std::vector<std::string>> pages = view->PrintPages(now);
  CXTPReportViewPrintOptions* options = view->GetPrintOptions();
  if (output == CVKTReportControl::kPrintToPdf) {
    std::vector<vkt::print_io::TextPage> text(pages.begin(), pages.end());
    vkt::print_io::TextLayout layout;
    layout.rows = options->m_nPageRows;
    layout.condensed = options->m_nPageColumns > 80;
    std::string error;
    if (file.empty() || !vkt::print_io::WriteTextPdf(text, layout, file, &error)) {
      vkt::ReportWithBeep("Impossibile creare il file PDF!\n\n" + (file.empty() ? std::string("nessun file indicato") : error),
                          "Report", MB_OK | MB_ICONSTOP);
      return -1;
    }
    return 0;
  }
  CPrinter printer(document, options->m_nPageRows, options->m_nPageColumns, 0);
  printer.SetOutput(output);
  printer.Open(file.empty() ? nullptr : file.c_str(), nullptr);
  for (size_t p = 0; p < pages.size() && printer.status == 0; ++p) {
    printer.Clear();
    printer.page = static_cast<int32_t>(p + 1);
    for (size_t r = 0; r < pages[p].size(); ++r) {
      if (pages[p][r].empty()) continue;
      printer.Goto(static_cast<int32_t>(r), 0);
      printer.Put(pages[p][r].c_str(), static_cast<int32_t>(pages[p][r].size()));
    }
    printer.Flush();
  }
  if (output != CPrinter::kToPrinter && file.empty()) printer.Output();
  return printer.Close();
}

}  // namespace

// --- The grid ---------------------------------------------------------------

CVKTReportControl::CVKTReportControl() : print_options_(new CXTPReportViewPrintOptions) {
  print_options_->m_nPageRows = GetPrinterRow();
}

CVKTReportControl::~CVKTReportControl() { delete print_options_; }

void CVKTReportControl::PreSubclassWindow() {
  CXTPReportPaintManager* pm = GetPaintManager();
  pm->SetColumnStyle(1);
  pm->SetFixedRowHeight(FALSE);
  GetReportHeader()->SetAutoColumnSizing(FALSE);
  pm->SetHeaderRowsDividerColor(kDividerColor);
  pm->SetFooterRowsDividerColor(kDividerColor);
  pm->SetGridStyle(TRUE, 4);
  CXTPReportControl::PreSubclassWindow();
}

void CVKTReportControl::BuildSearchRow() {
  CXTPReportRecords* headers = GetHeaderRecords();
  headers->RemoveAll();
  // One item for every record item a column shows, so that each column
  // finds its search cell by its item index.
  int items = 0;
  for (int i = 0; i < GetColumns()->GetCount(); ++i)
    items = std::max(items, GetColumns()->GetAt(i)->GetItemIndex() + 1);
  auto* search = new CXTPReportRecord;
  for (int i = 0; i < items; ++i) search->AddItem(new CXTPReportRecordItemText(""));
  headers->Add(search);
  ShowHeaderRows(IsHeaderRowsVisible());
  HeaderRowsAllowEdit(TRUE);
  PopulateHeaderRows();
  search_built_ = 1;
}

void CVKTReportControl::Populate() {
  CXTPReportControl::Populate();
  if (filterable_ && !search_built_) BuildSearchRow();
}

void CVKTReportControl::FilterRecords() {
  if (GetHeaderRecords()->GetCount() != 1) return;
  vkt::WaitCursorGuard wait;
  BeginUpdate();
  CXTPReportRecord* search = GetHeaderRecords()->GetAt(0);
  struct Term {
    CXTPReportColumn* column;
    std::string text;
  };
  std::vector<Term> terms;
  for (int i = 0; i < GetColumns()->GetCount(); ++i) {
    CXTPReportColumn* c = GetColumns()->GetAt(i);
    CXTPReportRecordItem* cell = search->GetItem(c);
    if (!cell) continue;
    CString text = cell->GetCaption(c);
    text.Trim(' ');
    if (!text.IsEmpty()) terms.push_back({c, Lower(text.GetString())});
  }
  CXTPReportRecords* records = GetRecords();
  for (int r = 0; r < records->GetCount(); ++r) {
    CXTPReportRecord* rec = records->GetAt(r);
    rec->SetVisible(TRUE);
    for (const Term& t : terms) {
      CXTPReportRecordItem* item = rec->GetItem(t.column);
      std::string caption = item ? Lower(item->GetCaption(t.column).GetString()) : std::string();
      if (caption.find(t.text) == std::string::npos) {
        rec->SetVisible(FALSE);
        break;
      }
    }
  }
  CXTPReportControl::Populate();
  EndUpdate();
}

void CVKTReportControl::ClearFilter() {
  if (GetHeaderRecords()->GetCount() != 1) return;
  vkt::WaitCursorGuard wait;
  BeginUpdate();
  CXTPReportRecord* search = GetHeaderRecords()->GetAt(0);
  for (int i = 0; i < search->GetItemCount(); ++i) search->GetItem(i)->OnEditChanged("");
  PopulateHeaderRows();
  for (int r = 0; r < GetRecords()->GetCount(); ++r) GetRecords()->GetAt(r)->SetVisible(TRUE);
  CXTPReportControl::Populate();
  EndUpdate();
  SendNotifyMessage(kVKTReportFiltered);
}

BOOL CVKTReportControl::OnReflectNotify(UINT code, XTP_NM_REPORTRECORDITEM* nm, LRESULT* result) {
  if (code == XTP_NM_REPORT_HEADER_RCLICK) {
    OnReportColumnRClick(nm, result);
    return FALSE;  // the parent may still want to know
  }
  if (code == XTP_NM_REPORT_VALUECHANGED) return OnReportValueChanged(nm, result);
  return FALSE;
}

BOOL CVKTReportControl::OnReportValueChanged(XTP_NM_REPORTRECORDITEM* nm, LRESULT* result) {
  if (!filterable_ || !nm->pRow || nm->pRow->GetType() != xtpRowTypeHeader) return FALSE;
  FilterRecords();
  SendNotifyMessage(kVKTReportFiltered);
  *result = TRUE;
  return TRUE;
}

void CVKTReportControl::OnReportColumnRClick(XTP_NM_REPORTRECORDITEM* nm, LRESULT* result) {
  CXTPReportColumn* clicked = nm->pColumn;
  if (!clicked) return;
  CXTPMenu menu;
  menu.AppendItem(kVKTMenuGroupBy, "Raggruppa", IsGroupByVisible());
  if (filterable_) menu.AppendItem(kVKTMenuSearch, "Cerca", IsHeaderRowsVisible());
  menu.AppendItem(kVKTMenuRemoveColumn, "Rimuovi colonna");
  menu.AppendItem(kVKTMenuBestFit, "Dimensiona colonna");
  auto columns = std::make_shared<CXTPMenu>();
  for (int i = 0; i < GetColumns()->GetCount(); ++i) {
    CXTPReportColumn* c = GetColumns()->GetAt(i);
    columns->AppendItem(static_cast<UINT>(kVKTMenuColumn + i), c->GetCaption(), c->IsVisible());
  }
  menu.InsertSubMenu(0, columns, "Colonne");
  CPoint at = nm->pt;
  ClientToScreen(&at);
  int cmd = CXTPCommandBars::TrackPopupMenu(
      &menu, xtpTrackRightButton | xtpTrackNoNotify | xtpTrackReturnCmd, at.x, at.y, this);
  switch (cmd) {
    case 0:
      break;
    case kVKTMenuGroupBy:
      ShowGroupBy(!IsGroupByVisible());
      break;
    case kVKTMenuRemoveColumn:
      clicked->SetVisible(FALSE);
      Populate();
      break;
    case kVKTMenuBestFit:
      clicked->BestFit();
      break;
    case kVKTMenuSearch:
      ShowHeaderRows(!IsHeaderRowsVisible());
      if (!IsHeaderRowsVisible()) ClearFilter();
      break;
    default:
      if (CXTPReportColumn* c = GetColumns()->GetAt(cmd - kVKTMenuColumn)) {
        c->SetVisible(!c->IsVisible());
        Populate();
      }
      break;
  }
  *result = TRUE;
}

void CVKTReportControl::DoPropExchange(CXTPPropExchange* px) {
  CXTPReportControl::DoPropExchange(px);
  BOOL show = IsHeaderRowsVisible();
  px->PX_Bool("ShowSearchRow", show, FALSE);
  if (px->IsLoading()) {
    ShowHeaderRows(show);
    // Rows the search row hid must not stay hidden behind a hidden row.
    if (!show) ClearFilter();
  }
}

std::string CVKTReportControl::StatePath(const CString& file) const {
  std::string dir = std::string(vktpar ? vktpar->path : "") + "/configuration";
  return dir + "/" + file.GetString();
}

BOOL CVKTReportControl::SaveState(CString file, CString section) {
  state_error_.clear();
  std::string path = StatePath(file);
  std::string dir = path.substr(0, path.rfind('/'));
  mkdir(dir.c_str(), 0755);
  CXTPPropExchangeXMLNode doc(FALSE, kLayoutRoot);
  std::string ignored;
  struct stat st;
  // Other sections of the file are kept; a file that cannot be read is
  // replaced.
  if (stat(path.c_str(), &st) == 0 && !doc.LoadFromFile(path, &ignored))
    vkt::services().Notice("Disposizione griglia sostituita: " + ignored);
  doc.SetLoading(FALSE);
  auto node = doc.GetNamedSection(section);
  DoPropExchange(node.get());
  if (!doc.SaveToFile(path, &state_error_)) {
    vkt::services().Notice("Disposizione griglia non salvata: " + state_error_);
    return FALSE;
  }
  return TRUE;
}

BOOL CVKTReportControl::LoadState(CString file, CString section) {
  state_error_.clear();
  std::string path = StatePath(file);
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    state_error_ = path + ": file mancante";
    return FALSE;
  }
  CXTPPropExchangeXMLNode doc(TRUE, kLayoutRoot);
  if (!doc.LoadFromFile(path, &state_error_)) {
    vkt::services().Notice("Disposizione griglia non caricata: " + state_error_);
    return FALSE;
  }
  auto node = doc.GetNamedSection(section);
  if (!node) {
    state_error_ = path + ": sezione " + section.GetString() + " mancante";
    return FALSE;
  }
  DoPropExchange(node.get());
  Populate();
  return TRUE;
}

void CVKTReportControl::SetPrintDestination(short output, const char* file) {
  print_output_ = output;
  print_file_ = file ? file : "";
}

short CVKTReportControl::Print(const char* header) {
  CXTPReportView view;
  print_options_->m_strPageHeader = header ? header : "";
  print_options_->m_strPageFooter = kPageFooter;
  if (!view.CreateView(AfxGetMainWnd())) return 0;
  view.SetReportCtrl(this);
  view.SetPrintOptions(print_options_);
  short status = PrintView(&view, "Report", print_output_, print_file_);
  view.SetReportCtrl(nullptr);
  view.DestroyWindow();
  return status;
}

// --- Rows -------------------------------------------------------------------

CVKTReportRecord::CVKTReportRecord() = default;
CVKTReportRecord::~CVKTReportRecord() = default;

void CVKTReportRecord::SetBookmark(int32_t key, int open) {
  bookmark_ = key;
  if (open == 1) Open();
}

void CVKTReportRecord::GetItemMetrics(XTP_REPORTRECORDITEM_DRAWARGS* args,
                                      XTP_REPORTRECORDITEM_METRICS* metrics) {
  if (!args || !metrics || !args->pItem || args->pItem->IsPreviewItem()) return;
  if (bold_ && args->pControl) metrics->pFont = &args->pControl->GetPaintManager()->m_fontBoldText;
  if (text_color_ != static_cast<COLORREF>(-1)) metrics->clrForeground = text_color_;
}

int CVKTReportRecord::Open() { return 0; }
int16_t CVKTReportRecord::Delete() { return 0; }
int16_t CVKTReportRecord::Refresh() { return 0; }

// --- Items ------------------------------------------------------------------

namespace {

COleDateTime NullDate() {
  COleDateTime d;
  d.SetStatus(COleDateTime::null);
  return d;
}

COleDateTime FromDay(int32_t day) { return day == 0 ? NullDate() : COleDateTime(JulianToDate(day, 0)); }
COleDateTime FromDate(double date) { return date == 0.0 ? NullDate() : COleDateTime(date); }

}  // namespace

CVKTReportRecordItemJulianDate::CVKTReportRecordItemJulianDate(int32_t day)
    : CXTPReportRecordItemDateTime(FromDay(day)) {
  m_strFormatString = "%d/%m/%Y";
}

CVKTReportRecordItemJulianDate::CVKTReportRecordItemJulianDate(double date)
    : CXTPReportRecordItemDateTime(FromDate(date)) {
  m_strFormatString = "%d/%m/%Y %H:%M";
}

void CVKTReportRecordItemJulianDate::SetValue(int32_t day) { m_odtValue = FromDay(day); }
void CVKTReportRecordItemJulianDate::SetValue(double date) { m_odtValue = FromDate(date); }

int32_t CVKTReportRecordItemJulianDate::GetJulian() const {
  return m_odtValue.GetStatus() == COleDateTime::valid ? DateToJulian(m_odtValue.m_dt, 0) : 0;
}

CString CVKTReportRecordItemJulianDate::GetCaption(CXTPReportColumn*) {
  if (m_odtValue.GetStatus() != COleDateTime::valid) return CString();
  return CString(m_odtValue.Format(m_strFormatString.GetString()));
}

CString CVKTReportRecordItemJulianDate::GetGroupCaption(CXTPReportColumn*) {
  const COleDateTime now = COleDateTime::GetCurrentTime();
  // The null date reads as the OLE date 0.0, long past.
  const COleDateTime d = m_odtValue.GetStatus() == COleDateTime::valid ? m_odtValue : COleDateTime();
  // A lower part counts only when the higher ones are equal: next January
  // is not "this year" because January is before December.
  const int y = d.GetYear(), m = d.GetMonth(), day = d.GetDay();
  if (y < now.GetYear()) return CString("Data: Anni precedenti");
  if (y == now.GetYear() && m < now.GetMonth()) return CString("Data: Quest'anno");
  if (y == now.GetYear() && m == now.GetMonth() && day < now.GetDay()) return CString("Data: Questo mese");
  if (d > now) return CString();
  return CString("Data: Oggi");
}

CVKTReportRecordItemNumber::CVKTReportRecordItemNumber(double value)
    : CXTPReportRecordItemNumber(value) {
  SetAlignment(DT_RIGHT);
}
CVKTReportRecordItemNumber::CVKTReportRecordItemNumber(double value, const char* format)
    : CXTPReportRecordItemNumber(value, format) {
  SetAlignment(DT_RIGHT);
}

CString CVKTReportRecordItemNumber::GetCaption(CXTPReportColumn*) {
  if (!m_strCaption.IsEmpty()) return m_strCaption;
  std::string s = FormatNumber(m_strFormatString, m_dValue);
  for (char& c : s)
    if (c == '.') c = ',';
  return CString(s);
}

CVKTReportRecordItemCurrency::CVKTReportRecordItemCurrency(double value)
    : CXTPReportRecordItemNumber(value) {
  SetAlignment(DT_RIGHT);
}
CVKTReportRecordItemCurrency::CVKTReportRecordItemCurrency(double value, const char* format)
    : CXTPReportRecordItemNumber(value, format) {
  SetAlignment(DT_RIGHT);
}

CString CVKTReportRecordItemCurrency::GetCaption(CXTPReportColumn*) {
  if (!m_strCaption.IsEmpty()) return m_strCaption;
  std::string s = FormatNumber(m_strFormatString, m_dValue);
  if (s.empty()) return CString();
  std::string digits;
  for (char c : s) {
    if (c == '-') continue;
    digits += c == '.' ? ',' : c;
  }
  // Thousands separators in the integer part, counted from its right end.
  size_t start = 0;
  while (start < digits.size() && digits[start] == ' ') ++start;
  size_t end = digits.find(',', start);
  if (end == std::string::npos) end = digits.size();
  std::string grouped;
  for (size_t i = start; i < end; ++i) {
    grouped += digits[i];
    size_t left = end - i - 1;
    if (left > 0 && left % 3 == 0 && std::isdigit(static_cast<unsigned char>(digits[i]))) grouped += '.';
  }
  std::string out = (m_dValue < 0 ? "-" : "") + grouped + digits.substr(end);
  return CString(out);
}
