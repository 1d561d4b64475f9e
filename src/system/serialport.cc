#include "system/serialport.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "frame/vktapp.h"
#include "win/services.h"

namespace io = vkt::serial_io;

namespace {

constexpr DWORD kIoPending = io::kErrorIoPending;

// A failing call's code, taken before anything else can change it.
[[noreturn]] void ThrowLast() { CSerialPort::ThrowSerialException(0); }

void Check(BOOL ok) {
  if (!ok) ThrowLast();
}

}  // namespace

// --- CSerialException ---------------------------------------------------------

bool CSerialException::GetErrorMessage(char* buffer, unsigned int size,
                                       unsigned int* help_context) const {
  if (help_context != nullptr) *help_context = 0;
  std::string text;
  bool known = io::SystemMessage(m_dwError, &text);
  if (buffer == nullptr || size == 0) return known;
  if (!known) {
    buffer[0] = '\0';
    return false;
  }
  // Truncated to the buffer, and always terminated.
  size_t n = std::min<size_t>(text.size(), size - 1);
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return true;
}

CString CSerialException::GetErrorMessage() const {
  char buffer[4096];
  GetErrorMessage(buffer, sizeof buffer);
  return CString(buffer);
}

const char* CSerialException::what() const noexcept {
  try {
    std::string text;
    if (io::SystemMessage(m_dwError, &text)) {
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      what_ = text;
    } else {
      what_ = "Errore della porta seriale " + std::to_string(m_dwError);
    }
    return what_.c_str();
  } catch (...) {
    return "CSerialException";
  }
}

// --- CSerialPort ----------------------------------------------------------------

CSerialPort::CSerialPort(bool log) {
  if (log && vktpar != nullptr) {
    size_t len = strnlen(vktpar->path, sizeof vktpar->path);
    // No path, no log: an empty one would put it under the root.
    if (len > 0) {
      std::string name(vktpar->path, len);
      name += "/log/serlog.txt";
      log_ = std::fopen(name.c_str(), "ab");
    }
  }
  kernel_ = io::GetModuleHandle("KERNEL32.DLL");
  if (kernel_ != nullptr) {
    cancel_io_ = reinterpret_cast<CancelIoEntry>(io::GetProcAddress(kernel_, "CancelIo"));
  }
}

CSerialPort::~CSerialPort() {
  if (log_ != nullptr) {
    std::fclose(log_);
    log_ = nullptr;
  }
  Close();
  // Completions still addressed to this object can no longer reach it: free
  // their blocks as the default OnCompletion would.
  for (OVERLAPPED* ov : io::DiscardCompletions(this)) delete ov;
}

void CSerialPort::ThrowSerialException(DWORD code) {
  if (code == 0) code = io::GetLastError();
  throw CSerialException(code);
}

void CSerialPort::Open(int port, DWORD baud, Parity parity, unsigned char data_bits,
                       StopBits stop_bits, FlowControl flow, int overlapped) {
  Close();
  // What the line cannot take is refused before the device is touched.
  bool settable = parity >= EvenParity && parity <= SpaceParity &&
                  (stop_bits == OneStopBit || stop_bits == TwoStopBits) && data_bits >= 5 &&
                  data_bits <= 8 &&
                  (flow == NoFlowControl || flow == CtsRtsFlowControl ||
                   flow == XonXoffFlowControl) &&
                  io::IsSupportedBaudRate(baud);
  if (!settable) ThrowSerialException(io::kErrorInvalidParameter);

  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", port);
  port_ = io::OpenDevice(name, overlapped != 0);
  if (port_ == INVALID_HANDLE_VALUE) ThrowLast();
  event_ = io::CreateEvent(true, false);
  if (event_ == nullptr) {
    DWORD error = io::GetLastError();
    Close();
    ThrowSerialException(error);
  }
  try {
    DCB dcb;
    GetState(dcb);
    dcb.BaudRate = baud;
    static constexpr BYTE kParity[] = {EVENPARITY, MARKPARITY, NOPARITY, ODDPARITY, SPACEPARITY};
    dcb.Parity = kParity[parity];
    dcb.ByteSize = data_bits;
    dcb.StopBits = stop_bits == TwoStopBits ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fDsrSensitivity = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    switch (flow) {
      case CtsRtsFlowControl:
        dcb.fOutxCtsFlow = 1;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
        break;
      case XonXoffFlowControl:
        dcb.fOutxCtsFlow = 0;
        dcb.fOutX = 1;
        dcb.fInX = 1;
        dcb.XonChar = 17;
        dcb.XoffChar = 19;
        dcb.XonLim = 100;
        dcb.XoffLim = 100;
        break;
      default:
        dcb.fOutxCtsFlow = 0;
        break;
    }
    SetState(dcb);
  } catch (...) {
    Close();
    throw;
  }
}

void CSerialPort::Close() {
  if (IsOpen()) {
    (void)io::ClosePort(port_);
    port_ = INVALID_HANDLE_VALUE;
  }
  if (event_ != nullptr) {
    (void)io::CloseEvent(event_);
    event_ = nullptr;
  }
}

void CSerialPort::Attach(HANDLE port) {
  Close();
  port_ = port;
  event_ = io::CreateEvent(true, false);
  if (event_ == nullptr) {
    DWORD error = io::GetLastError();
    Close();
    ThrowSerialException(error);
  }
}

HANDLE CSerialPort::Detach() {
  HANDLE port = port_;
  port_ = INVALID_HANDLE_VALUE;
  if (event_ != nullptr) {
    (void)io::CloseEvent(event_);
    event_ = nullptr;
  }
  return port;
}

DWORD CSerialPort::Read(void* buffer, DWORD count) {
  DWORD done = 0;
  Check(io::Read(port_, buffer, count, &done, nullptr));
  LogTransfer(true, buffer, done);
  return done;
}

DWORD CSerialPort::Write(const void* buffer, DWORD count) {
  DWORD done = 0;
  Check(io::Write(port_, buffer, count, &done, nullptr));
  LogTransfer(false, buffer, done);
  return done;
}

BOOL CSerialPort::Read(void* buffer, DWORD count, OVERLAPPED& overlapped, DWORD* bytes) {
  DWORD done = 0;
  if (!io::Read(port_, buffer, count, &done, &overlapped)) {
    if (io::GetLastError() == kIoPending) return FALSE;
    ThrowLast();
  }
  if (bytes != nullptr) *bytes = done;
  LogTransfer(true, buffer, done);
  return TRUE;
}

BOOL CSerialPort::Write(const void* buffer, DWORD count, OVERLAPPED& overlapped, DWORD* bytes) {
  DWORD done = 0;
  if (!io::Write(port_, buffer, count, &done, &overlapped)) {
    if (io::GetLastError() == kIoPending) return FALSE;
    ThrowLast();
  }
  if (bytes != nullptr) *bytes = done;
  LogTransfer(false, buffer, done);
  return TRUE;
}

void CSerialPort::ReadEx(void* buffer, DWORD count) {
  auto* ov = new OVERLAPPED{};
  ov->hEvent = this;
  if (!io::ReadEx(port_, buffer, count, ov, _OnCompletion)) {
    DWORD error = io::GetLastError();
    delete ov;
    ThrowSerialException(error);
  }
}

void CSerialPort::WriteEx(const void* buffer, DWORD count) {
  auto* ov = new OVERLAPPED{};
  ov->hEvent = this;
  if (!io::WriteEx(port_, buffer, count, ov, _OnCompletion)) {
    DWORD error = io::GetLastError();
    delete ov;
    ThrowSerialException(error);
  }
  LogRaw(buffer, count);
  LogRaw("\r\n", 2);
  if (log_ != nullptr) std::fflush(log_);
}

void CSerialPort::_OnCompletion(DWORD error, DWORD bytes, OVERLAPPED* overlapped) {
  auto* self = static_cast<CSerialPort*>(overlapped->hEvent);
  self->OnCompletion(error, bytes, overlapped);
}

void CSerialPort::OnCompletion(DWORD /*error*/, DWORD /*bytes*/, OVERLAPPED* overlapped) {
  delete overlapped;
}

BOOL CSerialPort::GetOverlappedResult(OVERLAPPED& overlapped, DWORD& bytes, BOOL wait) {
  if (!io::GetOverlappedResult(port_, &overlapped, &bytes, wait)) {
    if (io::GetLastError() == io::kErrorIoIncomplete) return FALSE;
    ThrowLast();
  }
  return TRUE;
}

void CSerialPort::CancelIo() {
  if (cancel_io_ == nullptr) ThrowSerialException(io::kErrorCallNotImplemented);
  Check(cancel_io_(port_));
}

void CSerialPort::TransmitChar(char c) { Check(io::TransmitChar(port_, c)); }

DWORD CSerialPort::BytesWaiting() {
  COMSTAT status;
  GetStatus(status);
  return status.cbInQue;
}

bool CSerialPort::DataWaiting(DWORD timeout) {
  DWORD saved = 0;
  GetMask(saved);
  SetMask(EV_RXCHAR);
  bool waiting = false;
  try {
    OVERLAPPED ov{};
    ov.hEvent = event_;
    DWORD events = 0;
    if (WaitEvent(events, ov)) {
      waiting = true;
    } else if (io::WaitForEvent(event_, timeout) == WAIT_OBJECT_0) {
      DWORD bytes = 0;
      GetOverlappedResult(ov, bytes, FALSE);
      waiting = true;
    }
    // Setting the mask ends a wait still running, before `ov` goes.
    SetMask(saved);
  } catch (...) {
    (void)io::SetMask(port_, saved);
    throw;
  }
  return waiting;
}

void CSerialPort::GetConfig(COMMCONFIG& config) {
  DWORD size = sizeof(COMMCONFIG);
  Check(io::GetConfig(port_, &config, &size));
}

void CSerialPort::SetConfig(COMMCONFIG& config) {
  Check(io::SetConfig(port_, &config, sizeof(COMMCONFIG)));
}

void CSerialPort::GetDefaultConfig(int port, COMMCONFIG& config) {
  char name[32];
  std::snprintf(name, sizeof name, "COM%d", port);
  DWORD size = sizeof(COMMCONFIG);
  Check(io::GetDefaultConfig(name, &config, &size));
}

void CSerialPort::SetDefaultConfig(int port, COMMCONFIG& config) {
  char name[32];
  std::snprintf(name, sizeof name, "COM%d", port);
  Check(io::SetDefaultConfig(name, &config, sizeof(COMMCONFIG)));
}

void CSerialPort::ClearBreak() { Check(io::ClearBreak(port_)); }
void CSerialPort::SetBreak() { Check(io::SetBreak(port_)); }
void CSerialPort::ClearError(DWORD& errors) { Check(io::ClearError(port_, &errors, nullptr)); }

void CSerialPort::GetStatus(COMSTAT& status) {
  DWORD errors = 0;
  Check(io::ClearError(port_, &errors, &status));
}

void CSerialPort::GetState(DCB& dcb) { Check(io::GetState(port_, &dcb)); }
void CSerialPort::SetState(DCB& dcb) { Check(io::SetState(port_, &dcb)); }
void CSerialPort::Escape(DWORD function) { Check(io::Escape(port_, function)); }
void CSerialPort::ClearDTR() { Escape(CLRDTR); }
void CSerialPort::ClearRTS() { Escape(CLRRTS); }
void CSerialPort::SetDTR() { Escape(SETDTR); }
void CSerialPort::SetRTS() { Escape(SETRTS); }
void CSerialPort::SetXOFF() { Escape(SETXOFF); }
void CSerialPort::SetXON() { Escape(SETXON); }
void CSerialPort::GetProperties(COMMPROP& properties) {
  Check(io::GetProperties(port_, &properties));
}
void CSerialPort::GetModemStatus(DWORD& status) { Check(io::GetModemStatus(port_, &status)); }

void CSerialPort::GetTimeouts(COMMTIMEOUTS& timeouts) { Check(io::GetTimeouts(port_, &timeouts)); }
void CSerialPort::SetTimeouts(COMMTIMEOUTS& timeouts) { Check(io::SetTimeouts(port_, &timeouts)); }

void CSerialPort::Set0Timeout() {
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  SetTimeouts(t);
}

void CSerialPort::Set0WriteTimeout() {
  COMMTIMEOUTS t;
  GetTimeouts(t);
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
  SetTimeouts(t);
}

void CSerialPort::Set0ReadTimeout() {
  COMMTIMEOUTS t;
  GetTimeouts(t);
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0;
  SetTimeouts(t);
}

void CSerialPort::SetMask(DWORD mask) { Check(io::SetMask(port_, mask)); }
void CSerialPort::GetMask(DWORD& mask) { Check(io::GetMask(port_, &mask)); }
void CSerialPort::WaitEvent(DWORD& mask) { Check(io::WaitEvent(port_, &mask, nullptr)); }

BOOL CSerialPort::WaitEvent(DWORD& mask, OVERLAPPED& overlapped) {
  if (!io::WaitEvent(port_, &mask, &overlapped)) {
    if (io::GetLastError() == kIoPending) return FALSE;
    ThrowLast();
  }
  return TRUE;
}

void CSerialPort::Flush() { Check(io::Flush(port_)); }
void CSerialPort::Purge(DWORD flags) { Check(io::Purge(port_, flags)); }
void CSerialPort::TerminateOutstandingWrites() { Purge(PURGE_TXABORT); }
void CSerialPort::TerminateOutstandingReads() { Purge(PURGE_RXABORT); }
void CSerialPort::ClearWriteBuffer() { Purge(PURGE_TXCLEAR); }
void CSerialPort::ClearReadBuffer() { Purge(PURGE_RXCLEAR); }
void CSerialPort::Setup(DWORD in_queue, DWORD out_queue) {
  Check(io::Setup(port_, in_queue, out_queue));
}

// --- traffic log ------------------------------------------------------------------

void CSerialPort::LogRaw(const void* data, DWORD count) {
  if (log_ == nullptr || count == 0) return;
  (void)std::fwrite(data, 1, count, log_);
}

void CSerialPort::LogTransfer(bool in, const void* data, DWORD count) {
  if (log_ == nullptr) return;
  using namespace std::chrono;
  int64_t now_us = vkt::services().NowMicros();
  sys_time<microseconds> now{microseconds{now_us}};
  sys_days day = floor<days>(now);
  year_month_day ymd{day};
  hh_mm_ss<milliseconds> time{floor<milliseconds>(now - day)};
  char prefix[100];
  std::snprintf(prefix, sizeof prefix,
                in ? "%02d/%02d/%02d %02d:%02d:%02d.%03d IN  <- "
                   : "%02d/%02d/%02d %02d:%02d:%02d.%03d OUT -> ",
                static_cast<int>(static_cast<unsigned>(ymd.day())),
                static_cast<int>(static_cast<unsigned>(ymd.month())), static_cast<int>(ymd.year()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()),
                static_cast<int>(time.subseconds().count()));
  (void)std::fwrite(prefix, 1, std::strlen(prefix), log_);
  LogRaw(data, count);
  (void)std::fwrite("\r\n", 1, 2, log_);
  std::fflush(log_);
}
