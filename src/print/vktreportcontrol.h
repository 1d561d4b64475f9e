// CVKTReportControl: the library's list grid. Over the toolkit's report
// control it adds a search row (one editable text cell per column that
// filters the records as the user types), the Italian column menu, layouts
// saved to and loaded from XML files under the program's "configuration"
// folder, and printing with the library's page footer.
//
//   CVKTReportControl grid;             // a dialog member
//   DDX_Control(dx, IDC_GRID, grid);    // set up when attached
//   grid.SetFilterable(TRUE);           // before the first Populate
//   grid.AddColumn(new CXTPReportColumn(0, "Cliente", 200));
//   auto* r = new CVKTReportRecord;
//   r->AddItem(new CXTPReportRecordItemText("Rossi Mario"));
//   r->AddItem(new CVKTReportRecordItemCurrency(1234.5, "%.2f"));
//   r->SetBookmark(17, 0);
//   grid.AddRecord(r);
//   grid.Populate();                    // builds the search row once
//   grid.LoadState("clienti.xml", "Elenco");
//   ...
//   grid.SaveState("clienti.xml", "Elenco");
//   grid.Print("Elenco clienti");
//
// CVKTReportRecord is a row with a key (the bookmark), a bold switch and a
// text colour; the record items show day numbers and dates (grouped as
// "Data: Oggi", "Data: Questo mese", ...), numbers and amounts in Italian
// form.
#ifndef VKT_PRINT_VKTREPORTCONTROL_H_
#define VKT_PRINT_VKTREPORTCONTROL_H_

#include <cstdint>
#include <string>

#include "vkt_export.h"
#include "win/cstring.h"
#include "win/reportgrid.h"

// The notification the parent receives (WM_NOTIFY, code 0x8002) after the
// search row filtered or cleared the rows.
constexpr UINT kVKTReportFiltered = 0x8002;

// Column menu commands.
constexpr int kVKTMenuGroupBy = 1;
constexpr int kVKTMenuRemoveColumn = 2;
constexpr int kVKTMenuBestFit = 3;
constexpr int kVKTMenuSearch = 5;
constexpr int kVKTMenuColumn = 6;  // + the column's position

class VKT_API CVKTReportControl : public CXTPReportControl {
 public:
  // Where Print sends the pages: the text printer's channels (CPrinter's
  // file 0, printer 1, viewer 2) or a PDF file (3).
  static constexpr short kPrintToPdf = 3;

  CVKTReportControl();
  ~CVKTReportControl() override;

  // The search row and the "Cerca" menu entry; before the first Populate.
  void SetFilterable(int filterable) { filterable_ = filterable ? 1 : 0; }
  int IsFilterable() const { return filterable_; }

  // The toolkit's Populate; the first time, on a filterable grid, builds the
  // search row.
  void Populate() override;

  // Prints the rows with `header` at the top of each page and
  // "&D &T&b&bPag. &p di &P" at the bottom, as the document "Report".
  // Returns 0, or the text printer's status (the printer's own message has
  // then been shown), or -1 when the PDF could not be written.
  short Print(const char* header);
  // Print's destination: one of CPrinter's outputs or kPrintToPdf, and the
  // file (null: a temporary file for the viewer; required for PDF).
  void SetPrintDestination(short output, const char* file);
  CXTPReportViewPrintOptions* GetPrintOptions() { return print_options_; }

  // The layout (columns, sorting, grouping, the group-by box and the search
  // row) in "<path>/configuration/<file>" under the section `section`; one
  // file holds several sections. FALSE when it could not be saved or
  // loaded; a layout that cannot be loaded changes nothing. A file that is
  // there but damaged is reported (services().Notice) and its reason kept
  // in GetStateError().
  BOOL SaveState(CString file, CString section);
  BOOL LoadState(CString file, CString section);
  const std::string& GetStateError() const { return state_error_; }

  void DoPropExchange(CXTPPropExchange* px) override;
  void PreSubclassWindow() override;

 protected:
  void FilterRecords();
  void ClearFilter();
  // The column menu at the click; the chosen command runs.
  void OnReportColumnRClick(XTP_NM_REPORTRECORDITEM* nm, LRESULT* result);
  // TRUE when the change was a search cell's and has been handled.
  BOOL OnReportValueChanged(XTP_NM_REPORTRECORDITEM* nm, LRESULT* result);
  BOOL OnReflectNotify(UINT code, XTP_NM_REPORTRECORDITEM* nm, LRESULT* result) override;

 private:
  std::string StatePath(const CString& file) const;
  void BuildSearchRow();

  CXTPReportViewPrintOptions* print_options_;
  int filterable_ = 0;
  int search_built_ = 0;
  short print_output_ = 0;
  std::string print_file_;
  std::string state_error_;
};

class VKT_API CVKTReportRecord : public CXTPReportRecord {
 public:
  CVKTReportRecord();
  ~CVKTReportRecord() override;

  // Stores the key; with `open` 1 calls Open().
  void SetBookmark(int32_t key, int open);
  int32_t GetBookmark() const { return bookmark_; }
  void SetBold(bool bold) { bold_ = bold; }
  bool IsBold() const { return bold_; }
  // 0xFFFFFFFF (-1): the grid's own colour.
  void SetTextColor(unsigned long color) { text_color_ = static_cast<COLORREF>(color); }
  COLORREF GetTextColor() const { return text_color_; }

  // The bold font and the text colour, for every item but a preview.
  void GetItemMetrics(XTP_REPORTRECORDITEM_DRAWARGS* args,
                      XTP_REPORTRECORDITEM_METRICS* metrics) override;

  // Hooks for derived rows; here they do nothing and return 0. Open is
  // called by SetBookmark(key, 1); Delete and Refresh by the host.
  virtual int Open();
  virtual int16_t Delete();
  virtual int16_t Refresh();

 private:
  int32_t bookmark_ = 0;
  bool bold_ = false;
  COLORREF text_color_ = static_cast<COLORREF>(-1);
};

// A day number (or an OLE date-time) in a cell.
class VKT_API CVKTReportRecordItemJulianDate : public CXTPReportRecordItemDateTime {
 public:
  // "%d/%m/%Y"; day 0 is the null date (an empty cell).
  explicit CVKTReportRecordItemJulianDate(int32_t day = 0);
  // "%d/%m/%Y %H:%M"; 0.0 is the null date.
  explicit CVKTReportRecordItemJulianDate(double date);

  // As the constructors, keeping the format.
  void SetValue(int32_t day);
  void SetValue(double date);
  int32_t GetJulian() const;

  CString GetCaption(CXTPReportColumn* column) override;
  // "Data: Anni precedenti", "Data: Quest'anno", "Data: Questo mese",
  // "Data: Oggi", or empty for a date later than now.
  CString GetGroupCaption(CXTPReportColumn* column) override;
};

// A number in Italian form: "," before the decimals; 0 shows nothing.
class VKT_API CVKTReportRecordItemNumber : public CXTPReportRecordItemNumber {
 public:
  explicit CVKTReportRecordItemNumber(double value = 0.0);
  CVKTReportRecordItemNumber(double value, const char* format);
  CString GetCaption(CXTPReportColumn* column) override;
};

// An amount: "." between thousands and "," before the decimals.
class VKT_API CVKTReportRecordItemCurrency : public CXTPReportRecordItemNumber {
 public:
  explicit CVKTReportRecordItemCurrency(double value = 0.0);
  CVKTReportRecordItemCurrency(double value, const char* format);
  CString GetCaption(CXTPReportColumn* column) override;
};

#endif  // VKT_PRINT_VKTREPORTCONTROL_H_
