// CSerialPort: one communications port, every failure a CSerialException.
//
//   CSerialPort port(true);                   // traffic in log/serlog.txt
//   try {
//     port.Open(1, 9600, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
//               CSerialPort::NoFlowControl, 0);
//     port.Set0ReadTimeout();                  // reads take what is there
//     port.Write("P\r", 2);
//     char reply[64];
//     DWORD n = port.Read(reply, sizeof reply);
//   } catch (const CSerialException& e) {
//     Report(e.GetErrorMessage(), ...);        // e.m_dwError: Win32 code
//   }
//
// Ports are numbered as on Windows. COMn is a Linux device chosen, in this
// order, by vkt::serial_io::SetPortDevice(n, device), by the profile entry
// "COMn" of section "Settings" (COM3=/dev/ttyACM0), or by the profile's
// pattern "SerialDevice" in "Settings" with "%d" standing for n - 1 (the
// default "/dev/ttyS%d" makes COM1 /dev/ttyS0; "/dev/ttyUSB%d" makes it
// /dev/ttyUSB0). See serial/serial_io.h for how the terminal is driven.
//
// Settings a Linux terminal cannot carry are refused by Open with code 87
// (ERROR_INVALID_PARAMETER) before anything is opened: out-of-range
// enumeration values, data bits other than 5 to 8, one and a half stop bits,
// the DTR/DSR flow controls (CtsDtr, DsrRts, DsrDtr) and baud rates outside
// the terminal's set; SetState refuses the same in a DCB, and so does Open
// when the device drops a setting silently (a pseudo-terminal takes only 8
// data bits without parity). System errors carry the Win32 codes of
// vkt::serial_io::WinErrorFromErrno: a missing device 2, a port in use or
// forbidden 5, a device that has gone away (pulled out, far end closed) 1167.
//
// Exceptions are thrown by value (catch by reference); Open and Attach leave
// the object closed whenever they fail after the device was opened. Time-outs
// and waits run on the services seam's clock (win/services.h).
#ifndef VKT_SYSTEM_SERIALPORT_H_
#define VKT_SYSTEM_SERIALPORT_H_

#include <cstdio>
#include <exception>
#include <string>

#include "serial/serial_io.h"
#include "vkt_export.h"
#include "win/cstring.h"

class VKT_API CSerialException : public std::exception {
 public:
  explicit CSerialException(DWORD error) : m_dwError(error) {}

  // The system's text for the code, truncated to `size` bytes with its
  // terminator; an empty buffer and false when the system has none. The help
  // context, when asked for, is 0.
  bool GetErrorMessage(char* buffer, unsigned int size, unsigned int* help_context = nullptr) const;
  CString GetErrorMessage() const;
  const char* what() const noexcept override;

  DWORD m_dwError;

 private:
  mutable std::string what_;
};

class VKT_API CSerialPort {
 public:
  // Fixed to int so that any value a host passes is a value: out-of-range
  // ones are refused, not undefined.
  enum FlowControl : int {
    NoFlowControl,
    CtsRtsFlowControl,
    CtsDtrFlowControl,
    DsrRtsFlowControl,
    DsrDtrFlowControl,
    XonXoffFlowControl,
  };
  enum Parity : int { EvenParity, MarkParity, NoParity, OddParity, SpaceParity };
  enum StopBits : int { OneStopBit, OnePointFiveStopBits, TwoStopBits };

  // `log`: every transfer is appended to "<path>/log/serlog.txt" under the
  // parameter block's `path`; when the file cannot be opened (or there is no
  // block or no path) the port works without a log.
  explicit CSerialPort(bool log);
  // Owns its port, event and log: copies would close them twice.
  CSerialPort(const CSerialPort&) = delete;
  CSerialPort& operator=(const CSerialPort&) = delete;
  virtual ~CSerialPort();

  void Open(int port, DWORD baud, Parity parity, unsigned char data_bits, StopBits stop_bits,
            FlowControl flow, int overlapped);
  void Close();
  bool IsOpen() const { return port_ != INVALID_HANDLE_VALUE; }
  operator HANDLE() const { return port_; }  // NOLINT: the raw handle, as offered
  void Attach(HANDLE port);
  HANDLE Detach();

  // Synchronous transfers under the port's time-outs: the bytes moved.
  DWORD Read(void* buffer, DWORD count);
  DWORD Write(const void* buffer, DWORD count);
  // Overlapped: true when done at once (count through `bytes`, traffic
  // logged), false while it runs on (ERROR_IO_PENDING is no failure).
  BOOL Read(void* buffer, DWORD count, OVERLAPPED& overlapped, DWORD* bytes = nullptr);
  BOOL Write(const void* buffer, DWORD count, OVERLAPPED& overlapped, DWORD* bytes = nullptr);
  // Completion-routine transfers; OnCompletion runs inside an alertable
  // vkt::serial_io::SleepEx on this thread.
  void ReadEx(void* buffer, DWORD count);
  void WriteEx(const void* buffer, DWORD count);
  // False while the transfer runs on and `wait` is 0 (ERROR_IO_INCOMPLETE).
  BOOL GetOverlappedResult(OVERLAPPED& overlapped, DWORD& bytes, BOOL wait);
  void CancelIo();
  void TransmitChar(char c);

  DWORD BytesWaiting();
  // True when a byte arrives within `timeout` milliseconds (at once when
  // one is waiting); the event mask is put back in every case.
  bool DataWaiting(DWORD timeout);

  void GetConfig(COMMCONFIG& config);
  void SetConfig(COMMCONFIG& config);
  static void GetDefaultConfig(int port, COMMCONFIG& config);
  static void SetDefaultConfig(int port, COMMCONFIG& config);

  void ClearBreak();
  void SetBreak();
  void ClearError(DWORD& errors);
  void GetStatus(COMSTAT& status);
  void GetState(DCB& dcb);
  void SetState(DCB& dcb);
  void Escape(DWORD function);
  void ClearDTR();
  void ClearRTS();
  void SetDTR();
  void SetRTS();
  void SetXOFF();
  void SetXON();
  void GetProperties(COMMPROP& properties);
  void GetModemStatus(DWORD& status);

  void GetTimeouts(COMMTIMEOUTS& timeouts);
  void SetTimeouts(COMMTIMEOUTS& timeouts);
  // Reads return at once with what is buffered; writes wait without limit.
  void Set0Timeout();
  void Set0WriteTimeout();
  void Set0ReadTimeout();

  void SetMask(DWORD mask);
  void GetMask(DWORD& mask);
  void WaitEvent(DWORD& mask);
  // False while the wait runs on (ERROR_IO_PENDING is no failure).
  BOOL WaitEvent(DWORD& mask, OVERLAPPED& overlapped);

  void Flush();
  void Purge(DWORD flags);
  void TerminateOutstandingWrites();
  void TerminateOutstandingReads();
  void ClearWriteBuffer();
  void ClearReadBuffer();
  void Setup(DWORD in_queue, DWORD out_queue);

  // Throws CSerialException(code); a code of 0 stands for the thread's last
  // error.
  [[noreturn]] static void ThrowSerialException(DWORD code);

 protected:
  // Called for every ReadEx/WriteEx transfer when it has ended (error 0 on
  // success, 995 when cancelled or the port closed). `overlapped` is the
  // block the transfer allocated, its hEvent this object. The default frees
  // the block; an override must free it too (delete) and must not throw.
  virtual void OnCompletion(DWORD error, DWORD bytes, OVERLAPPED* overlapped);
  static void _OnCompletion(DWORD error, DWORD bytes, OVERLAPPED* overlapped);

 private:
  using CancelIoEntry = BOOL (*)(HANDLE);

  void LogTransfer(bool in, const void* data, DWORD count);
  void LogRaw(const void* data, DWORD count);

  HANDLE port_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  HANDLE kernel_ = nullptr;
  CancelIoEntry cancel_io_ = nullptr;
  FILE* log_ = nullptr;
};

#endif  // VKT_SYSTEM_SERIALPORT_H_
