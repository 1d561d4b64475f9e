#include "print/cups_queue.h"

#include <cups/cups.h>

#include <cstring>
#include <utility>

namespace vkt::print_io {
namespace {

// libcups keeps its server per thread; this is what SetServer asked for, so
// that a thread other than the first sees the same choice.
std::string g_server;

http_t* Connect() {
  cupsSetServer(g_server.empty() ? nullptr : g_server.c_str());
  return httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(),
                      1, 30000, nullptr);
}

struct HttpCloser {
  void operator()(http_t* h) const { httpClose(h); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

std::string Option(const cups_dest_t& d, const char* name) {
  const char* v = cupsGetOption(name, d.num_options, d.options);
  return v != nullptr ? v : "";
}

bool IppOk(ipp_status_t s) { return s <= IPP_STATUS_OK_EVENTS_COMPLETE; }

}  // namespace

void SetServer(const std::string& server) {
  g_server = server;
  cupsSetServer(server.empty() ? nullptr : server.c_str());
}

std::vector<PrinterInfo> ListPrinters() {
  std::vector<PrinterInfo> out;
  Http http(Connect());
  if (!http) return out;
  cups_dest_t* dests = nullptr;
  int n = cupsGetDests2(http.get(), &dests);
  for (int i = 0; i < n; ++i) {
    const cups_dest_t& d = dests[i];
    if (d.instance != nullptr) continue;
    PrinterInfo p;
    p.name = d.name;
    p.location = Option(d, "printer-location");
    if (Option(d, "printer-is-shared") == "true") p.share_name = d.name;
    p.port_name = Option(d, "device-uri");
    p.driver = Option(d, "printer-make-and-model");
    p.is_default = d.is_default != 0;
    out.push_back(std::move(p));
  }
  cupsFreeDests(n, dests);
  return out;
}

bool DefaultPrinter(std::string* name) {
  std::vector<PrinterInfo> all = ListPrinters();
  if (all.empty()) return false;
  *name = all.front().name;
  for (const PrinterInfo& p : all) {
    if (p.is_default) {
      *name = p.name;
      break;
    }
  }
  return true;
}

bool GetPrinterSettings(const std::string& name, PrinterSettings* out) {
  Http http(Connect());
  if (!http || name.empty()) return false;
  char uri[HTTP_MAX_URI];
  if (httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost",
                       ippPort(), "/printers/%s", name.c_str()) != HTTP_URI_STATUS_OK)
    return false;
  ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  static const char* const kWanted[] = {"orientation-requested-default", "copies-default",
                                        "media-default", "sides-default",
                                        "print-color-mode-default", "printer-name"};
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(sizeof kWanted / sizeof kWanted[0]), nullptr, kWanted);
  ipp_t* response = cupsDoRequest(http.get(), request, "/");
  if (response == nullptr) return false;
  bool ok = IppOk(ippGetStatusCode(response)) &&
            ippFindAttribute(response, "printer-name", IPP_TAG_NAME) != nullptr;
  if (ok) {
    PrinterSettings s;
    if (ipp_attribute_t* a = ippFindAttribute(response, "orientation-requested-default",
                                              IPP_TAG_ENUM)) {
      int v = ippGetInteger(a, 0);
      // 4 landscape, 5 reverse landscape; portrait and "none" read as portrait.
      s.orientation = (v == 4 || v == 5) ? 2 : 1;
    }
    if (ipp_attribute_t* a = ippFindAttribute(response, "copies-default", IPP_TAG_INTEGER))
      s.copies = ippGetInteger(a, 0) > 0 ? ippGetInteger(a, 0) : 1;
    if (ipp_attribute_t* a = ippFindAttribute(response, "media-default", IPP_TAG_ZERO)) {
      const char* m = ippGetString(a, 0, nullptr);
      if (m != nullptr) s.media = m;
    }
    if (ipp_attribute_t* a = ippFindAttribute(response, "sides-default", IPP_TAG_KEYWORD)) {
      const char* v = ippGetString(a, 0, nullptr);
      s.duplex = v != nullptr && std::strcmp(v, "one-sided") != 0;
    }
    if (ipp_attribute_t* a =
            ippFindAttribute(response, "print-color-mode-default", IPP_TAG_KEYWORD)) {
      const char* v = ippGetString(a, 0, nullptr);
      s.color = v != nullptr && std::strcmp(v, "color") == 0;
    }
    *out = s;
  }
  ippDelete(response);
  return ok;
}

// --- RawQueue -----------------------------------------------------------------

struct RawQueue::Connection {
  Http http;
};

RawQueue::RawQueue(std::string name, std::unique_ptr<Connection> connection)
    : name_(std::move(name)), connection_(std::move(connection)) {}

std::unique_ptr<RawQueue> RawQueue::Open(const std::string& name, std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error != nullptr) *error = why;
    return std::unique_ptr<RawQueue>();
  };
  if (name.empty()) return fail("nessuna stampante indicata");
  auto c = std::make_unique<Connection>();
  c->http.reset(Connect());
  if (!c->http) return fail(std::string("scheduler non raggiungibile: ") + cupsLastErrorString());
  cups_dest_t* dest = cupsGetNamedDest(c->http.get(), name.c_str(), nullptr);
  if (dest == nullptr) return fail("stampante sconosciuta: " + name);
  cupsFreeDests(1, dest);
  return std::unique_ptr<RawQueue>(new RawQueue(name, std::move(c)));
}

RawQueue::~RawQueue() {
  if (!in_document_) return;
  // Dropping the connection mid-document aborts the upload; cancelling on a
  // fresh one makes sure the scheduler does not keep a held job.
  connection_->http.reset();
  Http http(Connect());
  if (http) cupsCancelJob2(http.get(), name_.c_str(), job_id_, 0);
}

bool RawQueue::Fail(const std::string& what) {
  error_ = what + ": " + cupsLastErrorString();
  return false;
}

bool RawQueue::StartDocument(const std::string& title) {
  if (in_document_ || broken_) return Fail("documento gi\xE0 aperto");
  http_t* h = connection_->http.get();
  int job = cupsCreateJob(h, name_.c_str(), title.c_str(), 0, nullptr);
  if (job <= 0) return Fail("lavoro non creato");
  if (cupsStartDocument(h, name_.c_str(), job, title.c_str(), CUPS_FORMAT_RAW, 1) !=
      HTTP_STATUS_CONTINUE) {
    Fail("documento non aperto");
    cupsCancelJob2(h, name_.c_str(), job, 0);
    return false;
  }
  job_id_ = job;
  bytes_ = 0;
  in_document_ = true;
  return true;
}

bool RawQueue::StartPage() {
  if (!in_document_ || broken_) return Fail("nessun documento aperto");
  return true;
}

bool RawQueue::EndPage() {
  if (!in_document_ || broken_) return Fail("nessun documento aperto");
  return true;
}

bool RawQueue::Write(const void* data, size_t size) {
  if (!in_document_ || broken_) return Fail("nessun documento aperto");
  if (size == 0) return true;
  if (cupsWriteRequestData(connection_->http.get(), static_cast<const char*>(data), size) !=
      HTTP_STATUS_CONTINUE) {
    broken_ = true;
    return Fail("scrittura non riuscita");
  }
  bytes_ += size;
  return true;
}

bool RawQueue::EndDocument() {
  if (!in_document_) return Fail("nessun documento aperto");
  if (broken_) {
    // What reached the scheduler is incomplete: cancel rather than print it.
    connection_->http.reset();
    Http http(Connect());
    if (http) cupsCancelJob2(http.get(), name_.c_str(), job_id_, 0);
    connection_->http.reset(Connect());
    in_document_ = false;
    broken_ = !connection_->http;
    error_ = "documento incompleto annullato";
    return false;
  }
  in_document_ = false;
  if (bytes_ == 0) {
    // The scheduler refuses an empty document; an empty job prints nothing
    // anyway, so it is withdrawn rather than reported.
    connection_->http.reset();
    Http http(Connect());
    if (http) cupsCancelJob2(http.get(), name_.c_str(), job_id_, 0);
    connection_->http.reset(Connect());
    broken_ = !connection_->http;
    return true;
  }
  ipp_status_t s = cupsFinishDocument(connection_->http.get(), name_.c_str());
  if (!IppOk(s)) return Fail("documento rifiutato");
  return true;
}

}  // namespace vkt::print_io
