// Raw print queues through the CUPS scheduler.
//
// The library's text printer sends bytes exactly as composed (escape
// sequences for condensed print, paper cut, form feeds), so every job goes
// out as "application/vnd.cups-raw": the scheduler hands it to the device
// without a filter.
//
//   std::string error;
//   auto queue = vkt::print_io::RawQueue::Open("Laser", &error);
//   if (queue && queue->StartDocument("Fatture") && queue->StartPage() &&
//       queue->Write(page.data(), page.size()) && queue->EndPage() &&
//       queue->EndDocument()) { ... }
//
// Every call opens its own connection to the scheduler chosen by SetServer
// (by default the user's: $CUPS_SERVER, client.conf, the local socket).
// Calls are made on one thread at a time.
#ifndef VKT_PRINT_CUPS_QUEUE_H_
#define VKT_PRINT_CUPS_QUEUE_H_

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "vkt_export.h"

namespace vkt::print_io {

// One queue as the scheduler lists it.
struct PrinterInfo {
  std::string name;
  std::string location;     // "printer-location"
  std::string share_name;   // the name, when the queue is shared; else empty
  std::string port_name;    // the device URI
  std::string driver;       // "printer-make-and-model"
  bool is_default = false;
};

// The printer's default job settings, as a driver's property sheet would
// report them.
struct PrinterSettings {
  int orientation = 1;  // 1 portrait, 2 landscape
  int copies = 1;
  std::string media;    // PWG or legacy media name ("iso_a4_210x297mm")
  bool color = false;
  bool duplex = false;
};

// The scheduler to talk to: a host name, "host:port" or a socket path; empty
// restores the user's default. Process-wide.
VKT_API void SetServer(const std::string& server);

// Local and remote queues the scheduler knows, in its order (instances of
// lpoptions are not queues and are left out). Empty when it cannot be reached.
VKT_API std::vector<PrinterInfo> ListPrinters();

// The scheduler's default queue, or the first one when none is marked
// default. False when there is no queue at all.
VKT_API bool DefaultPrinter(std::string* name);

// Default settings of one queue; false when there is no such queue.
VKT_API bool GetPrinterSettings(const std::string& name, PrinterSettings* out);

// An open queue with at most one raw document in progress.
class VKT_API RawQueue {
 public:
  // Null, with the reason in *error, when the scheduler cannot be reached or
  // has no queue of that name.
  static std::unique_ptr<RawQueue> Open(const std::string& name, std::string* error);

  // An unfinished document is cancelled: nothing half-composed is printed.
  ~RawQueue();
  RawQueue(const RawQueue&) = delete;
  RawQueue& operator=(const RawQueue&) = delete;

  // Creates the job and opens its one raw document.
  bool StartDocument(const std::string& title);
  // Page brackets. Raw data carries its own page breaks, so these only check
  // that a document is open.
  bool StartPage();
  bool EndPage();
  // Sends bytes of the open document. A failed write leaves the document
  // unusable: only EndDocument or the destructor remain.
  bool Write(const void* data, size_t size);
  // Hands the document to the scheduler; false when it refused it. A
  // document without bytes is withdrawn: there is nothing to print.
  bool EndDocument();

  const std::string& name() const { return name_; }
  int job_id() const { return job_id_; }
  bool in_document() const { return in_document_; }
  const std::string& error() const { return error_; }

 private:
  struct Connection;
  RawQueue(std::string name, std::unique_ptr<Connection> connection);
  bool Fail(const std::string& what);

  std::string name_;
  std::unique_ptr<Connection> connection_;
  int job_id_ = 0;
  size_t bytes_ = 0;
  bool in_document_ = false;
  bool broken_ = false;
  std::string error_;
};

}  // namespace vkt::print_io

#endif  // VKT_PRINT_CUPS_QUEUE_H_
