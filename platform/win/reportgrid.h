// The report grid of the window model: our own version of the toolkit's
// report control (columns, records of items, header records, grouping,
// sorting, a group-by box, in-place editing of header cells), its paint
// manager, the XML property exchange its layouts are saved with, the
// command-bar pop-up menu, and a print view that lays the grid out as text
// pages.
//
//   CXTPReportControl grid;
//   grid.Create(WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(10, 10, 610, 310), &dlg, 1100);
//   grid.AddColumn(new CXTPReportColumn(0, "Codice", 80));
//   grid.AddColumn(new CXTPReportColumn(1, "Ragione sociale", 240));
//   auto* r = new CXTPReportRecord;
//   r->AddItem(new CXTPReportRecordItemText("C001"));
//   r->AddItem(new CXTPReportRecordItemText("Rossi Mario"));
//   grid.AddRecord(r);                 // owned by the grid from now on
//   grid.Populate();                   // rows: sorted, grouped, visible only
//
// Notifications reach the control first (OnReflectNotify, as a reflected
// notification of the message map would) and then the parent as WM_NOTIFY
// with an XTP_NM_REPORTRECORDITEM. A click on a column header sorts by it;
// a drag of a header into the group-by box groups by it; a click on a cell
// of an editable header row starts editing it, and every typed character
// changes its value (XTP_NM_REPORT_VALUECHANGED).
#ifndef VKT_WIN_REPORTGRID_H_
#define VKT_WIN_REPORTGRID_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/cstring.h"
#include "win/oledatetime.h"
#include "win/window.h"

namespace pugi {
struct xml_node_struct;
class xml_document;
}  // namespace pugi

class CXTPReportControl;
class CXTPReportRecord;
class CXTPReportRow;

// Notification codes (WM_NOTIFY, and the reflected hook).
constexpr UINT XTP_NM_REPORT_HEADER_RCLICK = 0xFFFFFD9Fu;
constexpr UINT XTP_NM_REPORT_VALUECHANGED = 0xFFFFFDA0u;

enum XTPReportRowType { xtpRowTypeBody = 0, xtpRowTypeHeader = 1, xtpRowTypeFooter = 2 };

struct XTP_NMHDR {
  HWND hwndFrom = nullptr;
  uintptr_t idFrom = 0;
  UINT code = 0;
};

struct XTP_NM_REPORTRECORDITEM {
  XTP_NMHDR hdr;
  CXTPReportRow* pRow = nullptr;
  class CXTPReportRecordItem* pItem = nullptr;
  class CXTPReportColumn* pColumn = nullptr;
  CPoint pt;  // client co-ordinates of the click
};

class VKT_API CXTPReportColumn {
 public:
  // `item_index`: the record item the column shows.
  CXTPReportColumn(int item_index, const char* caption, int width, BOOL auto_size = TRUE);
  virtual ~CXTPReportColumn();

  int GetItemIndex() const { return item_index_; }
  const CString& GetCaption() const { return caption_; }
  void SetCaption(const char* caption) { caption_ = caption; }
  int GetWidth() const { return width_; }
  void SetWidth(int width);
  BOOL IsVisible() const { return visible_; }
  void SetVisible(BOOL visible = TRUE);
  BOOL IsSortedIncreasing() const { return increasing_; }
  void SetSortIncreasing(BOOL increasing) { increasing_ = increasing; }
  // DT_LEFT, DT_CENTER or DT_RIGHT for the header caption.
  int GetAlignment() const { return alignment_; }
  void SetAlignment(int alignment) { alignment_ = alignment; }
  BOOL IsAutoSize() const { return auto_size_; }
  // Sizes the column to its widest caption (header and rows).
  void BestFit();
  CXTPReportControl* GetControl() const { return control_; }

 private:
  friend class CXTPReportControl;
  friend class CXTPReportColumns;
  int item_index_;
  CString caption_;
  int width_;
  BOOL visible_ = TRUE;
  BOOL increasing_ = TRUE;
  BOOL auto_size_;
  int alignment_ = DT_LEFT;
  CXTPReportControl* control_ = nullptr;
};

// Columns in an order of their own (sorting, grouping); not owned.
class VKT_API CXTPReportColumnOrder {
 public:
  int GetCount() const { return static_cast<int>(columns_.size()); }
  CXTPReportColumn* GetAt(int i) const;
  int IndexOf(const CXTPReportColumn* c) const;
  void Add(CXTPReportColumn* c);  // once
  void Remove(CXTPReportColumn* c);
  void Clear() { columns_.clear(); }

 private:
  std::vector<CXTPReportColumn*> columns_;
};

class VKT_API CXTPReportColumns {
 public:
  explicit CXTPReportColumns(CXTPReportControl* control) : control_(control) {}
  // Takes ownership; columns keep the order they were added in.
  CXTPReportColumn* Add(CXTPReportColumn* column);
  void Clear();
  int GetCount() const { return static_cast<int>(columns_.size()); }
  CXTPReportColumn* GetAt(int i) const;
  // The column of a record item; null when none shows it.
  CXTPReportColumn* Find(int item_index) const;
  int IndexOf(const CXTPReportColumn* c) const;
  // Moves a column to position `pos` (clamped).
  void ChangeColumnOrder(int pos, int from);
  int GetVisibleColumnsCount() const;
  CXTPReportColumnOrder* GetGroupsOrder() { return &groups_; }
  CXTPReportColumnOrder* GetSortOrder() { return &sort_; }

 private:
  CXTPReportControl* control_;
  std::vector<std::unique_ptr<CXTPReportColumn>> columns_;
  CXTPReportColumnOrder groups_;
  CXTPReportColumnOrder sort_;
};

// What an item is asked before it is drawn (and printed).
struct XTP_REPORTRECORDITEM_DRAWARGS {
  CDC* pDC = nullptr;
  CXTPReportControl* pControl = nullptr;
  CXTPReportRow* pRow = nullptr;
  CXTPReportColumn* pColumn = nullptr;
  class CXTPReportRecordItem* pItem = nullptr;
  CRect rcItem;
  int nTextAlign = DT_LEFT;
};
struct XTP_REPORTRECORDITEM_METRICS {
  CFont* pFont = nullptr;  // null: the paint manager's text font
  COLORREF clrForeground = 0;
  COLORREF clrBackground = 0xFFFFFF;
  CString strText;
  int nItemTextAlign = DT_LEFT;
};

class VKT_API CXTPReportRecordItem {
 public:
  CXTPReportRecordItem();
  virtual ~CXTPReportRecordItem();
  CXTPReportRecordItem(const CXTPReportRecordItem&) = delete;
  CXTPReportRecordItem& operator=(const CXTPReportRecordItem&) = delete;

  // The text the cell shows.
  virtual CString GetCaption(CXTPReportColumn* column);
  // The caption of the item's group when the grid is grouped by `column`.
  virtual CString GetGroupCaption(CXTPReportColumn* column);
  // <0, 0, >0 as this item sorts before, with or after `other`.
  virtual int Compare(CXTPReportColumn* column, CXTPReportRecordItem* other);
  // Called with each change of an edited cell's text.
  virtual void OnEditChanged(const char* text);
  // Items draw their caption with their alignment, asked through the record.
  virtual void GetItemMetrics(XTP_REPORTRECORDITEM_DRAWARGS* args,
                              XTP_REPORTRECORDITEM_METRICS* metrics);
  // True for the preview text under a row (never drawn in a cell).
  virtual BOOL IsPreviewItem() const { return FALSE; }

  // An explicit caption, shown instead of the value by the items that say so.
  void SetCaption(const char* caption) { m_strCaption = caption; }
  const CString& GetExplicitCaption() const { return m_strCaption; }
  void SetAlignment(int alignment) { alignment_ = alignment; }
  int GetAlignment() const { return alignment_; }
  void SetEditable(BOOL editable) { editable_ = editable; }
  BOOL IsEditable() const { return editable_; }
  CXTPReportRecord* GetRecord() const { return record_; }

 protected:
  CString m_strCaption;

 private:
  friend class CXTPReportRecord;
  int alignment_ = DT_LEFT;
  BOOL editable_ = TRUE;
  CXTPReportRecord* record_ = nullptr;
};

class VKT_API CXTPReportRecordItemText : public CXTPReportRecordItem {
 public:
  explicit CXTPReportRecordItemText(const char* value = "");
  CString GetCaption(CXTPReportColumn* column) override;
  void OnEditChanged(const char* text) override { m_strText = text; }
  const CString& GetValue() const { return m_strText; }
  void SetValue(const char* value) { m_strText = value; }

 protected:
  CString m_strText;
};

class VKT_API CXTPReportRecordItemNumber : public CXTPReportRecordItem {
 public:
  explicit CXTPReportRecordItemNumber(double value = 0.0);
  CXTPReportRecordItemNumber(double value, const char* format);
  CString GetCaption(CXTPReportColumn* column) override;
  int Compare(CXTPReportColumn* column, CXTPReportRecordItem* other) override;
  double GetValue() const { return m_dValue; }
  void SetValue(double value) { m_dValue = value; }
  // True for a printf format of exactly one floating conversion (flags,
  // width and precision as digits; "%%" allowed). Any other format would
  // read arguments that are not there, so the items print "%g" instead.
  static bool IsNumberFormat(const char* format);
  // The value printed with the format (or "%g" when it is not one).
  static std::string FormatValue(const char* format, double value);
  void SetFormatString(const char* format) { m_strFormatString = format; }
  const CString& GetFormatString() const { return m_strFormatString; }

 protected:
  double m_dValue;
  CString m_strFormatString;
};

class VKT_API CXTPReportRecordItemDateTime : public CXTPReportRecordItem {
 public:
  explicit CXTPReportRecordItemDateTime(COleDateTime value);
  CString GetCaption(CXTPReportColumn* column) override;
  int Compare(CXTPReportColumn* column, CXTPReportRecordItem* other) override;
  const COleDateTime& GetValue() const { return m_odtValue; }
  void SetValue(const COleDateTime& value) { m_odtValue = value; }
  void SetFormatString(const char* format) { m_strFormatString = format; }
  const CString& GetFormatString() const { return m_strFormatString; }

 protected:
  COleDateTime m_odtValue;
  CString m_strFormatString = "%d/%m/%Y";
};

class VKT_API CXTPReportRecord {
 public:
  CXTPReportRecord();
  virtual ~CXTPReportRecord();
  CXTPReportRecord(const CXTPReportRecord&) = delete;
  CXTPReportRecord& operator=(const CXTPReportRecord&) = delete;

  // Takes ownership; items count from 0 in the order added.
  CXTPReportRecordItem* AddItem(CXTPReportRecordItem* item);
  CXTPReportRecordItem* GetItem(int index) const;
  CXTPReportRecordItem* GetItem(const CXTPReportColumn* column) const;
  int GetItemCount() const { return static_cast<int>(items_.size()); }
  BOOL IsVisible() const { return visible_; }
  void SetVisible(BOOL visible) { visible_ = visible; }
  // Asked for every item before it is drawn or printed; may change the
  // font, the colours and the text in `metrics`.
  virtual void GetItemMetrics(XTP_REPORTRECORDITEM_DRAWARGS* args,
                              XTP_REPORTRECORDITEM_METRICS* metrics);

 private:
  std::vector<std::unique_ptr<CXTPReportRecordItem>> items_;
  BOOL visible_ = TRUE;
};

class VKT_API CXTPReportRecords {
 public:
  CXTPReportRecord* Add(CXTPReportRecord* record);  // takes ownership
  void RemoveAll() { records_.clear(); }
  int GetCount() const { return static_cast<int>(records_.size()); }
  CXTPReportRecord* GetAt(int i) const;

 private:
  std::vector<std::unique_ptr<CXTPReportRecord>> records_;
};

// A row of the grid as populated: a record, or the caption of a group.
class VKT_API CXTPReportRow {
 public:
  CXTPReportRecord* GetRecord() const { return record_; }
  BOOL IsGroupRow() const { return record_ == nullptr; }
  const CString& GetGroupCaption() const { return group_caption_; }
  int GetGroupLevel() const { return level_; }
  XTPReportRowType GetType() const { return type_; }
  int GetIndex() const { return index_; }

 private:
  friend class CXTPReportControl;
  CXTPReportRecord* record_ = nullptr;
  CString group_caption_;
  int level_ = 0;
  XTPReportRowType type_ = xtpRowTypeBody;
  int index_ = 0;
};

class VKT_API CXTPReportPaintManager {
 public:
  CXTPReportPaintManager();
  void SetColumnStyle(int style) { column_style_ = style; }
  int GetColumnStyle() const { return column_style_; }
  void SetFixedRowHeight(BOOL fixed) { fixed_row_height_ = fixed; }
  BOOL IsFixedRowHeight() const { return fixed_row_height_; }
  void SetHeaderRowsDividerColor(COLORREF c) { header_divider_ = c; }
  void SetFooterRowsDividerColor(COLORREF c) { footer_divider_ = c; }
  COLORREF GetHeaderRowsDividerColor() const { return header_divider_; }
  COLORREF GetFooterRowsDividerColor() const { return footer_divider_; }
  // Vertical (or horizontal) grid lines and their style (0 none, 1 small
  // dots, 2 large dots, 3 dashes, 4 solid).
  void SetGridStyle(BOOL vertical, int style);
  int GetGridStyle(BOOL vertical) const { return vertical ? vertical_grid_ : horizontal_grid_; }

  CFont m_fontText;
  CFont m_fontBoldText;
  COLORREF m_clrWindowText = RGB(0, 0, 0);
  COLORREF m_clrControlBack = RGB(255, 255, 255);
  COLORREF m_clrHeaderBack = RGB(220, 228, 240);
  COLORREF m_clrGroupBack = RGB(236, 240, 247);
  COLORREF m_clrGroupBoxBack = RGB(160, 170, 190);
  COLORREF m_clrGridLine = RGB(208, 215, 229);
  COLORREF m_clrHighlight = RGB(51, 153, 255);
  COLORREF m_clrHighlightText = RGB(255, 255, 255);
  COLORREF m_clrHeaderRowBack = RGB(255, 255, 225);

 private:
  int column_style_ = 0;
  BOOL fixed_row_height_ = TRUE;
  COLORREF header_divider_ = RGB(128, 128, 128);
  COLORREF footer_divider_ = RGB(128, 128, 128);
  int vertical_grid_ = 0;
  int horizontal_grid_ = 4;
};

class VKT_API CXTPReportHeader {
 public:
  void SetAutoColumnSizing(BOOL on) { auto_sizing_ = on; }
  BOOL IsAutoColumnSizing() const { return auto_sizing_; }

 private:
  BOOL auto_sizing_ = TRUE;
};

// The XML property exchange: a node of a document, read from (loading) or
// written to (saving). Values are attributes of the node; sections are
// child elements. Texts are Windows-1252 in the program and UTF-8 in the
// file.
class VKT_API CXTPPropExchangeXMLNode {
 public:
  // A new, empty document whose root element is `root`.
  CXTPPropExchangeXMLNode(BOOL loading, const char* root);
  ~CXTPPropExchangeXMLNode();
  CXTPPropExchangeXMLNode(const CXTPPropExchangeXMLNode&) = delete;
  CXTPPropExchangeXMLNode& operator=(const CXTPPropExchangeXMLNode&) = delete;

  // Replaces the document with the file's. False, and the document left
  // empty, when the file is missing, larger than kMaxFileSize, not well
  // formed or has another root element; *error then says why.
  static constexpr size_t kMaxFileSize = 1 << 20;
  BOOL LoadFromFile(const std::string& path, std::string* error);
  // Writes the document to a temporary file beside `path` and renames it
  // over `path`, so a reader never sees half a layout. False with *error.
  BOOL SaveToFile(const std::string& path, std::string* error);

  BOOL IsLoading() const { return loading_; }
  void SetLoading(BOOL loading) { loading_ = loading; }
  // The child element `name` (letters, digits, '_', '-', '.'): found when
  // loading (null when absent), made afresh when saving (an old one of that
  // name is replaced). Null for a name that is not an element name.
  std::unique_ptr<CXTPPropExchangeXMLNode> GetSection(const char* name);
  // The same for a section named by the host: any text, kept in the
  // attribute Name of a <Section> element.
  std::unique_ptr<CXTPPropExchangeXMLNode> GetNamedSection(const char* name);
  // Sections with the element name `name`, in document order (loading).
  std::vector<std::unique_ptr<CXTPPropExchangeXMLNode>> GetSections(const char* name);
  // A new child element `name` (saving).
  std::unique_ptr<CXTPPropExchangeXMLNode> AddSection(const char* name);

  // Exchange of one attribute: on loading a missing or malformed value
  // gives `def` and the result FALSE.
  BOOL PX_Bool(const char* name, BOOL& value, BOOL def);
  BOOL PX_Int(const char* name, int& value, int def);
  BOOL PX_String(const char* name, CString& value, const char* def);

 private:
  CXTPPropExchangeXMLNode(std::shared_ptr<pugi::xml_document> doc, pugi::xml_node_struct* node,
                          BOOL loading);
  std::unique_ptr<CXTPPropExchangeXMLNode> Section(const char* name, bool named);
  std::shared_ptr<pugi::xml_document> doc_;
  pugi::xml_node_struct* node_ = nullptr;
  std::string root_;
  BOOL loading_;
};
using CXTPPropExchange = CXTPPropExchangeXMLNode;

// The command-bar pop-up menu.
class VKT_API CXTPMenu {
 public:
  struct Item {
    UINT id = 0;
    CString text;
    bool checked = false;
    std::shared_ptr<CXTPMenu> submenu;
  };
  void AppendItem(UINT id, const char* text, bool checked = false);
  void AppendSubMenu(std::shared_ptr<CXTPMenu> submenu, const char* text);
  void InsertSubMenu(int pos, std::shared_ptr<CXTPMenu> submenu, const char* text);
  int GetItemCount() const { return static_cast<int>(items_.size()); }
  const Item& GetItem(int pos) const { return items_.at(static_cast<size_t>(pos)); }

 private:
  std::vector<Item> items_;
};

enum XTPTrackPopupFlags : UINT {
  xtpTrackRightButton = 0x0002,
  xtpTrackNoNotify = 0x0080,
  xtpTrackReturnCmd = 0x0100,
};

// The window of a pop-up menu while it is shown: Up and Down move the
// highlight, Enter or a click chooses, Right (or choosing it) opens a
// submenu, Escape and Left close the menu.
class VKT_API CXTPPopupMenuWnd : public CWnd {
 public:
  explicit CXTPPopupMenuWnd(const CXTPMenu* menu) : menu_(menu) {}
  const CXTPMenu* menu() const { return menu_; }
  int highlighted() const { return highlighted_; }
  // The item's rectangle in client co-ordinates.
  CRect ItemRect(int pos) const;
  CSize Measure();
  int chosen() const { return chosen_; }
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 private:
  void Choose(int pos);
  const CXTPMenu* menu_;
  int highlighted_ = -1;
  int chosen_ = 0;
};

class VKT_API CXTPCommandBars {
 public:
  // Shows `menu` at (x, y) (screen co-ordinates) and runs its modal loop
  // until an item is chosen or the menu is dismissed. With
  // xtpTrackReturnCmd returns the chosen command (0 when none); otherwise
  // the command is sent to `owner` as WM_COMMAND (unless xtpTrackNoNotify)
  // and the result is TRUE when one was chosen.
  static int TrackPopupMenu(const CXTPMenu* menu, UINT flags, int x, int y, CWnd* owner);
};

namespace vkt::win {
// The innermost pop-up menu on screen, or null.
VKT_API CXTPPopupMenuWnd* ActivePopupMenu();
}  // namespace vkt::win

// How a report view prints: the page header and footer formats (the text,
// with &D the date, &T the time, &p the page, &P the pages, && an
// ampersand, and &b between the left, centre and right parts), and the
// page size of the text channel.
class VKT_API CXTPReportViewPrintOptions {
 public:
  CString m_strPageHeader;
  CString m_strPageFooter;
  int m_nPageRows = 66;
  int m_nPageColumns = 80;
  // The text of a header or footer format for one page.
  static std::string FormatPageText(const char* format, int page, int pages,
                                    const COleDateTime& now, int width);
};

class VKT_API CXTPReportControl : public CWnd {
 public:
  CXTPReportControl();
  ~CXTPReportControl() override;

  BOOL Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);

  CXTPReportColumn* AddColumn(CXTPReportColumn* column);
  CXTPReportColumns* GetColumns() { return &columns_; }
  CXTPReportRecord* AddRecord(CXTPReportRecord* record);
  CXTPReportRecords* GetRecords() { return &records_; }
  CXTPReportRecords* GetHeaderRecords() { return &header_records_; }
  void ResetContent();

  // Rebuilds the rows from the records: the visible ones, sorted by the
  // group columns and then the sort columns, a group row before each new
  // group caption.
  virtual void Populate();
  void PopulateHeaderRows();
  int GetRowCount() const { return static_cast<int>(rows_.size()); }
  CXTPReportRow* GetRow(int i) const;
  int GetHeaderRowCount() const { return static_cast<int>(header_rows_.size()); }
  CXTPReportRow* GetHeaderRow(int i) const;

  void ShowHeader(BOOL show) { show_header_ = show; Invalidate(); }
  void ShowHeaderRows(BOOL show);
  BOOL IsHeaderRowsVisible() const { return show_header_rows_; }
  void HeaderRowsAllowEdit(BOOL allow) { header_rows_edit_ = allow; }
  BOOL IsHeaderRowsAllowEdit() const { return header_rows_edit_; }
  void ShowGroupBy(BOOL show);
  BOOL IsGroupByVisible() const { return show_group_by_; }
  // Updates nest; drawing waits for the outermost EndUpdate.
  void BeginUpdate() { ++updating_; }
  void EndUpdate();
  BOOL IsUpdating() const { return updating_ > 0; }

  CXTPReportPaintManager* GetPaintManager() { return &paint_; }
  CXTPReportHeader* GetReportHeader() { return &header_; }

  // Sorts by one column (the sort order becomes that column alone).
  void SortBy(CXTPReportColumn* column, BOOL increasing);
  int GetFocusedRow() const { return focused_; }
  void SetFocusedRow(int row);
  // The header cell being edited (null when none).
  CXTPReportRecordItem* GetActiveEditItem() const { return edit_item_; }
  // Starts editing header row `row`, column `column`.
  BOOL EditHeaderItem(int row, CXTPReportColumn* column);
  void EndEdit();

  // Columns, sorting, grouping and the group-by box.
  virtual void DoPropExchange(CXTPPropExchange* px);

  // Geometry, client co-ordinates.
  int RowHeight() const;
  CRect GroupByRect() const;
  CRect HeaderRect() const;
  CRect HeaderRowsRect() const;
  CRect BodyRect() const;
  CRect ColumnHeaderRect(const CXTPReportColumn* column) const;
  CRect HeaderCellRect(int row, const CXTPReportColumn* column) const;
  // The body row shown at `point` (-1 when none) and the column (null).
  int HitTestRow(CPoint point) const;
  CXTPReportColumn* HitTestColumn(CPoint point) const;
  // The caption an item shows (or prints) after its record's metrics.
  CString ItemText(CXTPReportRow* row, CXTPReportColumn* column,
                   XTP_REPORTRECORDITEM_METRICS* metrics = nullptr);

  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 protected:
  // A notification about to reach the parent; TRUE keeps it from the
  // parent (a reflected notification that says it handled it).
  virtual BOOL OnReflectNotify(UINT code, XTP_NM_REPORTRECORDITEM* nm, LRESULT* result);
  // Sends `code` to the control itself, then to the parent.
  LRESULT SendNotify(UINT code, XTP_NM_REPORTRECORDITEM* nm);
  // Tells the parent with a bare notification code.
  LRESULT SendNotifyMessage(UINT code);

 private:
  void Paint();
  void PaintRowCells(CDC& dc, CXTPReportRow* row, int y, bool selected);
  void OnHeaderClick(CPoint p);
  void OnRightClick(CPoint p);
  void OnChar(UINT ch);
  void SetEditText(const std::string& text);

  CXTPReportColumns columns_;
  CXTPReportRecords records_;
  CXTPReportRecords header_records_;
  std::vector<std::unique_ptr<CXTPReportRow>> rows_;
  std::vector<std::unique_ptr<CXTPReportRow>> header_rows_;
  CXTPReportPaintManager paint_;
  CXTPReportHeader header_;
  BOOL show_header_ = TRUE;
  BOOL show_header_rows_ = FALSE;
  BOOL header_rows_edit_ = FALSE;
  BOOL show_group_by_ = FALSE;
  int updating_ = 0;
  int focused_ = -1;
  int top_ = 0;
  CXTPReportRecordItem* edit_item_ = nullptr;
  int edit_row_ = -1;
  CXTPReportColumn* drag_column_ = nullptr;
};

// The print view of a report control: the grid laid out as text pages.
class VKT_API CXTPReportView : public CWnd {
 public:
  CXTPReportView();
  ~CXTPReportView() override;
  // A hidden child of `parent` (a hidden top-level window when null).
  BOOL CreateView(CWnd* parent);
  void SetReportCtrl(CXTPReportControl* control) { control_ = control; }
  CXTPReportControl* GetReportCtrl() const { return control_; }
  void SetPrintOptions(CXTPReportViewPrintOptions* options) { options_ = options; }
  CXTPReportViewPrintOptions* GetPrintOptions() const { return options_; }
  // The pages as lines of at most m_nPageColumns bytes: the page header, a
  // blank line, the column captions and a rule, the rows (a group row as
  // its caption), and the footer on the last line of each page. Without a
  // control, no pages.
  std::vector<std::vector<std::string>> PrintPages(const COleDateTime& now);

 private:
  CXTPReportControl* control_ = nullptr;
  CXTPReportViewPrintOptions* options_ = nullptr;
};

#endif  // VKT_WIN_REPORTGRID_H_
