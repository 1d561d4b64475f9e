#include "serial/serial_io.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <deque>
#include <list>
#include <map>
#include <mutex>
#include <set>

#include "serial/detail/dcb_termios.h"
#include "win/services.h"

namespace vkt::serial_io {
namespace {

constexpr int64_t kNever = INT64_MAX;
// Waits poll the terminal in steps that grow to this many milliseconds: short
// enough that a byte waits at most this long for its reader.
constexpr uint32_t kMaxStepMs = 10;
// Time-outs beyond this are no time-out at all (about 31 years).
constexpr uint64_t kLongestTimeoutMs = UINT64_C(1) << 40;

thread_local DWORD t_last_error = 0;

BOOL Fail(DWORD code) {
  t_last_error = code;
  return FALSE;
}
BOOL FailErrno(int err) { return Fail(WinErrorFromErrno(err)); }

enum class OpKind { kRead, kWrite, kWait };

struct Op {
  OpKind kind = OpKind::kRead;
  OVERLAPPED* ov = nullptr;  // null for a synchronous transfer
  char* in = nullptr;
  const char* out = nullptr;
  DWORD count = 0;
  DWORD done = 0;
  DWORD events = 0;
  DWORD* events_out = nullptr;
  int64_t start_us = 0;
  int64_t last_byte_us = 0;
  COMMTIMEOUTS timeouts{};
  LPOVERLAPPED_COMPLETION_ROUTINE routine = nullptr;  // ReadEx/WriteEx
};

struct LineCounts {
  bool ok = false;
  serial_icounter_struct c{};
};

struct Port {
  int fd = -1;
  bool overlapped = false;
  COMMTIMEOUTS timeouts{};
  DWORD mask = 0;
  // What the terminal cannot hold: DTR/RTS as set, limits, special chars.
  DCB shadow{};
  DWORD in_queue = 4096;
  DWORD out_queue = 4096;
  std::list<Op> pending;
  // Baselines of the events under the mask, taken when it is set.
  bool wrote_since_empty = false;
  bool modem_ok = false;
  int modem_lines = 0;
  LineCounts event_counts;
  LineCounts error_counts;  // for ClearError
};

struct Event {
  bool manual = true;
  bool signalled = false;
};

struct Completion {
  LPOVERLAPPED_COMPLETION_ROUTINE routine;
  DWORD error;
  DWORD bytes;
  OVERLAPPED* ov;
};

std::mutex g_mu;
std::set<Port*> g_ports;
std::set<Event*> g_events;
std::map<int, std::string> g_port_devices;
std::set<std::string> g_hidden_entries;
std::deque<Completion> g_completions;
char g_kernel_module;  // its address is the module handle

Port* AsPort(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_mu);
  Port* p = static_cast<Port*>(h);
  return g_ports.count(p) != 0 ? p : nullptr;
}

Event* AsEvent(HANDLE h) {
  std::lock_guard<std::mutex> lock(g_mu);
  Event* e = static_cast<Event*>(h);
  return g_events.count(e) != 0 ? e : nullptr;
}

std::vector<Port*> AllPorts() {
  std::lock_guard<std::mutex> lock(g_mu);
  return std::vector<Port*>(g_ports.begin(), g_ports.end());
}

int64_t Now() { return services().MonotonicMicros(); }

// One step of a wait: sleeps through the services seam until the next check
// or the deadline, whichever is first.
void SleepStep(int64_t deadline_us, uint32_t* step_ms) {
  uint32_t ms = *step_ms;
  if (deadline_us != kNever) {
    int64_t left_us = deadline_us - Now();
    int64_t left_ms = (left_us + 999) / 1000;
    if (left_ms < static_cast<int64_t>(ms)) ms = static_cast<uint32_t>(std::max<int64_t>(left_ms, 1));
  }
  services().Sleep(ms);
  *step_ms = std::min(*step_ms * 2, kMaxStepMs);
}

int64_t AddMs(int64_t base_us, uint64_t ms) {
  if (ms >= kLongestTimeoutMs) return kNever;
  return base_us + static_cast<int64_t>(ms) * 1000;
}

// True when the far end is gone: the terminal hung up or failed.
bool Gone(int fd) {
  pollfd p{fd, POLLIN, 0};
  if (poll(&p, 1, 0) < 0) return false;
  return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

LineCounts ReadCounts(int fd) {
  LineCounts lc;
  lc.ok = ioctl(fd, TIOCGICOUNT, &lc.c) == 0;
  return lc;
}

bool ModemLines(int fd, int* lines) { return ioctl(fd, TIOCMGET, lines) == 0; }

}  // namespace

// --- settings -----------------------------------------------------------------

namespace detail {

struct BaudEntry {
  DWORD rate;
  speed_t speed;
};
constexpr BaudEntry kBauds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool SpeedOf(DWORD rate, speed_t* speed) {
  for (const BaudEntry& b : kBauds) {
    if (b.rate == rate) {
      *speed = b.speed;
      return true;
    }
  }
  return false;
}

DWORD RateOf(speed_t speed) {
  for (const BaudEntry& b : kBauds)
    if (b.speed == speed) return b.rate;
  return 0;
}

DCB DefaultShadow() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.fBinary = 1;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
  d.XonLim = 2048;
  d.XoffLim = 512;
  d.XonChar = 17;
  d.XoffChar = 19;
  return d;
}

// What a terminal can carry; see the header for the list.
bool Representable(const DCB& d) {
  speed_t speed;
  if (!SpeedOf(d.BaudRate, &speed)) return false;
  if (d.ByteSize < 5 || d.ByteSize > 8) return false;
  if (d.Parity > SPACEPARITY) return false;
  if (d.StopBits != ONESTOPBIT && d.StopBits != TWOSTOPBITS) return false;
  if (d.fOutxDsrFlow || d.fDsrSensitivity) return false;
  if (d.fDtrControl == DTR_CONTROL_HANDSHAKE || d.fDtrControl > DTR_CONTROL_HANDSHAKE) return false;
  if (d.fRtsControl == RTS_CONTROL_TOGGLE) return false;
  if ((d.fRtsControl == RTS_CONTROL_HANDSHAKE) != (d.fOutxCtsFlow != 0)) return false;
  if (d.fErrorChar || d.fNull || d.fAbortOnError) return false;
  if ((d.fOutX || d.fInX) && d.XonChar == d.XoffChar) return false;
  return true;
}

DCB DcbFromTermios(const termios& t, const DCB& shadow) {
  DCB d = shadow;
  d.DCBlength = sizeof(DCB);
  d.fBinary = 1;
  d.BaudRate = RateOf(cfgetospeed(&t));
  switch (t.c_cflag & CSIZE) {
    case CS5: d.ByteSize = 5; break;
    case CS6: d.ByteSize = 6; break;
    case CS7: d.ByteSize = 7; break;
    default: d.ByteSize = 8; break;
  }
  if ((t.c_cflag & PARENB) == 0) {
    d.Parity = NOPARITY;
  } else if (t.c_cflag & CMSPAR) {
    d.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
  } else {
    d.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
  }
  d.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
  d.fParity = (t.c_iflag & INPCK) ? 1 : 0;
  bool rtscts = (t.c_cflag & CRTSCTS) != 0;
  d.fOutxCtsFlow = rtscts ? 1 : 0;
  if (rtscts) {
    d.fRtsControl = RTS_CONTROL_HANDSHAKE;
  } else if (d.fRtsControl == RTS_CONTROL_HANDSHAKE) {
    d.fRtsControl = RTS_CONTROL_ENABLE;
  }
  d.fOutxDsrFlow = 0;
  d.fDsrSensitivity = 0;
  d.fOutX = (t.c_iflag & IXON) ? 1 : 0;
  d.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
  d.XonChar = static_cast<char>(t.c_cc[VSTART]);
  d.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
  return d;
}

void TermiosFromDcb(const DCB& d, termios* t) {
  speed_t speed = B9600;
  SpeedOf(d.BaudRate, &speed);
  cfsetispeed(t, speed);
  cfsetospeed(t, speed);
  t->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  t->c_cflag |= kSizes[d.ByteSize - 5];
  switch (d.Parity) {
    case ODDPARITY: t->c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t->c_cflag |= PARENB; break;
    case MARKPARITY: t->c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t->c_cflag |= PARENB | CMSPAR; break;
    default: break;
  }
  if (d.StopBits == TWOSTOPBITS) t->c_cflag |= CSTOPB;
  if (d.fOutxCtsFlow) t->c_cflag |= CRTSCTS;
  t->c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
  if (d.fParity) t->c_iflag |= INPCK;
  if (d.fOutX) t->c_iflag |= IXON;
  if (d.fInX) t->c_iflag |= IXOFF;
  t->c_cc[VSTART] = static_cast<cc_t>(d.XonChar);
  t->c_cc[VSTOP] = static_cast<cc_t>(d.XoffChar);
}

void MakeRaw(termios* t) {
  t->c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                  IXANY | IMAXBEL | INPCK);
  t->c_oflag &= ~OPOST;
  t->c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // Windows ports ignore the carrier and start without flow control.
  t->c_cflag |= CLOCAL | CREAD;
  t->c_cflag &= ~CRTSCTS;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
}

bool Carried(const DCB& wanted, const termios& got) {
  DCB d = DcbFromTermios(got, wanted);
  return d.BaudRate == wanted.BaudRate && d.ByteSize == wanted.ByteSize &&
         d.Parity == wanted.Parity && d.StopBits == wanted.StopBits &&
         d.fOutxCtsFlow == wanted.fOutxCtsFlow && d.fParity == wanted.fParity &&
         d.fOutX == wanted.fOutX && d.fInX == wanted.fInX &&
         (!(d.fOutX || d.fInX) || (d.XonChar == wanted.XonChar && d.XoffChar == wanted.XoffChar));
}

}  // namespace detail

namespace {

using detail::Carried;
using detail::DcbFromTermios;
using detail::DefaultShadow;
using detail::MakeRaw;
using detail::Representable;
using detail::SpeedOf;
using detail::TermiosFromDcb;

bool SetLine(int fd, int line, bool on) {
  return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

// --- transfers -----------------------------------------------------------------

// The deadline of a transfer under the port's time-outs, kNever for none.
int64_t Deadline(const Op& op) {
  const COMMTIMEOUTS& t = op.timeouts;
  if (op.kind == OpKind::kWait) return kNever;
  if (op.kind == OpKind::kWrite) {
    uint64_t total = uint64_t{t.WriteTotalTimeoutMultiplier} * op.count + t.WriteTotalTimeoutConstant;
    return total == 0 ? kNever : AddMs(op.start_us, total);
  }
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
      t.ReadTotalTimeoutConstant == 0) {
    return op.start_us;
  }
  if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
      t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != MAXDWORD) {
    // The first bytes end the read at once.
    return op.done > 0 ? op.start_us : AddMs(op.start_us, t.ReadTotalTimeoutConstant);
  }
  uint64_t total = uint64_t{t.ReadTotalTimeoutMultiplier} * op.count + t.ReadTotalTimeoutConstant;
  int64_t deadline = total == 0 ? kNever : AddMs(op.start_us, total);
  if (t.ReadIntervalTimeout != 0 && op.done > 0) {
    deadline = std::min(deadline, AddMs(op.last_byte_us, t.ReadIntervalTimeout));
  }
  return deadline;
}

DWORD DetectEvents(Port& p) {
  DWORD ev = 0;
  if (p.mask & EV_RXCHAR) {
    int n = 0;
    if (ioctl(p.fd, FIONREAD, &n) == 0 && n > 0) ev |= EV_RXCHAR;
  }
  if ((p.mask & EV_TXEMPTY) && p.wrote_since_empty) {
    int n = 0;
    if (ioctl(p.fd, TIOCOUTQ, &n) == 0 && n == 0) {
      ev |= EV_TXEMPTY;
      p.wrote_since_empty = false;
    }
  }
  if (p.modem_ok && (p.mask & (EV_CTS | EV_DSR | EV_RLSD | EV_RING))) {
    int lines = 0;
    if (ModemLines(p.fd, &lines)) {
      int changed = lines ^ p.modem_lines;
      if ((p.mask & EV_CTS) && (changed & TIOCM_CTS)) ev |= EV_CTS;
      if ((p.mask & EV_DSR) && (changed & TIOCM_DSR)) ev |= EV_DSR;
      if ((p.mask & EV_RLSD) && (changed & TIOCM_CAR)) ev |= EV_RLSD;
      if ((p.mask & EV_RING) && (changed & TIOCM_RNG)) ev |= EV_RING;
      p.modem_lines = lines;
    }
  }
  if (p.event_counts.ok && (p.mask & (EV_BREAK | EV_ERR))) {
    LineCounts now = ReadCounts(p.fd);
    if (now.ok) {
      const serial_icounter_struct& a = p.event_counts.c;
      if ((p.mask & EV_BREAK) && now.c.brk != a.brk) ev |= EV_BREAK;
      if ((p.mask & EV_ERR) && (now.c.frame != a.frame || now.c.overrun != a.overrun ||
                                now.c.parity != a.parity || now.c.buf_overrun != a.buf_overrun)) {
        ev |= EV_ERR;
      }
      p.event_counts = now;
    }
  }
  return ev;
}

// Moves the transfer on without waiting. True when it has ended, with its
// Win32 error (0 for success, a time-out included) in *error.
bool Step(Port& p, Op& op, DWORD* error) {
  *error = kErrorSuccess;
  int64_t now = Now();
  if (op.kind == OpKind::kWait) {
    op.events = DetectEvents(p);
    if (op.events != 0) return true;
    int n = 0;
    if (Gone(p.fd) && !(ioctl(p.fd, FIONREAD, &n) == 0 && n > 0)) {
      *error = kErrorDeviceNotConnected;
      return true;
    }
    return false;
  }
  if (op.kind == OpKind::kRead) {
    while (op.done < op.count) {
      ssize_t n = ::read(p.fd, op.in + op.done, op.count - op.done);
      if (n > 0) {
        op.done += static_cast<DWORD>(n);
        op.last_byte_us = now;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        // Bytes already taken are handed over; the failure shows next time.
        if (op.done == 0) *error = WinErrorFromErrno(errno);
        return true;
      }
      if (op.done == 0 && Gone(p.fd)) {
        *error = kErrorDeviceNotConnected;
        return true;
      }
      break;
    }
  } else {
    while (op.done < op.count) {
      ssize_t n = ::write(p.fd, op.out + op.done, op.count - op.done);
      if (n > 0) {
        op.done += static_cast<DWORD>(n);
        p.wrote_since_empty = true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN) {
        if (op.done == 0) *error = WinErrorFromErrno(errno);
        return true;
      }
      break;
    }
  }
  if (op.done == op.count) return true;
  return now >= Deadline(op);
}

void SignalEvent(HANDLE h) {
  if (Event* e = AsEvent(h)) e->signalled = true;
}

// Records the end of an overlapped transfer: in the OVERLAPPED, through the
// event, or in the completion queue for ReadEx/WriteEx.
void Conclude(Op& op, DWORD error) {
  if (op.kind == OpKind::kWait && op.events_out != nullptr) {
    *op.events_out = error == kErrorSuccess ? op.events : 0;
  }
  if (op.ov == nullptr) return;
  op.ov->Internal = error;
  op.ov->InternalHigh = op.done;
  if (op.routine != nullptr) {
    std::lock_guard<std::mutex> lock(g_mu);
    g_completions.push_back({op.routine, error, op.done, op.ov});
  } else {
    SignalEvent(op.ov->hEvent);
  }
}

// Moves every pending transfer of the port on, oldest first: a read waits
// behind earlier reads, a write behind earlier writes.
void StepPort(Port& p) {
  bool read_ahead = false, write_ahead = false;
  for (auto it = p.pending.begin(); it != p.pending.end();) {
    bool& ahead = it->kind == OpKind::kRead ? read_ahead : write_ahead;
    if (it->kind != OpKind::kWait && ahead) {
      ++it;
      continue;
    }
    DWORD error;
    if (Step(p, *it, &error)) {
      Op op = *it;
      it = p.pending.erase(it);
      Conclude(op, error);
    } else {
      if (it->kind != OpKind::kWait) ahead = true;
      ++it;
    }
  }
}

void StepAllPorts() {
  for (Port* p : AllPorts()) StepPort(*p);
}

bool HasPending(const Port& p, OpKind kind) {
  for (const Op& op : p.pending)
    if (op.kind == kind) return true;
  return false;
}

int64_t NearestDeadline(const Port& p, const Op* extra) {
  int64_t d = extra != nullptr ? Deadline(*extra) : kNever;
  for (const Op& op : p.pending) d = std::min(d, Deadline(op));
  return d;
}

// Ends pending transfers chosen by `which` with `error`.
template <typename Pred>
void EndPending(Port& p, DWORD error, Pred which) {
  for (auto it = p.pending.begin(); it != p.pending.end();) {
    if (which(*it)) {
      Op op = *it;
      it = p.pending.erase(it);
      Conclude(op, error);
    } else {
      ++it;
    }
  }
}

// Runs a transfer to its end on the calling thread.
BOOL RunToEnd(Port& p, Op& op) {
  uint32_t step = 1;
  for (;;) {
    StepPort(p);
    DWORD error = kErrorSuccess;
    if (!HasPending(p, op.kind) || op.kind == OpKind::kWait) {
      DWORD before = op.done;
      if (Step(p, op, &error)) {
        if (op.kind == OpKind::kWait && op.events_out != nullptr && error == kErrorSuccess) {
          *op.events_out = op.events;
        }
        if (error != kErrorSuccess) return Fail(error);
        return TRUE;
      }
      if (op.done != before) step = 1;
    }
    SleepStep(NearestDeadline(p, &op), &step);
  }
}

BOOL Start(HANDLE h, Op op, DWORD* done) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (op.count > 0 && op.in == nullptr && op.out == nullptr) return Fail(kErrorInvalidParameter);
  op.start_us = Now();
  op.last_byte_us = op.start_us;
  op.timeouts = p->timeouts;
  if (op.ov == nullptr || (!p->overlapped && op.routine == nullptr && op.kind != OpKind::kWait)) {
    BOOL ok = RunToEnd(*p, op);
    if (done != nullptr) *done = op.done;
    if (op.ov != nullptr) {
      DWORD error = ok ? kErrorSuccess : t_last_error;
      Conclude(op, error);
      if (!ok) t_last_error = error;
    }
    return ok;
  }
  if (op.routine == nullptr) {
    if (Event* e = AsEvent(op.ov->hEvent)) e->signalled = false;
  }
  op.ov->Internal = STATUS_PENDING;
  op.ov->InternalHigh = 0;
  if (done != nullptr) *done = 0;
  StepPort(*p);
  DWORD error = kErrorSuccess;
  bool queued_behind = op.kind != OpKind::kWait && HasPending(*p, op.kind);
  if (!queued_behind && Step(*p, op, &error)) {
    if (op.routine != nullptr) {
      if (error != kErrorSuccess) {
        op.ov->Internal = error;
        return Fail(error);
      }
      Conclude(op, error);
      return TRUE;
    }
    Conclude(op, error);
    if (done != nullptr) *done = op.done;
    if (error != kErrorSuccess) return Fail(error);
    return TRUE;
  }
  p->pending.push_back(op);
  if (op.routine != nullptr) return TRUE;  // the routine reports the end
  return Fail(kErrorIoPending);
}

bool DeliverCompletions() {
  std::deque<Completion> ready;
  {
    std::lock_guard<std::mutex> lock(g_mu);
    ready.swap(g_completions);
  }
  for (const Completion& c : ready) c.routine(c.error, c.bytes, c.ov);
  return !ready.empty();
}

bool CiEqual(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// Sets the block on the terminal and reads it back: what the terminal
// dropped is refused, and the settings `before` are put back.
BOOL ApplyChecked(int fd, const DCB& dcb, const termios& before) {
  termios t = before;
  TermiosFromDcb(dcb, &t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return FailErrno(errno);
  termios got;
  if (tcgetattr(fd, &got) != 0) return FailErrno(errno);
  if (!Carried(dcb, got)) {
    (void)tcsetattr(fd, TCSANOW, &before);
    return Fail(kErrorInvalidParameter);
  }
  return TRUE;
}

BOOL DefaultConfigFd(const std::string& name, int* fd) {
  std::string dev = DeviceForName(name);
  if (dev.empty()) return Fail(kErrorFileNotFound);
  *fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (*fd < 0) return FailErrno(errno);
  if (!isatty(*fd)) {
    ::close(*fd);
    return Fail(kErrorInvalidFunction);
  }
  return TRUE;
}

void FillConfig(const DCB& dcb, COMMCONFIG* config) {
  std::memset(config, 0, sizeof *config);
  config->dwSize = sizeof(COMMCONFIG);
  config->wVersion = 1;
  config->dcb = dcb;
  config->dwProviderSubType = PST_RS232;
}

}  // namespace

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD code) { t_last_error = code; }

DWORD WinErrorFromErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT:
    case ENOTDIR: return kErrorFileNotFound;
    case EACCES:
    case EPERM:
    case EBUSY: return kErrorAccessDenied;
    case EIO:
    case ENXIO:
    case ENODEV: return kErrorDeviceNotConnected;
    case EBADF: return kErrorInvalidHandle;
    case EINVAL: return kErrorInvalidParameter;
    case ENOTTY: return kErrorInvalidFunction;
    case ENOMEM:
    case ENOBUFS: return kErrorNotEnoughMemory;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case EAGAIN: return kErrorBusy;
    case ETIMEDOUT: return kErrorTimeout;
    case ENOSYS:
    case EOPNOTSUPP: return kErrorNotSupported;
    default: return kErrorGenFailure;
  }
}

bool SystemMessage(DWORD code, std::string* text) {
  static const std::map<DWORD, const char*> kTexts = {
      {kErrorSuccess, "Operazione completata."},
      {kErrorInvalidFunction, "Funzione non corretta."},
      {kErrorFileNotFound, "Impossibile trovare il file specificato."},
      {kErrorPathNotFound, "Impossibile trovare il percorso specificato."},
      {kErrorTooManyOpenFiles, "Impossibile aprire il file."},
      {kErrorAccessDenied, "Accesso negato."},
      {kErrorInvalidHandle, "Handle non valido."},
      {kErrorNotEnoughMemory, "Memoria insufficiente per elaborare il comando."},
      {kErrorGenFailure, "Una periferica collegata al sistema non funziona."},
      {kErrorNotSupported, "Richiesta non supportata."},
      {kErrorInvalidParameter, "Parametro non corretto."},
      {kErrorCallNotImplemented, "Funzione non supportata dal sistema."},
      {122, "L'area dati passata a una chiamata di sistema \xE8 troppo piccola."},
      {kErrorInvalidName,
       "La sintassi del nome del file, della directory o del volume non \xE8 corretta."},
      {kErrorBusy, "La risorsa richiesta \xE8 in uso."},
      {kErrorFilenameTooLong, "Nome di file o estensione troppo lungo."},
      {kErrorOperationAborted,
       "L'operazione di I/O \xE8 stata interrotta per la chiusura di un thread o per una "
       "richiesta dell'applicazione."},
      {kErrorIoIncomplete, "Evento di I/O sovrapposto non in stato segnalato."},
      {kErrorIoPending, "Operazione di I/O sovrapposta in corso."},
      {kErrorDeviceNotConnected, "Il dispositivo non \xE8 connesso."},
      {kErrorTimeout, "Operazione terminata per scadenza del periodo di timeout."},
  };
  auto it = kTexts.find(code);
  if (it == kTexts.end()) return false;
  *text = std::string(it->second) + "\r\n";
  return true;
}

bool IsSupportedBaudRate(DWORD rate) {
  speed_t speed;
  return SpeedOf(rate, &speed);
}

void SetPortDevice(int port, const std::string& device) {
  std::lock_guard<std::mutex> lock(g_mu);
  if (device.empty()) {
    g_port_devices.erase(port);
  } else {
    g_port_devices[port] = device;
  }
}

void ClearPortDevices() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_port_devices.clear();
}

std::string DeviceForName(const std::string& name) {
  std::string s = name;
  bool device_prefix = s.rfind("\\\\.\\", 0) == 0;
  if (device_prefix) s = s.substr(4);
  bool com = s.size() > 3 && CiEqual(s.substr(0, 3), "COM");
  if (!com) return device_prefix ? std::string() : s;
  std::string digits = s.substr(3);
  if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(),
                                        [](char c) { return c >= '0' && c <= '9'; })) {
    return device_prefix ? std::string() : s;
  }
  int port = std::stoi(digits);
  if (port < 1) return std::string();
  {
    std::lock_guard<std::mutex> lock(g_mu);
    auto it = g_port_devices.find(port);
    if (it != g_port_devices.end()) return it->second;
  }
  std::string entry = "COM" + std::to_string(port);
  std::string device = services().GetProfileString("Settings", entry, "");
  if (!device.empty()) return device;
  std::string pattern = services().GetProfileString("Settings", "SerialDevice", "/dev/ttyS%d");
  if (pattern.empty()) pattern = "/dev/ttyS%d";
  // Replaced by hand, never handed to printf: the pattern is the user's.
  std::string number = std::to_string(port - 1);
  size_t at = pattern.find("%d");
  if (at == std::string::npos) return pattern + number;
  return pattern.substr(0, at) + number + pattern.substr(at + 2);
}

HANDLE OpenDevice(const std::string& name, bool overlapped) {
  std::string dev = DeviceForName(name);
  if (dev.empty()) {
    Fail(kErrorFileNotFound);
    return INVALID_HANDLE_VALUE;
  }
  int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    FailErrno(errno);
    return INVALID_HANDLE_VALUE;
  }
  auto fail = [fd](DWORD code) {
    ::close(fd);
    Fail(code);
    return INVALID_HANDLE_VALUE;
  };
  termios t;
  if (tcgetattr(fd, &t) != 0) return fail(WinErrorFromErrno(errno));
  // No sharing: the lock keeps out every other open through this layer, root
  // included; TIOCEXCL keeps out other programs that open the terminal.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(errno == EWOULDBLOCK ? kErrorAccessDenied : WinErrorFromErrno(errno));
  }
  (void)ioctl(fd, TIOCEXCL);
  MakeRaw(&t);
  if (tcsetattr(fd, TCSANOW, &t) != 0) return fail(WinErrorFromErrno(errno));
  auto* p = new Port;
  p->fd = fd;
  p->overlapped = overlapped;
  p->shadow = DefaultShadow();
  int lines = 0;
  if (ModemLines(fd, &lines)) {
    p->shadow.fDtrControl = (lines & TIOCM_DTR) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    p->shadow.fRtsControl = (lines & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
  }
  p->error_counts = ReadCounts(fd);
  std::lock_guard<std::mutex> lock(g_mu);
  g_ports.insert(p);
  return p;
}

BOOL ClosePort(HANDLE h) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  EndPending(*p, kErrorOperationAborted, [](const Op&) { return true; });
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_ports.erase(p);
  }
  int rc = ::close(p->fd);  // drops the lock too
  delete p;
  if (rc != 0 && errno != EINTR) return FailErrno(errno);
  return TRUE;
}

bool IsPort(HANDLE h) { return AsPort(h) != nullptr; }

BOOL Read(HANDLE h, void* buffer, DWORD count, DWORD* done, OVERLAPPED* ov) {
  Op op;
  op.kind = OpKind::kRead;
  op.in = static_cast<char*>(buffer);
  op.count = count;
  op.ov = ov;
  return Start(h, op, done);
}

BOOL Write(HANDLE h, const void* buffer, DWORD count, DWORD* done, OVERLAPPED* ov) {
  Op op;
  op.kind = OpKind::kWrite;
  op.out = static_cast<const char*>(buffer);
  op.count = count;
  op.ov = ov;
  return Start(h, op, done);
}

BOOL ReadEx(HANDLE h, void* buffer, DWORD count, OVERLAPPED* ov,
            LPOVERLAPPED_COMPLETION_ROUTINE routine) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (!p->overlapped || ov == nullptr || routine == nullptr) return Fail(kErrorInvalidParameter);
  Op op;
  op.kind = OpKind::kRead;
  op.in = static_cast<char*>(buffer);
  op.count = count;
  op.ov = ov;
  op.routine = routine;
  return Start(h, op, nullptr);
}

BOOL WriteEx(HANDLE h, const void* buffer, DWORD count, OVERLAPPED* ov,
             LPOVERLAPPED_COMPLETION_ROUTINE routine) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (!p->overlapped || ov == nullptr || routine == nullptr) return Fail(kErrorInvalidParameter);
  Op op;
  op.kind = OpKind::kWrite;
  op.out = static_cast<const char*>(buffer);
  op.count = count;
  op.ov = ov;
  op.routine = routine;
  return Start(h, op, nullptr);
}

BOOL GetOverlappedResult(HANDLE h, OVERLAPPED* ov, DWORD* done, BOOL wait) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (ov == nullptr) return Fail(kErrorInvalidParameter);
  uint32_t step = 1;
  while (ov->Internal == STATUS_PENDING) {
    bool known = std::any_of(p->pending.begin(), p->pending.end(),
                             [ov](const Op& op) { return op.ov == ov; });
    if (!known) return Fail(kErrorInvalidParameter);
    StepPort(*p);
    if (ov->Internal != STATUS_PENDING) break;
    if (!wait) return Fail(kErrorIoIncomplete);
    SleepStep(NearestDeadline(*p, nullptr), &step);
  }
  if (done != nullptr) *done = static_cast<DWORD>(ov->InternalHigh);
  if (ov->Internal != kErrorSuccess) return Fail(static_cast<DWORD>(ov->Internal));
  return TRUE;
}

BOOL CancelIo(HANDLE h) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  EndPending(*p, kErrorOperationAborted, [](const Op&) { return true; });
  return TRUE;
}

BOOL TransmitChar(HANDLE h, char c) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  for (;;) {
    ssize_t n = ::write(p->fd, &c, 1);
    if (n == 1) {
      p->wrote_since_empty = true;
      return TRUE;
    }
    if (n < 0 && errno == EINTR) continue;
    return FailErrno(n < 0 ? errno : EAGAIN);
  }
}

BOOL Flush(HANDLE h) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  while (tcdrain(p->fd) != 0) {
    if (errno != EINTR) return FailErrno(errno);
  }
  return TRUE;
}

BOOL Purge(HANDLE h, DWORD flags) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (flags & ~(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
    return Fail(kErrorInvalidParameter);
  }
  if (flags & PURGE_TXABORT)
    EndPending(*p, kErrorOperationAborted, [](const Op& op) { return op.kind == OpKind::kWrite; });
  if (flags & PURGE_RXABORT)
    EndPending(*p, kErrorOperationAborted, [](const Op& op) { return op.kind == OpKind::kRead; });
  int queues = -1;
  if ((flags & PURGE_TXCLEAR) && (flags & PURGE_RXCLEAR)) {
    queues = TCIOFLUSH;
  } else if (flags & PURGE_TXCLEAR) {
    queues = TCOFLUSH;
  } else if (flags & PURGE_RXCLEAR) {
    queues = TCIFLUSH;
  }
  if (queues >= 0 && tcflush(p->fd, queues) != 0) return FailErrno(errno);
  return TRUE;
}

BOOL Setup(HANDLE h, DWORD in_queue, DWORD out_queue) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  p->in_queue = in_queue;
  p->out_queue = out_queue;
  return TRUE;
}

BOOL GetState(HANDLE h, DCB* dcb) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (dcb == nullptr) return Fail(kErrorInvalidParameter);
  termios t;
  if (tcgetattr(p->fd, &t) != 0) return FailErrno(errno);
  *dcb = DcbFromTermios(t, p->shadow);
  return TRUE;
}

BOOL SetState(HANDLE h, const DCB* dcb) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (dcb == nullptr || !Representable(*dcb)) return Fail(kErrorInvalidParameter);
  termios t;
  if (tcgetattr(p->fd, &t) != 0) return FailErrno(errno);
  if (!ApplyChecked(p->fd, *dcb, t)) return FALSE;
  // Lines are driven only when asked to change: a terminal without modem
  // lines (a pseudo-terminal) takes every other setting.
  if (dcb->fDtrControl != p->shadow.fDtrControl &&
      !SetLine(p->fd, TIOCM_DTR, dcb->fDtrControl == DTR_CONTROL_ENABLE)) {
    return FailErrno(errno);
  }
  if (dcb->fRtsControl != RTS_CONTROL_HANDSHAKE && dcb->fRtsControl != p->shadow.fRtsControl &&
      !SetLine(p->fd, TIOCM_RTS, dcb->fRtsControl == RTS_CONTROL_ENABLE)) {
    return FailErrno(errno);
  }
  p->shadow = *dcb;
  p->shadow.DCBlength = sizeof(DCB);
  return TRUE;
}

BOOL GetTimeouts(HANDLE h, COMMTIMEOUTS* timeouts) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (timeouts == nullptr) return Fail(kErrorInvalidParameter);
  *timeouts = p->timeouts;
  return TRUE;
}

BOOL SetTimeouts(HANDLE h, const COMMTIMEOUTS* timeouts) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (timeouts == nullptr) return Fail(kErrorInvalidParameter);
  p->timeouts = *timeouts;
  return TRUE;
}

BOOL GetConfig(HANDLE h, COMMCONFIG* config, DWORD* size) {
  if (size == nullptr || config == nullptr) return Fail(kErrorInvalidParameter);
  if (*size < sizeof(COMMCONFIG)) {
    *size = sizeof(COMMCONFIG);
    return Fail(122);  // ERROR_INSUFFICIENT_BUFFER
  }
  DCB dcb;
  if (!GetState(h, &dcb)) return FALSE;
  FillConfig(dcb, config);
  *size = sizeof(COMMCONFIG);
  return TRUE;
}

BOOL SetConfig(HANDLE h, const COMMCONFIG* config, DWORD size) {
  if (config == nullptr || size < sizeof(COMMCONFIG)) return Fail(kErrorInvalidParameter);
  return SetState(h, &config->dcb);
}

BOOL GetDefaultConfig(const std::string& name, COMMCONFIG* config, DWORD* size) {
  if (size == nullptr || config == nullptr) return Fail(kErrorInvalidParameter);
  if (*size < sizeof(COMMCONFIG)) {
    *size = sizeof(COMMCONFIG);
    return Fail(122);
  }
  int fd;
  if (!DefaultConfigFd(name, &fd)) return FALSE;
  termios t;
  int rc = tcgetattr(fd, &t);
  int err = errno;
  ::close(fd);
  if (rc != 0) return FailErrno(err);
  FillConfig(DcbFromTermios(t, DefaultShadow()), config);
  *size = sizeof(COMMCONFIG);
  return TRUE;
}

BOOL SetDefaultConfig(const std::string& name, const COMMCONFIG* config, DWORD size) {
  if (config == nullptr || size < sizeof(COMMCONFIG)) return Fail(kErrorInvalidParameter);
  if (!Representable(config->dcb)) return Fail(kErrorInvalidParameter);
  int fd;
  if (!DefaultConfigFd(name, &fd)) return FALSE;
  termios t;
  if (tcgetattr(fd, &t) != 0) {
    int err = errno;
    ::close(fd);
    return FailErrno(err);
  }
  BOOL ok = ApplyChecked(fd, config->dcb, t);
  ::close(fd);
  return ok;
}

BOOL GetProperties(HANDLE h, COMMPROP* prop) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (prop == nullptr) return Fail(kErrorInvalidParameter);
  std::memset(prop, 0, sizeof *prop);
  prop->wPacketLength = sizeof(COMMPROP);
  prop->wPacketVersion = 2;
  prop->dwServiceMask = SP_SERIALCOMM;
  prop->dwMaxBaud = BAUD_USER;
  prop->dwProvSubType = PST_RS232;
  // RTS/CTS, parity check, XON/XOFF, settable XON/XOFF, total and interval
  // time-outs; no DTR/DSR and no special characters.
  prop->dwProvCapabilities = 0x0002 | 0x0008 | 0x0010 | 0x0020 | 0x0040 | 0x0080;
  // Parity, baud, data bits, stop bits, handshaking, parity check.
  prop->dwSettableParams = 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x20;
  static constexpr std::pair<DWORD, DWORD> kBaudBits[] = {
      {75, 0x1},      {110, 0x2},      {134, 0x4},       {150, 0x8},       {300, 0x10},
      {600, 0x20},    {1200, 0x40},    {1800, 0x80},     {2400, 0x100},    {4800, 0x200},
      {9600, 0x800},  {19200, 0x2000}, {38400, 0x4000},  {57600, 0x40000}, {115200, 0x20000},
  };
  prop->dwSettableBaud = BAUD_USER;
  for (const auto& b : kBaudBits) prop->dwSettableBaud |= b.second;
  prop->wSettableData = 0x1 | 0x2 | 0x4 | 0x8;  // 5, 6, 7 and 8 data bits
  // One and two stop bits; no, odd, even, mark and space parity.
  prop->wSettableStopParity = 0x0001 | 0x0004 | 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x1000;
  prop->dwCurrentTxQueue = p->out_queue;
  prop->dwCurrentRxQueue = p->in_queue;
  return TRUE;
}

BOOL Escape(HANDLE h, DWORD function) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  bool ok;
  switch (function) {
    case SETXOFF: ok = tcflow(p->fd, TCOOFF) == 0; break;
    case SETXON: ok = tcflow(p->fd, TCOON) == 0; break;
    case SETRTS: ok = SetLine(p->fd, TIOCM_RTS, true); break;
    case CLRRTS: ok = SetLine(p->fd, TIOCM_RTS, false); break;
    case SETDTR: ok = SetLine(p->fd, TIOCM_DTR, true); break;
    case CLRDTR: ok = SetLine(p->fd, TIOCM_DTR, false); break;
    case SETBREAK: ok = ioctl(p->fd, TIOCSBRK) == 0; break;
    case CLRBREAK: ok = ioctl(p->fd, TIOCCBRK) == 0; break;
    default: return Fail(kErrorInvalidParameter);
  }
  if (!ok) return FailErrno(errno);
  return TRUE;
}

BOOL SetBreak(HANDLE h) { return Escape(h, SETBREAK); }
BOOL ClearBreak(HANDLE h) { return Escape(h, CLRBREAK); }

BOOL ClearError(HANDLE h, DWORD* errors, COMSTAT* status) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  int in = 0, out = 0;
  if (ioctl(p->fd, FIONREAD, &in) != 0) return FailErrno(errno);
  if (in == 0 && Gone(p->fd)) return Fail(kErrorDeviceNotConnected);
  if (ioctl(p->fd, TIOCOUTQ, &out) != 0) out = 0;
  if (errors != nullptr) {
    *errors = 0;
    LineCounts now = ReadCounts(p->fd);
    if (now.ok && p->error_counts.ok) {
      const serial_icounter_struct& a = p->error_counts.c;
      if (now.c.buf_overrun != a.buf_overrun) *errors |= CE_RXOVER;
      if (now.c.overrun != a.overrun) *errors |= CE_OVERRUN;
      if (now.c.parity != a.parity) *errors |= CE_RXPARITY;
      if (now.c.frame != a.frame) *errors |= CE_FRAME;
      if (now.c.brk != a.brk) *errors |= CE_BREAK;
    }
    p->error_counts = now;
  }
  if (status != nullptr) {
    std::memset(status, 0, sizeof *status);
    status->cbInQue = static_cast<DWORD>(in);
    status->cbOutQue = static_cast<DWORD>(out);
    termios t;
    int lines = 0;
    if (tcgetattr(p->fd, &t) == 0 && (t.c_cflag & CRTSCTS) && ModemLines(p->fd, &lines)) {
      status->fCtsHold = (lines & TIOCM_CTS) ? 0 : 1;
    }
  }
  return TRUE;
}

BOOL GetModemStatus(HANDLE h, DWORD* status) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (status == nullptr) return Fail(kErrorInvalidParameter);
  int lines = 0;
  if (!ModemLines(p->fd, &lines)) return FailErrno(errno);
  *status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0) |
            ((lines & TIOCM_RNG) ? MS_RING_ON : 0) | ((lines & TIOCM_CAR) ? MS_RLSD_ON : 0);
  return TRUE;
}

BOOL SetMask(HANDLE h, DWORD mask) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  constexpr DWORD kKnown = EV_RXCHAR | EV_TXEMPTY | EV_CTS | EV_DSR | EV_RLSD | EV_BREAK |
                           EV_ERR | EV_RING;
  if (mask & ~kKnown) return Fail(kErrorInvalidParameter);
  // A wait in progress ends with no event, as on Windows.
  EndPending(*p, kErrorSuccess, [](const Op& op) { return op.kind == OpKind::kWait; });
  p->mask = mask;
  p->modem_ok = ModemLines(p->fd, &p->modem_lines);
  p->event_counts = ReadCounts(p->fd);
  return TRUE;
}

BOOL GetMask(HANDLE h, DWORD* mask) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (mask == nullptr) return Fail(kErrorInvalidParameter);
  *mask = p->mask;
  return TRUE;
}

BOOL WaitEvent(HANDLE h, DWORD* events, OVERLAPPED* ov) {
  Port* p = AsPort(h);
  if (p == nullptr) return Fail(kErrorInvalidHandle);
  if (events == nullptr || p->mask == 0) return Fail(kErrorInvalidParameter);
  Op op;
  op.kind = OpKind::kWait;
  op.events_out = events;
  op.ov = ov;
  return Start(h, op, nullptr);
}

HANDLE CreateEvent(bool manual_reset, bool initial_state) {
  auto* e = new Event;
  e->manual = manual_reset;
  e->signalled = initial_state;
  std::lock_guard<std::mutex> lock(g_mu);
  g_events.insert(e);
  return e;
}

BOOL SetEvent(HANDLE h) {
  Event* e = AsEvent(h);
  if (e == nullptr) return Fail(kErrorInvalidHandle);
  e->signalled = true;
  return TRUE;
}

BOOL ResetEvent(HANDLE h) {
  Event* e = AsEvent(h);
  if (e == nullptr) return Fail(kErrorInvalidHandle);
  e->signalled = false;
  return TRUE;
}

BOOL CloseEvent(HANDLE h) {
  Event* e = AsEvent(h);
  if (e == nullptr) return Fail(kErrorInvalidHandle);
  {
    std::lock_guard<std::mutex> lock(g_mu);
    g_events.erase(e);
  }
  delete e;
  return TRUE;
}

DWORD WaitForEvent(HANDLE h, DWORD timeout_ms) {
  Event* e = AsEvent(h);
  if (e == nullptr) {
    Fail(kErrorInvalidHandle);
    return WAIT_FAILED;
  }
  int64_t deadline = timeout_ms == INFINITE ? kNever : AddMs(Now(), timeout_ms);
  uint32_t step = 1;
  for (;;) {
    if (!e->signalled) StepAllPorts();
    if (e->signalled) {
      if (!e->manual) e->signalled = false;
      return WAIT_OBJECT_0;
    }
    if (Now() >= deadline) return WAIT_TIMEOUT;
    SleepStep(deadline, &step);
  }
}

DWORD SleepEx(DWORD timeout_ms, BOOL alertable) {
  if (!alertable) {
    services().Sleep(timeout_ms);
    return 0;
  }
  int64_t deadline = timeout_ms == INFINITE ? kNever : AddMs(Now(), timeout_ms);
  uint32_t step = 1;
  for (;;) {
    StepAllPorts();
    if (DeliverCompletions()) return WAIT_IO_COMPLETION;
    if (Now() >= deadline) return 0;
    SleepStep(deadline, &step);
  }
}

std::vector<OVERLAPPED*> DiscardCompletions(const void* context) {
  std::vector<OVERLAPPED*> out;
  for (Port* p : AllPorts()) {
    for (auto it = p->pending.begin(); it != p->pending.end();) {
      if (it->routine != nullptr && it->ov->hEvent == context) {
        out.push_back(it->ov);
        it = p->pending.erase(it);
      } else {
        ++it;
      }
    }
  }
  std::lock_guard<std::mutex> lock(g_mu);
  for (auto it = g_completions.begin(); it != g_completions.end();) {
    if (it->ov->hEvent == context) {
      out.push_back(it->ov);
      it = g_completions.erase(it);
    } else {
      ++it;
    }
  }
  return out;
}

HANDLE GetModuleHandle(const char* module) {
  if (module == nullptr || !CiEqual(module, "KERNEL32.DLL")) {
    Fail(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
  }
  return &g_kernel_module;
}

FARPROC GetProcAddress(HANDLE module, const char* name) {
  if (module != &g_kernel_module || name == nullptr) {
    Fail(kErrorInvalidHandle);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(g_mu);
  if (std::strcmp(name, "CancelIo") != 0 || g_hidden_entries.count(name) != 0) {
    t_last_error = 127;  // ERROR_PROC_NOT_FOUND
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(static_cast<BOOL (*)(HANDLE)>(&CancelIo));
}

namespace testing {

void HideEntry(const char* name) {
  std::lock_guard<std::mutex> lock(g_mu);
  g_hidden_entries.insert(name);
}

void Reset() {
  std::lock_guard<std::mutex> lock(g_mu);
  g_hidden_entries.clear();
  g_port_devices.clear();
  g_completions.clear();
}

}  // namespace testing

}  // namespace vkt::serial_io
