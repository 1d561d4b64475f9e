// Plain-text pages: composed in memory as a grid of characters, then sent
// raw to a print queue (with the printer's condensed-print and paper-cut
// sequences) or written to a file that the companion text viewer opens.
//
//   CPrinter p("Elenco clienti", GetPrinterRow(), 80, 0);
//   p.SetOutput(0);                     // file channel, temporary file
//   p.Open(nullptr, nullptr);
//   p.Clear();
//   p.Goto(0, 0); p.Put("Cliente");     // writes at row 0, column 0
//   p.Goto(0, 60); p.Num(1234.5, 12, 2, 1, 1, 0, 0);
//   p.Flush();
//   p.Output();                         // starts the viewer on the file
//   p.Close();                          // reports the first error, if any
//
// Errors are sticky: the first failure sets `status` and every later call
// returns it without acting, until Close reports it. The class is
// byte-packed and its members are public: hosts read and write some of them
// directly.
#ifndef VKT_PRINT_PRINTER_H_
#define VKT_PRINT_PRINTER_H_

#include <cstdint>
#include <cstdio>

#include "vkt_export.h"
#include "win/winmsg.h"

using HANDLE = void*;

#pragma pack(push, 1)

// A spooler document: its name, no output file, the data type "RAW".
struct DOC_INFO_1 {
  char* pDocName;
  char* pOutputFile;
  char* pDatatype;
};

class VKT_API CPrinter {
 public:
  // Status codes (`status`); Close shows the message of each.
  static constexpr short kAllocFailed = 1;        // page buffer
  static constexpr short kTempName = 2;           // no operation sets it
  static constexpr short kCreateFile = 3;
  static constexpr short kWriteFile = 4;
  static constexpr short kPutAlloc = 5;
  static constexpr short kSerialAlloc = 6;
  static constexpr short kCancelled = 7;          // printer choice cancelled; not reported
  static constexpr short kOpenPrinter = 8;
  static constexpr short kStartJob = 9;
  static constexpr short kPage = 10;
  static constexpr short kWritePrinter = 11;
  static constexpr short kBadOutput = 12;
  static constexpr short kViewer = 13;            // the viewer did not start

  // Output channels (`output`).
  static constexpr short kToFile = 0;
  static constexpr short kToPrinter = 1;
  static constexpr short kToViewer = 2;           // a file, as 0

  // `rows` lines per page of `columns` characters; `compressed` 1 prints
  // condensed. A printer of 0 rows has no page: only StartPage, Stampa and
  // EndPage are of use on it.
  CPrinter(const char* name, int32_t rows, int32_t columns, int compressed);
  // Frees the temporary name and the page, closes the file, and closes the
  // printer (cancelling a document that Close never ended).
  ~CPrinter();
  CPrinter(const CPrinter&) = delete;
  CPrinter& operator=(const CPrinter&) = delete;

  // 0, 1 or 2; anything else sets status 12.
  short SetOutput(short mode);
  // Allocates the page and opens the channel: the printer named (or the one
  // chosen in the set-up dialog when null), or the file named (or a new
  // temporary file under the program's "tmp" folder when null).
  short Open(const char* file, const char* printer);
  // Every line blank, ending in CR LF; row and col back to 0.
  short Clear();
  short Goto(int32_t row, int32_t col);
  // `len` bytes of text (its length when len is 0) at row, col, cut at the
  // end of the line; NUL bytes print as blanks; col advances by the count.
  short Put(const char* text, int32_t len = 0);
  short PutChar(char c);
  short Center(const char* text);
  // n copies of c; 0 means a whole line.
  short Serial(char c, unsigned n);
  // A number right-aligned in `width` columns; asterisks when too long.
  short Num(double value, unsigned width, int decimals, int thousands, int zero,
            int fill, int trim);
  // dd/mm/yyyy of a Julian day number; 10 blanks for 0 or an invalid day.
  short Data(int32_t julian);
  // "Data : dd/mm/yyyy" of today.
  short Day();
  // "Pag. %5ld" of `page`.
  short PagNum();
  // "Pag. yyyy-n" right-aligned in 15 characters.
  short AnnoPagNum(int32_t year);
  // Sends the page to the channel.
  short Flush();
  // Closes the temporary file and starts the viewer on it.
  short Output();
  // Releases everything, then shows the message of the status (not for 0
  // and 7) and the numeric-field warning. Returns the status.
  short Close();
  short StartPage();
  short EndPage();
  // Raw bytes to the printer: the text, and its NUL when withNul is 1.
  short Stampa(const char* text, int withNul);
  void SetNotchCustom(int n) { notch = n; }
  int32_t GetMaxCol() const { return width - 2; }
  int32_t GetMaxRow() const { return rows; }

  short status;
  int32_t page;
  int32_t col;
  int32_t row;
  int compressed;
  int notch;
  int32_t rows;
  int32_t width;
  char* temp_name;
  char number_too_short;
  char* page_buffer;
  FILE* file;
  HANDLE printer;
  DOC_INFO_1 document;
  DWORD job;
  short output;

 private:
  bool Failed() const { return status != 0; }
  bool Writable() const;
  void ReleaseChannel();
  bool SendToPrinter(const void* data, size_t size);
};

#pragma pack(pop)

// The profile's "PrinterType" of "Settings" as an integer (0 when missing or
// not a number).
VKT_API int GetPrinterType();
// The profile's "PrinterRow" of "Settings"; 66 when missing or 0.
VKT_API int GetPrinterRow();

#endif  // VKT_PRINT_PRINTER_H_
