#include "print/printer.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/julian.h"
#include "common/vktstring.h"
#include "frame/vktapp.h"
#include "print/cups_queue.h"
#include "print/file_channel.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

constexpr const char* kCaption = "VKTDlg";
constexpr int kShowMaximized = 3;  // SW_SHOWMAXIMIZED
// Texts and fill runs up to this length need no allocation.
constexpr size_t kWorkCopy = 200;

vkt::print_io::RawQueue* Queue(HANDLE h) { return static_cast<vkt::print_io::RawQueue*>(h); }

const char* StatusMessage(short status) {
  switch (status) {
    case 1: return "Allocazione di memoria Fallita!";
    case 2: return "Impossibile assegnare il nome temporaneo!";
    case 3: return "Impossibile creare il file di appoggio!";
    case 4: return "Errore di scrittura su file!";
    case 5: return "Allocazione di memoria in Put Fallita!";
    case 6: return "Allocazione di memoria in Serial Fallita!";
    case 8: return "Impossibile aprire la stampante selezionata!";
    case 9: return "Impossibile inizializzare il Job di Stampa!";
    case 10: return "Impossibile aprire la pagina di Stampa!";
    case 11: return "Errore di scrittura sulla stampante!";
    case 12: return "Periferica di Output non Valida!";
    case 13: return "Impossibile avviare il visualizzatore di stampa!";
    default: return "Errore Sconosciuto!";
  }
}

// The profile value as GetProfileInt reads it: blanks, a sign, digits;
// anything else ends the number, none gives 0. Saturates.
int ProfileNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > INT_MAX) {
      v = INT_MAX;
      break;
    }
  }
  return static_cast<int>(negative ? -v : v);
}

// Condensed print on and off, by printer type.
const char* CondensedStart(int type) {
  return type == 1 ? "\x1b(s16.67H" : type == 2 ? "\x1b&k2S" : "\x0f";
}
const char* CondensedEnd(int type) {
  return type == 1 ? "\x1b(s10H" : type == 2 ? "\x1b&k0S" : "\x12";
}
// The receipt printer's paper cut.
constexpr char kNotch[] = {'\x1d', '\xf8', '\x1b', '\x69'};

}  // namespace

int GetPrinterType() {
  return ProfileNumber(vkt::services().GetProfileString("Settings", "PrinterType", ""));
}

int GetPrinterRow() {
  int rows = ProfileNumber(vkt::services().GetProfileString("Settings", "PrinterRow", ""));
  return rows == 0 ? 66 : rows;
}

CPrinter::CPrinter(const char* name, int32_t r, int32_t columns, int comp)
    : status(0),
      page(0),
      col(0),
      row(0),
      compressed(comp),
      notch(0),
      rows(r),
      // A column count that leaves no room for the line end is refused by Open.
      width(columns > INT32_MAX - 2 ? 0 : columns + 2),
      temp_name(nullptr),
      number_too_short(0),
      page_buffer(nullptr),
      file(nullptr),
      printer(nullptr),
      document{nullptr, nullptr, const_cast<char*>("RAW")},
      job(0),
      output(kToPrinter) {
  // The host's text may not outlive the printer: keep a copy.
  document.pDocName = strdup(name != nullptr ? name : "");
}

CPrinter::~CPrinter() {
  std::free(temp_name);
  std::free(page_buffer);
  if (file != nullptr) vkt::print_io::CloseOutputFile(file);
  delete Queue(printer);
  std::free(document.pDocName);
}

short CPrinter::SetOutput(short mode) {
  if (Failed()) return status;
  if (mode == kToFile || mode == kToPrinter || mode == kToViewer) {
    output = mode;
    return 0;
  }
  status = kBadOutput;
  return status;
}

void CPrinter::ReleaseChannel() {
  if (file != nullptr) vkt::print_io::CloseOutputFile(file);
  file = nullptr;
  delete Queue(printer);
  printer = nullptr;
  job = 0;
  std::free(temp_name);
  temp_name = nullptr;
}

short CPrinter::Open(const char* file_name, const char* printer_name) {
  if (Failed()) return status;
  // A second Open starts over rather than leak the first channel.
  ReleaseChannel();
  std::free(page_buffer);
  page_buffer = nullptr;
  if (rows < 0 || width < 2) {
    status = kAllocFailed;
    return status;
  }
  if (rows > 0) {
    int64_t size = static_cast<int64_t>(rows) * width + 1;
    if (size > INT32_MAX) {
      status = kAllocFailed;
      return status;
    }
    page_buffer = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (page_buffer == nullptr) {
      status = kAllocFailed;
      return status;
    }
    Clear();
  }

  if (output == kToPrinter) {
    std::string chosen;
    if (printer_name != nullptr && *printer_name != '\0') {
      chosen = printer_name;
    } else {
      // The set-up dialog offers the default queue; the host may still
      // turn its answer into a cancel.
      int result = IDOK;
      if (!vkt::print_io::DefaultPrinter(&chosen)) chosen.clear();
      if (vktpar != nullptr && vktpar->TestDlg != nullptr) result = vktpar->TestDlg(result);
      if (result == IDCANCEL) {
        status = kCancelled;
        return status;
      }
    }
    std::string error;
    std::unique_ptr<vkt::print_io::RawQueue> q = vkt::print_io::RawQueue::Open(chosen, &error);
    if (!q) {
      status = kOpenPrinter;
      return status;
    }
    if (!q->StartDocument(document.pDocName != nullptr ? document.pDocName : "")) {
      status = kStartJob;
      return status;
    }
    job = static_cast<DWORD>(q->job_id());
    printer = q.release();
    return status;
  }

  if (file_name != nullptr && *file_name != '\0') {
    file = vkt::print_io::CreateOutputFile(file_name);
  } else {
    std::string dir;
    if (vktpar != nullptr) dir.assign(vktpar->path, strnlen(vktpar->path, sizeof vktpar->path));
    dir += "/tmp";
    std::string name;
    file = vkt::print_io::CreateTempOutputFile(dir, "VKT", &name);
    if (file != nullptr) {
      temp_name = strdup(name.c_str());
      if (temp_name == nullptr) status = kTempName;
    }
  }
  if (file == nullptr) status = kCreateFile;
  return status;
}

short CPrinter::Clear() {
  if (Failed()) return status;
  if (page_buffer != nullptr) {
    const size_t w = static_cast<size_t>(width);
    for (int32_t r = 0; r < rows; ++r) {
      char* line = page_buffer + static_cast<size_t>(r) * w;
      std::memset(line, ' ', w - 2);
      line[w - 2] = '\r';
      line[w - 1] = '\n';
    }
    page_buffer[static_cast<size_t>(rows) * w] = '\0';
  }
  row = 0;
  col = 0;
  return status;
}

short CPrinter::Goto(int32_t r, int32_t c) {
  if (Failed()) return status;
  row = r;
  col = c;
  return status;
}

bool CPrinter::Writable() const {
  return page_buffer != nullptr && row >= 0 && row < rows && col >= 0 && col < width - 2;
}

short CPrinter::Put(const char* text, int32_t len) {
  if (Failed()) return status;
  // Nothing outside the page: not past the last column, nor above, below or
  // left of it, nor on a printer without a page.
  if (text == nullptr || len < 0 || !Writable()) return status;
  const size_t room = static_cast<size_t>(width - 2 - col);
  size_t count = len > 0 ? static_cast<size_t>(len) : strnlen(text, room);
  if (count > room) count = room;
  if (count == 0) return status;
  char local[kWorkCopy + 1];
  char* work = local;
  std::unique_ptr<char[]> heap;
  if (count > kWorkCopy) {
    heap.reset(new (std::nothrow) char[count]);
    if (!heap) {
      status = kPutAlloc;
      return status;
    }
    work = heap.get();
  }
  std::memcpy(work, text, count);
  for (size_t i = 0; i < count; ++i)
    if (work[i] == '\0') work[i] = ' ';
  std::memcpy(page_buffer + static_cast<size_t>(row) * static_cast<size_t>(width) +
                  static_cast<size_t>(col),
              work, count);
  col += static_cast<int32_t>(count);
  return status;
}

short CPrinter::PutChar(char c) { return Put(&c, 1); }

short CPrinter::Center(const char* text) {
  if (Failed()) return status;
  if (text == nullptr) return status;
  const int64_t length = static_cast<int64_t>(std::strlen(text));
  const int64_t start = (static_cast<int64_t>(width - 2) - length) / 2;
  // A text longer than the line starts at its first column and is cut.
  col = start < 0 ? 0 : static_cast<int32_t>(start);
  return Put(text, 0);
}

short CPrinter::Serial(char c, unsigned n) {
  if (Failed()) return status;
  size_t count = n == 0 ? static_cast<size_t>(width - 2 > 0 ? width - 2 : 0) : n;
  // Copies past the end of the line would be cut anyway: never allocate them.
  if (!Writable()) return status;
  const size_t room = static_cast<size_t>(width - 2 - col);
  if (count > room) count = room;
  if (count == 0) return status;
  char local[kWorkCopy];
  char* run = local;
  std::unique_ptr<char[]> heap;
  if (count > kWorkCopy) {
    heap.reset(new (std::nothrow) char[count]);
    if (!heap) {
      status = kSerialAlloc;
      return status;
    }
    run = heap.get();
  }
  std::memset(run, c, count);
  return Put(run, static_cast<int32_t>(count));
}

short CPrinter::Num(double value, unsigned field_width, int decimals, int thousands, int zero,
                    int fill, int trim) {
  if (Failed()) return status;
  const int d = decimals >= 0 && decimals <= 15 ? decimals : 6;
  // "%30.15f" of the largest double is 326 characters: the buffer holds any.
  char buf[400];
  std::snprintf(buf, sizeof buf, "%30.*f", d, value);
  for (char* p = buf; *p != '\0'; ++p)
    if (*p == '.') *p = ',';
  if (thousands == 1) strcomma(buf);
  strpreclip(buf);
  std::string text = buf;
  const size_t w = field_width;
  if (text.size() > w) {
    text.assign(w, '*');
    number_too_short = 1;
  }
  const bool all_blank = value == 0.0 && zero == 0;
  if (trim == 1) {
    size_t comma = text.find(',');
    if (comma != std::string::npos && text.find_first_not_of('0', comma + 1) == std::string::npos)
      text.replace(comma, std::string::npos, text.size() - comma, ' ');
  }
  // The field is `pad` leading blanks (zeros with fill) and the text; only
  // what fits on the line is built, however wide the field.
  const size_t pad = w - text.size();
  const char pad_char = fill == 1 ? '0' : ' ';
  size_t visible = Writable() ? static_cast<size_t>(width - 2 - col) : 0;
  if (visible > w) visible = w;
  if (visible == 0) return status;
  std::string field(visible, ' ');
  if (!all_blank) {
    for (size_t i = 0; i < visible; ++i) field[i] = i < pad ? pad_char : text[i - pad];
  }
  return Put(field.data(), static_cast<int32_t>(visible));
}

short CPrinter::Data(int32_t julian) {
  if (Failed()) return status;
  char buf[32];
  if (julian != 0 && Year(julian) != 0)
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", ::Day(julian), Month(julian), Year(julian));
  else
    std::snprintf(buf, sizeof buf, "%-10s", "");
  return Put(buf, 0);
}

short CPrinter::Day() {
  if (Failed()) return status;
  const int32_t today = Now(0);
  char buf[40];
  if (today != 0 && Year(today) != 0)
    std::snprintf(buf, sizeof buf, "Data : %02d/%02d/%04d", ::Day(today), Month(today),
                  Year(today));
  else
    std::snprintf(buf, sizeof buf, "Data : %-10s", "");
  return Put(buf, 0);
}

short CPrinter::PagNum() {
  if (Failed()) return status;
  char buf[32];
  std::snprintf(buf, sizeof buf, "Pag. %5ld", static_cast<long>(page));
  return Put(buf, 0);
}

short CPrinter::AnnoPagNum(int32_t year) {
  if (Failed()) return status;
  char buf[64];
  std::snprintf(buf, sizeof buf, "Pag. %04ld-%ld", static_cast<long>(year),
                static_cast<long>(page));
  strright(buf, 15);
  return Put(buf, 0);
}

bool CPrinter::SendToPrinter(const void* data, size_t size) {
  vkt::print_io::RawQueue* q = Queue(printer);
  if (q != nullptr && q->Write(data, size)) return true;
  if (q != nullptr) q->EndPage();
  status = kWritePrinter;
  return false;
}

short CPrinter::Flush() {
  if (Failed()) return status;
  // A printer without a page has nothing to send.
  if (page_buffer == nullptr) return status;
  const size_t size = static_cast<size_t>(rows) * static_cast<size_t>(width);
  if (output != kToPrinter) {
    if (!vkt::print_io::WriteAll(file, page_buffer, size)) status = kWriteFile;
    return status;
  }
  vkt::print_io::RawQueue* q = Queue(printer);
  if (q == nullptr || !q->StartPage()) {
    status = kPage;
    return status;
  }
  const int type = GetPrinterType();
  if (compressed == 1 && !SendToPrinter(CondensedStart(type), std::strlen(CondensedStart(type))))
    return status;
  if (!SendToPrinter(page_buffer, size)) return status;
  if (notch == 1 && !SendToPrinter(kNotch, sizeof kNotch)) return status;
  if (compressed == 1 && !SendToPrinter(CondensedEnd(type), std::strlen(CondensedEnd(type))))
    return status;
  if (!q->EndPage()) status = kPage;
  return status;
}

short CPrinter::Output() {
  if (Failed()) return status;
  // Printer output went to the queue; a file the host named is the host's.
  if (output == kToPrinter || temp_name == nullptr) return status;
  if (file != nullptr) {
    bool closed = vkt::print_io::CloseOutputFile(file);
    file = nullptr;
    if (!closed) {
      status = kWriteFile;
      return status;
    }
  }
  const std::string name = temp_name;
  std::string program, params;
  // The name travels as one argument: blanks are quoted, and a quote could
  // not be, so such a name is not handed over.
  if (name.find('"') != std::string::npos ||
      !vkt::print_io::FindTextViewer(&program, &params)) {
    status = kViewer;
    return status;
  }
  if (!params.empty()) params += ' ';
  params += "-t ";
  const int type = GetPrinterType();
  if (type >= 0 && type <= 2) params += "-m=" + std::to_string(type) + " ";
  params += "-r=" + std::to_string(static_cast<long>(rows)) + " ";
  if (compressed == 1) params += "-c ";
  params += name.find(' ') != std::string::npos ? "\"" + name + "\"" : name;
  if (!vkt::services().ShellExecute(program, params, vkt::print_io::DirectoryOf(name),
                                    kShowMaximized))
    status = kViewer;
  return status;
}

short CPrinter::Close() {
  if (file != nullptr) {
    if (!vkt::print_io::CloseOutputFile(file) && status == 0) status = kWriteFile;
    file = nullptr;
  }
  std::free(page_buffer);
  page_buffer = nullptr;
  if (vkt::print_io::RawQueue* q = Queue(printer); q != nullptr) {
    if (job != 0 && q->in_document() && !q->EndDocument() && status == 0)
      status = kWritePrinter;
    delete q;
    printer = nullptr;
    job = 0;
  }
  if (status != 0 && status != kCancelled)
    vkt::ReportWithBeep(StatusMessage(status), kCaption, MB_OK | MB_ICONSTOP);
  if (number_too_short != 0)
    vkt::Report("Campo Numerico troppo corto.\n\nSar\xE0 riempito con *!", kCaption,
                MB_OK | MB_ICONEXCLAMATION);
  return status;
}

short CPrinter::StartPage() {
  if (Failed()) return status;
  vkt::print_io::RawQueue* q = Queue(printer);
  if (q == nullptr || !q->StartPage()) status = kPage;
  return status;
}

short CPrinter::EndPage() {
  if (Failed()) return status;
  vkt::print_io::RawQueue* q = Queue(printer);
  if (q == nullptr || !q->EndPage()) status = kPage;
  return status;
}

short CPrinter::Stampa(const char* text, int withNul) {
  if (Failed()) return status;
  if (text == nullptr) return status;
  const size_t n = std::strlen(text) + (withNul == 1 ? 1 : 0);
  SendToPrinter(text, n);
  return status;
}
