// Communications ports in the Win32 manner, over Linux terminals (termios).
//
// The serial-port class is written against the calls below: the Win32
// structures (DCB, COMMTIMEOUTS, COMSTAT, COMMPROP, COMMCONFIG, OVERLAPPED)
// with their layouts and numbers, Win32 error codes instead of errno, and the
// port's time-outs, event mask and overlapped transfers carried out here.
//
//   HANDLE h = vkt::serial_io::OpenDevice("\\\\.\\COM1", false);
//   if (h == INVALID_HANDLE_VALUE) Fail(vkt::serial_io::GetLastError());
//   DCB dcb; vkt::serial_io::GetState(h, &dcb);
//   dcb.BaudRate = 9600; vkt::serial_io::SetState(h, &dcb);
//   DWORD n; vkt::serial_io::Read(h, buf, sizeof buf, &n, nullptr);
//
// Port names. "COMn" and "\\.\COMn" (any case, n >= 1) name a Linux device
// found in this order:
//   1. the device set for the port with SetPortDevice (process-wide);
//   2. the application profile, section "Settings", entry "COMn"
//      (for example COM3=/dev/ttyACM0);
//   3. the profile's pattern "SerialDevice" in section "Settings", with the
//      first "%d" replaced by n - 1 (for example /dev/ttyUSB%d: COM1 is
//      /dev/ttyUSB0); the default pattern is "/dev/ttyS%d".
// Any other name is taken as a Linux path (for example "/dev/pts/3").
//
// Opening. Ports are opened for reading and writing, non-blocking, without
// becoming the controlling terminal, in raw mode (no echo, no line editing,
// no character translation, modem lines ignored for carrier), and
// exclusively: a second open of the same device, from this process or
// another, fails with ERROR_ACCESS_DENIED as a port in use does on Windows.
//
// Errors. Every call that fails returns FALSE (or INVALID_HANDLE_VALUE) and
// leaves a Win32 error code for GetLastError; the mapping from errno is
// WinErrorFromErrno. A device that has gone away (a USB adapter pulled out,
// the far end of a pseudo-terminal closed) fails with
// ERROR_DEVICE_NOT_CONNECTED.
//
// Waits. Time-outs, event waits and overlapped completions are measured on
// vkt::services().MonotonicMicros() and waited out in short
// vkt::services().Sleep() steps, so that a test double runs them without
// real time passing. Overlapped transfers make progress whenever the caller
// waits on them (GetOverlappedResult, WaitForEvent, SleepEx); completion
// routines of ReadEx/WriteEx run only inside an alertable SleepEx, on the
// calling thread, as on Windows.
//
// Settings a Linux terminal cannot carry are refused with
// ERROR_INVALID_PARAMETER: baud rates outside the terminal's fixed set, byte
// sizes other than 5 to 8, parity or stop-bit values out of range, one and a
// half stop bits, DSR out-flow, DTR handshake, DSR sensitivity, RTS toggle,
// CTS out-flow without RTS handshake (and the reverse), the error character,
// NUL stripping, abort-on-error, and equal XON and XOFF characters; event
// masks with the flag character, printer-error, 80%-full or provider events.
// Settings are read back after they are set: what the terminal dropped
// silently (a pseudo-terminal keeps 8 data bits and no parity) is refused the
// same way, and the previous settings are put back.
//
// Threads: one port serves one thread at a time, as on Windows; the port and
// event tables are guarded, so different ports may be used on different
// threads. Pending completion routines belong to the process (one queue).
#ifndef VKT_SERIAL_SERIAL_IO_H_
#define VKT_SERIAL_SERIAL_IO_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vkt_export.h"

using DWORD = uint32_t;
using WORD = uint16_t;
using BYTE = uint8_t;
using BOOL = int;
using HANDLE = void*;
using ULONG_PTR = uintptr_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

inline HANDLE const INVALID_HANDLE_VALUE =
    reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1));

constexpr DWORD MAXDWORD = 0xFFFFFFFF;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_IO_COMPLETION = 0xC0;
constexpr DWORD WAIT_TIMEOUT = 0x102;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

// The device-control block, Win32 layout (28 bytes).
struct DCB {
  DWORD DCBlength;
  DWORD BaudRate;
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};
static_assert(sizeof(DCB) == 28);

struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};

struct COMSTAT {
  DWORD fCtsHold : 1;
  DWORD fDsrHold : 1;
  DWORD fRlsdHold : 1;
  DWORD fXoffHold : 1;
  DWORD fXoffSent : 1;
  DWORD fEof : 1;
  DWORD fTxim : 1;
  DWORD fReserved : 25;
  DWORD cbInQue;
  DWORD cbOutQue;
};

struct COMMPROP {
  WORD wPacketLength;
  WORD wPacketVersion;
  DWORD dwServiceMask;
  DWORD dwReserved1;
  DWORD dwMaxTxQueue;
  DWORD dwMaxRxQueue;
  DWORD dwMaxBaud;
  DWORD dwProvSubType;
  DWORD dwProvCapabilities;
  DWORD dwSettableParams;
  DWORD dwSettableBaud;
  WORD wSettableData;
  WORD wSettableStopParity;
  DWORD dwCurrentTxQueue;
  DWORD dwCurrentRxQueue;
  DWORD dwProvSpec1;
  DWORD dwProvSpec2;
  uint16_t wcProvChar[1];
};

// Win32 layout: 52 bytes, the size the serial-port class passes.
struct COMMCONFIG {
  DWORD dwSize;
  WORD wVersion;
  WORD wReserved;
  DCB dcb;
  DWORD dwProviderSubType;
  DWORD dwProviderOffset;
  DWORD dwProviderSize;
  uint16_t wcProviderData[1];
};
static_assert(sizeof(COMMCONFIG) == 52);

// Internal holds the transfer's state while it runs (STATUS_PENDING) and its
// Win32 error code (0: success) once it has ended; InternalHigh the bytes
// moved. The offsets are unused by communications ports.
struct OVERLAPPED {
  ULONG_PTR Internal;
  ULONG_PTR InternalHigh;
  DWORD Offset;
  DWORD OffsetHigh;
  HANDLE hEvent;
};
constexpr ULONG_PTR STATUS_PENDING = 0x103;

using LPOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD error, DWORD bytes,
                                                 OVERLAPPED* overlapped);

// Parity (DCB.Parity).
constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
// Stop bits (DCB.StopBits).
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;
// DCB.fDtrControl and fRtsControl.
constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// Events (SetCommMask, WaitCommEvent).
constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_RXFLAG = 0x0002;
constexpr DWORD EV_TXEMPTY = 0x0004;
constexpr DWORD EV_CTS = 0x0008;
constexpr DWORD EV_DSR = 0x0010;
constexpr DWORD EV_RLSD = 0x0020;
constexpr DWORD EV_BREAK = 0x0040;
constexpr DWORD EV_ERR = 0x0080;
constexpr DWORD EV_RING = 0x0100;
constexpr DWORD EV_PERR = 0x0200;
constexpr DWORD EV_RX80FULL = 0x0400;
constexpr DWORD EV_EVENT1 = 0x0800;
constexpr DWORD EV_EVENT2 = 0x1000;

// Purge flags.
constexpr DWORD PURGE_TXABORT = 0x0001;
constexpr DWORD PURGE_RXABORT = 0x0002;
constexpr DWORD PURGE_TXCLEAR = 0x0004;
constexpr DWORD PURGE_RXCLEAR = 0x0008;

// Line errors (ClearCommError).
constexpr DWORD CE_RXOVER = 0x0001;
constexpr DWORD CE_OVERRUN = 0x0002;
constexpr DWORD CE_RXPARITY = 0x0004;
constexpr DWORD CE_FRAME = 0x0008;
constexpr DWORD CE_BREAK = 0x0010;

// Modem status (GetCommModemStatus).
constexpr DWORD MS_CTS_ON = 0x0010;
constexpr DWORD MS_DSR_ON = 0x0020;
constexpr DWORD MS_RING_ON = 0x0040;
constexpr DWORD MS_RLSD_ON = 0x0080;

// EscapeCommFunction.
constexpr DWORD SETXOFF = 1;
constexpr DWORD SETXON = 2;
constexpr DWORD SETRTS = 3;
constexpr DWORD CLRRTS = 4;
constexpr DWORD SETDTR = 5;
constexpr DWORD CLRDTR = 6;
constexpr DWORD SETBREAK = 8;
constexpr DWORD CLRBREAK = 9;

// COMMPROP values.
constexpr DWORD SP_SERIALCOMM = 0x1;
constexpr DWORD PST_RS232 = 0x1;
constexpr DWORD BAUD_USER = 0x10000000;

namespace vkt::serial_io {

// Win32 error codes the calls leave. Kept in this namespace: other layers
// declare some of the same names.
constexpr DWORD kErrorSuccess = 0;
constexpr DWORD kErrorInvalidFunction = 1;
constexpr DWORD kErrorFileNotFound = 2;
constexpr DWORD kErrorPathNotFound = 3;
constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorAccessDenied = 5;
constexpr DWORD kErrorInvalidHandle = 6;
constexpr DWORD kErrorNotEnoughMemory = 8;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorNotSupported = 50;
constexpr DWORD kErrorInvalidParameter = 87;
constexpr DWORD kErrorCallNotImplemented = 120;
constexpr DWORD kErrorInvalidName = 123;
constexpr DWORD kErrorBusy = 170;
constexpr DWORD kErrorFilenameTooLong = 206;
constexpr DWORD kErrorOperationAborted = 995;
constexpr DWORD kErrorIoIncomplete = 996;
constexpr DWORD kErrorIoPending = 997;
constexpr DWORD kErrorDeviceNotConnected = 1167;
constexpr DWORD kErrorTimeout = 1460;

// The calling thread's last error, as GetLastError/SetLastError.
VKT_API DWORD GetLastError();
VKT_API void SetLastError(DWORD code);

// The one mapping from errno to the Win32 codes above:
//   ENOENT, ENOTDIR          -> 2  ERROR_FILE_NOT_FOUND
//   EACCES, EPERM, EBUSY,
//   EWOULDBLOCK on the lock  -> 5  ERROR_ACCESS_DENIED
//   EIO, ENXIO, ENODEV       -> 1167 ERROR_DEVICE_NOT_CONNECTED
//   EBADF                    -> 6  ERROR_INVALID_HANDLE
//   EINVAL                   -> 87 ERROR_INVALID_PARAMETER
//   ENOTTY                   -> 1  ERROR_INVALID_FUNCTION
//   ENOMEM, ENOBUFS          -> 8  ERROR_NOT_ENOUGH_MEMORY
//   EMFILE, ENFILE           -> 4  ERROR_TOO_MANY_OPEN_FILES
//   ENAMETOOLONG             -> 206 ERROR_FILENAME_EXCED_RANGE
//   EAGAIN                   -> 170 ERROR_BUSY
//   ETIMEDOUT                -> 1460 ERROR_TIMEOUT
//   ENOSYS, EOPNOTSUPP       -> 50 ERROR_NOT_SUPPORTED
//   anything else            -> 31 ERROR_GEN_FAILURE
VKT_API DWORD WinErrorFromErrno(int err);

// The system's text for a Win32 code (Italian, ending "\r\n" as the
// system's texts do); false when the code has none.
VKT_API bool SystemMessage(DWORD code, std::string* text);

// True for the rates a terminal takes (50 to 4000000 in its fixed set).
VKT_API bool IsSupportedBaudRate(DWORD rate);

// Port names (see above). An empty `device` removes the port's entry.
VKT_API void SetPortDevice(int port, const std::string& device);
VKT_API void ClearPortDevices();
// The Linux device a port name stands for; empty when the name is a COM
// name with no valid number (COM0, COMx).
VKT_API std::string DeviceForName(const std::string& name);

// Ports. OpenDevice returns INVALID_HANDLE_VALUE on failure. `overlapped`
// enables the overlapped forms; without it they run to the end at once, as
// on a Windows port opened without FILE_FLAG_OVERLAPPED, and ReadEx/WriteEx
// fail with ERROR_INVALID_PARAMETER.
VKT_API HANDLE OpenDevice(const std::string& name, bool overlapped);
// Transfers still running end with ERROR_OPERATION_ABORTED.
VKT_API BOOL ClosePort(HANDLE port);
VKT_API bool IsPort(HANDLE handle);

// Transfers. With `overlapped` null they wait (time-outs permitting); with
// it they return TRUE when done at once, else FALSE with ERROR_IO_PENDING.
// An event wait given an OVERLAPPED is overlapped even on a port opened
// without it: a synchronous wait could never be given up.
VKT_API BOOL Read(HANDLE port, void* buffer, DWORD count, DWORD* done,
                  OVERLAPPED* overlapped);
VKT_API BOOL Write(HANDLE port, const void* buffer, DWORD count, DWORD* done,
                   OVERLAPPED* overlapped);
VKT_API BOOL ReadEx(HANDLE port, void* buffer, DWORD count,
                    OVERLAPPED* overlapped,
                    LPOVERLAPPED_COMPLETION_ROUTINE routine);
VKT_API BOOL WriteEx(HANDLE port, const void* buffer, DWORD count,
                     OVERLAPPED* overlapped,
                     LPOVERLAPPED_COMPLETION_ROUTINE routine);
// FALSE with ERROR_IO_INCOMPLETE when `wait` is 0 and the transfer runs on.
VKT_API BOOL GetOverlappedResult(HANDLE port, OVERLAPPED* overlapped,
                                 DWORD* done, BOOL wait);
VKT_API BOOL CancelIo(HANDLE port);
VKT_API BOOL TransmitChar(HANDLE port, char c);
VKT_API BOOL Flush(HANDLE port);
VKT_API BOOL Purge(HANDLE port, DWORD flags);
// Queue sizes are recommendations on Linux too: kept and reported by
// GetProperties.
VKT_API BOOL Setup(HANDLE port, DWORD in_queue, DWORD out_queue);

// Settings.
VKT_API BOOL GetState(HANDLE port, DCB* dcb);
VKT_API BOOL SetState(HANDLE port, const DCB* dcb);
VKT_API BOOL GetTimeouts(HANDLE port, COMMTIMEOUTS* timeouts);
VKT_API BOOL SetTimeouts(HANDLE port, const COMMTIMEOUTS* timeouts);
VKT_API BOOL GetConfig(HANDLE port, COMMCONFIG* config, DWORD* size);
VKT_API BOOL SetConfig(HANDLE port, const COMMCONFIG* config, DWORD size);
// A device's settings while nobody has it open: what the terminal keeps.
VKT_API BOOL GetDefaultConfig(const std::string& name, COMMCONFIG* config,
                              DWORD* size);
VKT_API BOOL SetDefaultConfig(const std::string& name,
                              const COMMCONFIG* config, DWORD size);
VKT_API BOOL GetProperties(HANDLE port, COMMPROP* properties);

// Lines and status.
VKT_API BOOL Escape(HANDLE port, DWORD function);
VKT_API BOOL SetBreak(HANDLE port);
VKT_API BOOL ClearBreak(HANDLE port);
VKT_API BOOL ClearError(HANDLE port, DWORD* errors, COMSTAT* status);
VKT_API BOOL GetModemStatus(HANDLE port, DWORD* status);

// Events. Setting the mask ends every wait in progress with no event.
VKT_API BOOL SetMask(HANDLE port, DWORD mask);
VKT_API BOOL GetMask(HANDLE port, DWORD* mask);
// `events` is written when the wait ends (at once, or later for an
// overlapped wait: it must stay valid until then).
VKT_API BOOL WaitEvent(HANDLE port, DWORD* events, OVERLAPPED* overlapped);

// Event objects, for OVERLAPPED.hEvent. Null on failure.
VKT_API HANDLE CreateEvent(bool manual_reset, bool initial_state);
VKT_API BOOL SetEvent(HANDLE event);
VKT_API BOOL ResetEvent(HANDLE event);
VKT_API BOOL CloseEvent(HANDLE event);
// WAIT_OBJECT_0, WAIT_TIMEOUT or WAIT_FAILED. Overlapped transfers that
// signal this event make progress while it waits.
VKT_API DWORD WaitForEvent(HANDLE event, DWORD timeout_ms);

// Waits `timeout_ms`; when `alertable`, runs the completion routines of
// finished ReadEx/WriteEx transfers first (answering WAIT_IO_COMPLETION as
// soon as one ran) and ends the wait early when one finishes.
VKT_API DWORD SleepEx(DWORD timeout_ms, BOOL alertable);
// Removes the queued and running ReadEx/WriteEx transfers whose
// OVERLAPPED.hEvent is `context` without running their routines, and hands
// their OVERLAPPED blocks back to the caller, who owns them; running ones are
// aborted first. For an owner that goes away before its completions ran.
VKT_API std::vector<OVERLAPPED*> DiscardCompletions(const void* context);

// Entry points looked up by name, as GetModuleHandle/GetProcAddress: the
// only module is "KERNEL32.DLL" and the only entry "CancelIo"
// (a BOOL (*)(HANDLE)).
using FARPROC = void (*)();
VKT_API HANDLE GetModuleHandle(const char* module);
VKT_API FARPROC GetProcAddress(HANDLE module, const char* name);

namespace testing {
// Makes GetProcAddress miss `name`, as on a system without the entry.
VKT_API void HideEntry(const char* name);
// Back to the process's initial state: entries visible, no port devices,
// no queued completions.
VKT_API void Reset();
}  // namespace testing

}  // namespace vkt::serial_io

#endif  // VKT_SERIAL_SERIAL_IO_H_
