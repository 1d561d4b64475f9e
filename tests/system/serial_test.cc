// CSerialPort over a pseudo-terminal pair: the test holds the master side
// (the device at the far end of the cable), the port opens the slave by name
// through the profile's COM7 entry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frame/vktapp.h"
#include "serial/detail/dcb_termios.h"
#include "serial/serial_io.h"
#include "system/serialport.h"
#include "win/services.h"

namespace {

namespace io = vkt::serial_io;
using namespace std::chrono_literals;

constexpr int kPort = 7;

DWORD CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const CSerialException& e) {
    return e.m_dwError;
  }
  return 0;
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "Europe/Rome", 1);
    tzset();
    io::testing::Reset();
    char name[128];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0) << std::strerror(errno);
    slave_name_ = name;
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    fake_.WriteProfileString("Settings", "COM7", slave_name_);

    char tmpl[] = "/tmp/vkt_serial_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    std::filesystem::create_directories(dir_ + "/log");
    saved_par_ = vktpar;
    std::memset(&par_, 0, sizeof par_);
    std::snprintf(par_.path, sizeof par_.path, "%s", dir_.c_str());
    vktpar = &par_;
  }

  void TearDown() override {
    vktpar = saved_par_;
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
    std::filesystem::remove_all(dir_);
    io::testing::Reset();
  }

  void OpenDefault(CSerialPort& port, int overlapped = 0) {
    port.Open(kPort, 9600, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
              CSerialPort::NoFlowControl, overlapped);
  }

  void MasterWrite(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // What the far end received, waiting (really, briefly) for `n` bytes.
  std::string MasterRead(size_t n) {
    std::string got;
    auto until = std::chrono::steady_clock::now() + 2s;
    while (got.size() < n && std::chrono::steady_clock::now() < until) {
      pollfd p{master_, POLLIN, 0};
      poll(&p, 1, 20);
      char buf[4096];
      ssize_t r = read(master_, buf, std::min(sizeof buf, n - got.size()));
      if (r > 0) got.append(buf, static_cast<size_t>(r));
    }
    return got;
  }

  // The terminal moves bytes from master to slave on its own schedule: wait
  // (really, briefly) until the port's input queue holds `n` bytes.
  void AwaitInput(CSerialPort& port, DWORD n) {
    auto until = std::chrono::steady_clock::now() + 2s;
    while (port.BytesWaiting() < n && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(1ms);
    ASSERT_EQ(port.BytesWaiting(), n);
  }

  termios SlaveTermios() {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }

  std::string LogText() {
    std::ifstream in(dir_ + "/log/serlog.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  int master_ = -1;
  int slave_ = -1;
  std::string slave_name_;
  std::string dir_;
  VKTAPPPARAM par_;
  VKTAPPPARAM* saved_par_ = nullptr;
};

TEST_F(SerialTest, BytesTravelBothWaysUnchanged) {
  CSerialPort port(false);
  OpenDefault(port);
  ASSERT_TRUE(port.IsOpen());
  // Line ends, NUL, XON/XOFF, interrupt and 8-bit bytes: raw, both ways.
  const std::string bytes("A\r\n\0\x11\x13\x03\x7F\xFF\xE8z", 11);
  EXPECT_EQ(port.Write(bytes.data(), static_cast<DWORD>(bytes.size())), bytes.size());
  EXPECT_EQ(MasterRead(bytes.size()), bytes);

  MasterWrite(bytes);
  AwaitInput(port, static_cast<DWORD>(bytes.size()));
  char buf[32] = {};
  EXPECT_EQ(port.Read(buf, static_cast<DWORD>(bytes.size())), bytes.size());
  EXPECT_EQ(std::string(buf, bytes.size()), bytes);
  EXPECT_EQ(port.BytesWaiting(), 0u);

  port.TransmitChar('!');
  EXPECT_EQ(MasterRead(1), "!");
}

TEST_F(SerialTest, TrafficLogRecordsEachTransferWithUtcPrefix) {
  using namespace std::chrono;
  auto at = sys_days{2026y / 12 / 4} + 14h + 3min + 7s + 45ms;
  fake_.SetNow(duration_cast<microseconds>(at.time_since_epoch()).count());
  {
    CSerialPort port(true);
    OpenDefault(port);
    MasterWrite("AB");
    AwaitInput(port, 2);
    char buf[8];
    ASSERT_EQ(port.Read(buf, 2), 2u);
    ASSERT_EQ(port.Write("x\r\0y", 4), 4u);
    port.Set0ReadTimeout();
    ASSERT_EQ(port.Read(buf, sizeof buf), 0u);  // still a record
  }
  const std::string kPrefix = "04/12/2026 14:03:07.045 ";
  const std::string expected = kPrefix + "IN  <- AB\r\n" + kPrefix + "OUT -> x\r" +
                               std::string(1, '\0') + "y\r\n" + kPrefix + "IN  <- \r\n";
  EXPECT_EQ(LogText(), expected);

  // Appended, never truncated; no log asked for, none written.
  {
    CSerialPort quiet(false);
    OpenDefault(quiet);
    quiet.Write("q", 1);
  }
  EXPECT_EQ(LogText(), expected);
  {
    CSerialPort port(true);
    OpenDefault(port);
    port.Write("z", 1);
  }
  EXPECT_EQ(LogText(), expected + kPrefix + "OUT -> z\r\n");
}

TEST_F(SerialTest, MissingLogFolderOrPathLeavesTheLogOff) {
  std::filesystem::remove_all(dir_ + "/log");
  {
    CSerialPort port(true);
    OpenDefault(port);
    EXPECT_EQ(port.Write("a", 1), 1u);
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ + "/log/serlog.txt"));
  par_.path[0] = '\0';
  CSerialPort port(true);
  OpenDefault(port);
  EXPECT_EQ(port.Write("b", 1), 1u);
  EXPECT_EQ(MasterRead(2), "ab");
}

TEST_F(SerialTest, SettingsTheLineCannotTakeAreRefusedWith87BeforeOpening) {
  CSerialPort port(false);
  auto open = [&](DWORD baud, int parity, int bits, int stop, int flow) {
    return CodeOf([&] {
      port.Open(kPort, baud, static_cast<CSerialPort::Parity>(parity),
                static_cast<unsigned char>(bits), static_cast<CSerialPort::StopBits>(stop),
                static_cast<CSerialPort::FlowControl>(flow), 0);
    });
  };
  EXPECT_EQ(open(9600, 5, 8, 0, 0), 87u);
  EXPECT_EQ(open(9600, -1, 8, 0, 0), 87u);
  EXPECT_EQ(open(9600, 2, 4, 0, 0), 87u);
  EXPECT_EQ(open(9600, 2, 9, 0, 0), 87u);
  EXPECT_EQ(open(9600, 2, 8, 1, 0), 87u);  // one and a half stop bits
  EXPECT_EQ(open(9600, 2, 8, 3, 0), 87u);
  EXPECT_EQ(open(9600, 2, 8, 0, 2), 87u);  // CTS/DTR
  EXPECT_EQ(open(9600, 2, 8, 0, 3), 87u);  // DSR/RTS
  EXPECT_EQ(open(9600, 2, 8, 0, 4), 87u);  // DSR/DTR
  EXPECT_EQ(open(9600, 2, 8, 0, 6), 87u);
  EXPECT_EQ(open(14400, 2, 8, 0, 0), 87u);
  EXPECT_FALSE(port.IsOpen());

  // A refused Open closed the port it had before and holds nothing: another
  // object can take the device.
  OpenDefault(port);
  EXPECT_EQ(open(9600, 2, 8, 1, 0), 87u);
  EXPECT_FALSE(port.IsOpen());
  CSerialPort other(false);
  EXPECT_NO_THROW(OpenDefault(other));
}

TEST_F(SerialTest, SetStateRefusesWhatTheTerminalCannotCarryAndKeepsTheOldSettings) {
  CSerialPort port(false);
  OpenDefault(port);
  DCB good;
  port.GetState(good);
  auto refused = [&](auto change) {
    DCB d = good;
    change(d);
    return CodeOf([&] { port.SetState(d); });
  };
  EXPECT_EQ(refused([](DCB& d) { d.fOutxDsrFlow = 1; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.fDtrControl = DTR_CONTROL_HANDSHAKE; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.fDsrSensitivity = 1; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.StopBits = ONE5STOPBITS; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.ByteSize = 9; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.Parity = 5; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.BaudRate = 12345; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.fOutxCtsFlow = 1; }), 87u);  // without RTS handshake
  EXPECT_EQ(refused([](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }), 87u);
  EXPECT_EQ(refused([](DCB& d) { d.fOutX = 1; d.XonChar = d.XoffChar = 17; }), 87u);
  termios t = SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), B9600);
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & PARENB, 0u);
}

TEST_F(SerialTest, OpenSettingsReachTheTerminalAndReadBack) {
  CSerialPort port(false);
  port.Open(kPort, 19200, CSerialPort::NoParity, 8, CSerialPort::TwoStopBits,
            CSerialPort::XonXoffFlowControl, 0);
  termios t = SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), B19200);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE((t.c_iflag & IXON) && (t.c_iflag & IXOFF));
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_EQ(t.c_cc[VSTART], 17);
  EXPECT_EQ(t.c_cc[VSTOP], 19);
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP));
  DCB d;
  port.GetState(d);
  EXPECT_EQ(d.BaudRate, 19200u);
  EXPECT_EQ(d.StopBits, TWOSTOPBITS);
  EXPECT_EQ(d.fOutX, 1u);
  EXPECT_EQ(d.fInX, 1u);
  EXPECT_EQ(d.XonLim, 100);
  EXPECT_EQ(d.XoffLim, 100);
  EXPECT_EQ(d.fDsrSensitivity, 0u);

  port.Open(kPort, 115200, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
            CSerialPort::CtsRtsFlowControl, 0);
  t = SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), B115200);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
  port.GetState(d);
  EXPECT_EQ(d.fOutxCtsFlow, 1u);
  EXPECT_EQ(d.fRtsControl, RTS_CONTROL_HANDSHAKE);

  port.Open(kPort, 1200, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
            CSerialPort::NoFlowControl, 0);
  port.GetState(d);
  EXPECT_EQ(d.fOutxCtsFlow, 0u);
  EXPECT_NE(d.fRtsControl, RTS_CONTROL_HANDSHAKE);
  EXPECT_FALSE(SlaveTermios().c_cflag & CRTSCTS);

  COMMCONFIG cfg;
  port.GetConfig(cfg);
  EXPECT_EQ(cfg.dwSize, 52u);
  EXPECT_EQ(cfg.dcb.BaudRate, 1200u);
  cfg.dcb.BaudRate = 4800;
  port.SetConfig(cfg);
  t = SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), B4800);

  // A pseudo-terminal drops parity and data bits silently: refused, never
  // reported as set, and the port is left closed.
  EXPECT_EQ(CodeOf([&] {
              port.Open(kPort, 9600, CSerialPort::EvenParity, 7, CSerialPort::OneStopBit,
                        CSerialPort::NoFlowControl, 0);
            }),
            87u);
  EXPECT_FALSE(port.IsOpen());
  OpenDefault(port);
  port.GetState(d);
  d.Parity = ODDPARITY;
  EXPECT_EQ(CodeOf([&] { port.SetState(d); }), 87u);
  t = SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), B9600);  // the previous settings stay
}

TEST(SerialTermiosTest, DeviceControlBlockMapsOntoTermios) {
  namespace d = vkt::serial_io::detail;
  struct Case {
    BYTE parity, size, stop;
    tcflag_t set, clear;
  };
  const Case cases[] = {
      {EVENPARITY, 7, TWOSTOPBITS, PARENB | CS7 | CSTOPB, PARODD | CMSPAR},
      {ODDPARITY, 8, ONESTOPBIT, PARENB | PARODD | CS8, CMSPAR | CSTOPB},
      {MARKPARITY, 6, ONESTOPBIT, PARENB | PARODD | CMSPAR | CS6, CSTOPB},
      {SPACEPARITY, 5, ONESTOPBIT, PARENB | CMSPAR | CS5, PARODD},
      {NOPARITY, 8, ONESTOPBIT, CS8, PARENB},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.parity));
    DCB in = d::DefaultShadow();
    in.BaudRate = 38400;
    in.Parity = c.parity;
    in.ByteSize = c.size;
    in.StopBits = c.stop;
    ASSERT_TRUE(d::Representable(in));
    termios t{};
    d::MakeRaw(&t);
    d::TermiosFromDcb(in, &t);
    EXPECT_EQ(t.c_cflag & (c.set | CSIZE), c.set);
    EXPECT_EQ(t.c_cflag & c.clear & ~CSIZE, 0u);
    EXPECT_EQ(cfgetospeed(&t), B38400);
    DCB out = d::DcbFromTermios(t, d::DefaultShadow());
    EXPECT_EQ(out.Parity, c.parity);
    EXPECT_EQ(out.ByteSize, c.size);
    EXPECT_EQ(out.StopBits, c.stop);
    EXPECT_EQ(out.BaudRate, 38400u);
    EXPECT_TRUE(d::Carried(in, t));
    termios dropped = t;
    dropped.c_cflag &= ~(CSIZE | PARENB);
    dropped.c_cflag |= CS8;
    EXPECT_EQ(d::Carried(in, dropped), c.parity == NOPARITY && c.size == 8);
  }
}

TEST_F(SerialTest, OpenFailuresCarryWindowsCodesAndLeaveThePortClosed) {
  CSerialPort port(false);
  fake_.WriteProfileString("Settings", "COM8", dir_ + "/no-such-tty");
  EXPECT_EQ(CodeOf([&] {
              port.Open(8, 9600, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
                        CSerialPort::NoFlowControl, 0);
            }),
            2u);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(CodeOf([&] {
              port.Open(0, 9600, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
                        CSerialPort::NoFlowControl, 0);
            }),
            2u);
  // A file that is no terminal is no port.
  std::ofstream(dir_ + "/plain") << "x";
  fake_.WriteProfileString("Settings", "COM9", dir_ + "/plain");
  EXPECT_EQ(CodeOf([&] {
              port.Open(9, 9600, CSerialPort::NoParity, 8, CSerialPort::OneStopBit,
                        CSerialPort::NoFlowControl, 0);
            }),
            1u);
  EXPECT_FALSE(port.IsOpen());

  // No sharing: a second object is denied while the first holds the port...
  OpenDefault(port);
  CSerialPort other(false);
  EXPECT_EQ(CodeOf([&] { OpenDefault(other); }), 5u);
  EXPECT_FALSE(other.IsOpen());
  // ...and Open on an open object closes its own port first.
  EXPECT_NO_THROW(OpenDefault(port));
  port.Close();
  EXPECT_FALSE(port.IsOpen());
  EXPECT_NO_THROW(OpenDefault(other));

  // Calls on a closed port fail with the invalid-handle code.
  port.Close();
  char c;
  EXPECT_EQ(CodeOf([&] { port.Read(&c, 1); }), 6u);
}

TEST_F(SerialTest, ComNamesMapToConfiguredLinuxDevices) {
  vkt::TestServices fresh;
  vkt::ScopedServices use(&fresh);
  EXPECT_EQ(io::DeviceForName("\\\\.\\COM1"), "/dev/ttyS0");
  EXPECT_EQ(io::DeviceForName("com12"), "/dev/ttyS11");
  fresh.WriteProfileString("Settings", "SerialDevice", "/dev/ttyUSB%d");
  EXPECT_EQ(io::DeviceForName("\\\\.\\COM3"), "/dev/ttyUSB2");
  fresh.WriteProfileString("Settings", "COM3", "/dev/ttyACM0");
  EXPECT_EQ(io::DeviceForName("\\\\.\\COM3"), "/dev/ttyACM0");
  io::SetPortDevice(3, "/dev/pts/9");
  EXPECT_EQ(io::DeviceForName("COM3"), "/dev/pts/9");
  io::SetPortDevice(3, "");
  EXPECT_EQ(io::DeviceForName("COM3"), "/dev/ttyACM0");
  // The pattern is text, never a format: other conversions stay as written.
  fresh.WriteProfileString("Settings", "SerialDevice", "/dev/%s%n/tty");
  EXPECT_EQ(io::DeviceForName("COM2"), "/dev/%s%n/tty1");
  EXPECT_EQ(io::DeviceForName("COM0"), "");
  EXPECT_EQ(io::DeviceForName("\\\\.\\COMX"), "");
  EXPECT_EQ(io::DeviceForName("/dev/pts/4"), "/dev/pts/4");
}

TEST_F(SerialTest, ReadTimeoutsRunOnTheServicesClock) {
  CSerialPort port(false);
  OpenDefault(port);
  char buf[16];
  MasterWrite("ab");
  AwaitInput(port, 2);

  // Total: 10 ms a byte plus 100 ms, for 5 bytes: 150 ms of the seam's clock.
  COMMTIMEOUTS t{0, 10, 100, 0, 0};
  port.SetTimeouts(t);
  uint64_t before = fake_.slept_ms();
  EXPECT_EQ(port.Read(buf, 5), 2u);
  EXPECT_EQ(fake_.slept_ms() - before, 150u);
  EXPECT_EQ(std::string(buf, 2), "ab");

  // Interval: the wait after the last byte ends the read.
  MasterWrite("cd");
  AwaitInput(port, 2);
  t = {25, 0, 0, 0, 0};
  port.SetTimeouts(t);
  before = fake_.slept_ms();
  EXPECT_EQ(port.Read(buf, 10), 2u);
  EXPECT_EQ(fake_.slept_ms() - before, 25u);

  // MAXDWORD, MAXDWORD, constant: at once with data, else up to the constant.
  t = {MAXDWORD, MAXDWORD, 200, 0, 0};
  port.SetTimeouts(t);
  before = fake_.slept_ms();
  EXPECT_EQ(port.Read(buf, 10), 0u);
  EXPECT_EQ(fake_.slept_ms() - before, 200u);
  MasterWrite("e");
  AwaitInput(port, 1);
  before = fake_.slept_ms();
  EXPECT_EQ(port.Read(buf, 10), 1u);
  EXPECT_EQ(fake_.slept_ms() - before, 0u);

  // The zero presets: reads return at once; writes keep no limit.
  t = {1, 2, 3, 4, 5};
  port.SetTimeouts(t);
  port.Set0ReadTimeout();
  port.GetTimeouts(t);
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 4u);
  port.Set0WriteTimeout();
  port.GetTimeouts(t);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant, 0u);
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  t = {1, 2, 3, 4, 5};
  port.SetTimeouts(t);
  port.Set0Timeout();
  port.GetTimeouts(t);
  EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier + t.ReadTotalTimeoutConstant +
                t.WriteTotalTimeoutMultiplier + t.WriteTotalTimeoutConstant,
            0u);
  before = fake_.slept_ms();
  EXPECT_EQ(port.Read(buf, 10), 0u);
  EXPECT_EQ(fake_.slept_ms(), before);
}

TEST_F(SerialTest, RealClockReadTimeoutIsKeptShort) {
  vkt::SystemServices real;
  vkt::ScopedServices use(&real);
  real.SetProfilePath(dir_ + "/profile.ini");
  real.WriteProfileString("Settings", "COM7", slave_name_);
  CSerialPort port(false);
  OpenDefault(port);
  COMMTIMEOUTS t{0, 0, 40, 0, 0};
  port.SetTimeouts(t);
  char buf[4];
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(buf, 4), 0u);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, 40ms);
  EXPECT_LT(took, 1000ms);
  // A byte that arrives during the wait ends it early.
  std::thread peer([this] {
    std::this_thread::sleep_for(20ms);
    MasterWrite("Z");
  });
  t = {0, 0, 2000, 0, 0};
  port.SetTimeouts(t);
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(port.Read(buf, 1), 1u);
  peer.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
  EXPECT_EQ(buf[0], 'Z');
}

TEST_F(SerialTest, WriteTimeoutEndsAWriteNobodyReads) {
  CSerialPort port(false);
  OpenDefault(port);
  COMMTIMEOUTS t{0, 0, 0, 0, 50};
  port.SetTimeouts(t);
  std::vector<char> big(1 << 20, 'w');
  uint64_t before = fake_.slept_ms();
  DWORD n = port.Write(big.data(), static_cast<DWORD>(big.size()));
  EXPECT_GT(n, 0u);
  EXPECT_LT(n, big.size());
  EXPECT_EQ(fake_.slept_ms() - before, 50u);
}

TEST_F(SerialTest, DataWaitingAnswersWithinTheTimeoutAndRestoresTheMask) {
  for (int overlapped : {0, 1}) {
    SCOPED_TRACE(overlapped);
    CSerialPort port(false);
    OpenDefault(port, overlapped);
    port.SetMask(EV_TXEMPTY | EV_CTS);
    EXPECT_FALSE(port.DataWaiting(0));
    DWORD mask = 0;
    port.GetMask(mask);
    EXPECT_EQ(mask, EV_TXEMPTY | EV_CTS);

    // No endless wait, even on a port opened without overlapped I/O.
    uint64_t before = fake_.slept_ms();
    EXPECT_FALSE(port.DataWaiting(500));
    EXPECT_EQ(fake_.slept_ms() - before, 500u);

    MasterWrite("k");
    AwaitInput(port, 1);
    EXPECT_TRUE(port.DataWaiting(0));
    port.GetMask(mask);
    EXPECT_EQ(mask, EV_TXEMPTY | EV_CTS);
    port.ClearReadBuffer();
    EXPECT_EQ(port.BytesWaiting(), 0u);
  }
}

TEST_F(SerialTest, EventMasksAndWaits) {
  CSerialPort port(false);
  OpenDefault(port, 1);
  EXPECT_EQ(CodeOf([&] { port.SetMask(EV_RXFLAG); }), 87u);  // cannot be detected here
  DWORD events = 0;
  EXPECT_EQ(CodeOf([&] { port.WaitEvent(events); }), 87u);  // no mask set

  port.SetMask(EV_RXCHAR | EV_TXEMPTY);
  port.Write("t", 1);
  port.WaitEvent(events);
  EXPECT_EQ(events, EV_TXEMPTY);

  // An overlapped wait runs on until an event, and setting the mask ends it
  // with none.
  HANDLE ev = io::CreateEvent(true, false);
  OVERLAPPED ov{};
  ov.hEvent = ev;
  events = 123;
  EXPECT_FALSE(port.WaitEvent(events, ov));
  EXPECT_EQ(io::WaitForEvent(ev, 30), WAIT_TIMEOUT);
  MasterWrite("r");
  EXPECT_EQ(io::WaitForEvent(ev, INFINITE), WAIT_OBJECT_0);
  DWORD bytes;
  EXPECT_TRUE(port.GetOverlappedResult(ov, bytes, FALSE));
  EXPECT_EQ(events, EV_RXCHAR);
  port.ClearReadBuffer();

  events = 123;
  EXPECT_FALSE(port.WaitEvent(events, ov));
  port.SetMask(EV_RXCHAR);
  EXPECT_TRUE(port.GetOverlappedResult(ov, bytes, FALSE));
  EXPECT_EQ(events, 0u);
  io::CloseEvent(ev);
}

TEST_F(SerialTest, PortWhoseFarEndGoesAwayThrowsDeviceNotConnected) {
  CSerialPort port(false);
  OpenDefault(port, 1);
  close(master_);
  master_ = -1;
  char buf[4];
  EXPECT_EQ(CodeOf([&] { port.Read(buf, 4); }), 1167u);
  EXPECT_EQ(CodeOf([&] { port.Write("x", 1); }), 1167u);
  EXPECT_EQ(CodeOf([&] { port.BytesWaiting(); }), 1167u);
  port.SetMask(EV_CTS);
  EXPECT_EQ(CodeOf([&] { port.DataWaiting(100); }), 1167u);
  DWORD mask = 0;
  port.GetMask(mask);
  EXPECT_EQ(mask, static_cast<DWORD>(EV_CTS));
  OVERLAPPED ov{};
  EXPECT_EQ(CodeOf([&] { port.Read(buf, 4, ov); }), 1167u);
  port.Close();
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialTest, OverlappedTransfersCompleteLaterOrAtOnce) {
  CSerialPort port(true);
  OpenDefault(port, 1);
  char buf[8] = {};
  OVERLAPPED ov{};
  DWORD bytes = 99;
  EXPECT_FALSE(port.Read(buf, 5, ov, &bytes));  // nothing there yet
  EXPECT_FALSE(port.GetOverlappedResult(ov, bytes, FALSE));
  MasterWrite("hello");
  EXPECT_TRUE(port.GetOverlappedResult(ov, bytes, TRUE));
  EXPECT_EQ(bytes, 5u);
  EXPECT_EQ(std::string(buf, 5), "hello");

  // Done at once: true, the count through the pointer, the bytes logged.
  MasterWrite("OK");
  AwaitInput(port, 2);
  bytes = 0;
  EXPECT_TRUE(port.Read(buf, 2, ov, &bytes));
  EXPECT_EQ(bytes, 2u);
  EXPECT_TRUE(port.Write("go", 2, ov, &bytes));
  EXPECT_EQ(bytes, 2u);
  EXPECT_EQ(MasterRead(2), "go");
  std::string log = LogText();
  EXPECT_NE(log.find(" IN  <- OK\r\n"), std::string::npos);
  EXPECT_NE(log.find(" OUT -> go\r\n"), std::string::npos);
  EXPECT_EQ(log.find("hello"), std::string::npos);  // completed later: not logged

  // Cancelled transfers end with 995.
  EXPECT_FALSE(port.Read(buf, 4, ov, &bytes));
  port.CancelIo();
  EXPECT_EQ(CodeOf([&] { port.GetOverlappedResult(ov, bytes, TRUE); }), 995u);
  EXPECT_FALSE(port.Read(buf, 4, ov, &bytes));
  port.TerminateOutstandingReads();
  EXPECT_EQ(CodeOf([&] { port.GetOverlappedResult(ov, bytes, FALSE); }), 995u);
}

TEST_F(SerialTest, CancelIoWithoutTheSystemEntryThrows120) {
  io::testing::HideEntry("CancelIo");
  CSerialPort port(false);
  OpenDefault(port, 1);
  EXPECT_EQ(CodeOf([&] { port.CancelIo(); }), 120u);
}

class RecordingPort : public CSerialPort {
 public:
  RecordingPort() : CSerialPort(true) {}
  std::vector<std::pair<DWORD, DWORD>> done;

 protected:
  void OnCompletion(DWORD error, DWORD bytes, OVERLAPPED* overlapped) override {
    done.emplace_back(error, bytes);
    CSerialPort::OnCompletion(error, bytes, overlapped);
  }
};

TEST_F(SerialTest, CompletionRoutinesRunOnlyInAnAlertableWait) {
  RecordingPort port;
  OpenDefault(port, 1);
  port.WriteEx("ping", 4);
  EXPECT_TRUE(port.done.empty());
  EXPECT_EQ(io::SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(port.done.size(), 1u);
  EXPECT_EQ(port.done[0], std::make_pair(DWORD{0}, DWORD{4}));
  EXPECT_EQ(MasterRead(4), "ping");
  // WriteEx logs the data and a line end, without a time prefix.
  EXPECT_EQ(LogText(), "ping\r\n");

  char buf[8];
  port.ReadEx(buf, 3);
  EXPECT_EQ(io::SleepEx(10, TRUE), 0u);
  MasterWrite("xyz");
  EXPECT_EQ(io::SleepEx(INFINITE, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(port.done.size(), 2u);
  EXPECT_EQ(port.done[1], std::make_pair(DWORD{0}, DWORD{3}));
  EXPECT_EQ(std::string(buf, 3), "xyz");
  EXPECT_EQ(LogText(), "ping\r\n");  // ReadEx logs nothing

  // Closing aborts a transfer still running: 995 at the next alertable wait.
  port.ReadEx(buf, 3);
  port.Close();
  EXPECT_EQ(io::SleepEx(0, TRUE), WAIT_IO_COMPLETION);
  ASSERT_EQ(port.done.size(), 3u);
  EXPECT_EQ(port.done[2].first, 995u);

  // Without overlapped I/O the routines have nowhere to run.
  CSerialPort plain(false);
  OpenDefault(plain, 0);
  EXPECT_EQ(CodeOf([&] { plain.ReadEx(buf, 1); }), 87u);
}

TEST_F(SerialTest, CompletionsOfAPortDestroyedFirstAreDropped) {
  {
    RecordingPort port;
    OpenDefault(port, 1);
    port.WriteEx("bye", 3);
    char buf[4];
    port.ReadEx(buf, 4);
  }
  // Nothing left to call into the destroyed object (ASan would see it).
  EXPECT_EQ(io::SleepEx(0, TRUE), 0u);
  EXPECT_EQ(MasterRead(3), "bye");
}

TEST_F(SerialTest, AttachAndDetachHandTheHandleOver) {
  CSerialPort a(false);
  OpenDefault(a);
  HANDLE h = a.Detach();
  EXPECT_FALSE(a.IsOpen());
  EXPECT_TRUE(io::IsPort(h));
  CSerialPort b(false);
  b.Attach(h);
  EXPECT_TRUE(b.IsOpen());
  EXPECT_EQ(static_cast<HANDLE>(b), h);
  EXPECT_EQ(b.Write("via b", 5), 5u);
  EXPECT_EQ(MasterRead(5), "via b");
  // A data-waiting check needs the event Attach made.
  EXPECT_FALSE(b.DataWaiting(0));
}

TEST_F(SerialTest, DefaultConfigIsWhatTheTerminalKeeps) {
  CSerialPort port(false);
  port.Open(kPort, 2400, CSerialPort::NoParity, 8, CSerialPort::TwoStopBits,
            CSerialPort::NoFlowControl, 0);
  port.Close();
  COMMCONFIG cfg;
  CSerialPort::GetDefaultConfig(kPort, cfg);
  EXPECT_EQ(cfg.dwSize, 52u);
  EXPECT_EQ(cfg.dcb.BaudRate, 2400u);
  EXPECT_EQ(cfg.dcb.StopBits, TWOSTOPBITS);
  cfg.dcb.BaudRate = 57600;
  CSerialPort::SetDefaultConfig(kPort, cfg);
  termios t = SlaveTermios();
  EXPECT_EQ(cfgetospeed(&t), B57600);
  cfg.dcb.StopBits = ONE5STOPBITS;
  EXPECT_EQ(CodeOf([&] { CSerialPort::SetDefaultConfig(kPort, cfg); }), 87u);
  EXPECT_EQ(CodeOf([&] { CSerialPort::GetDefaultConfig(0, cfg); }), 2u);
}

TEST_F(SerialTest, StatusQueuesPurgeAndProperties) {
  CSerialPort port(false);
  OpenDefault(port);
  MasterWrite("abc");
  AwaitInput(port, 3);
  COMSTAT st;
  port.GetStatus(st);
  EXPECT_EQ(st.cbInQue, 3u);
  DWORD errors = 77;
  port.ClearError(errors);
  EXPECT_EQ(errors, 0u);
  port.Purge(PURGE_RXCLEAR);
  EXPECT_EQ(port.BytesWaiting(), 0u);
  EXPECT_EQ(CodeOf([&] { port.Purge(0x10); }), 87u);
  port.Setup(8192, 1024);
  COMMPROP prop;
  port.GetProperties(prop);
  EXPECT_EQ(prop.dwCurrentRxQueue, 8192u);
  EXPECT_EQ(prop.dwCurrentTxQueue, 1024u);
  EXPECT_EQ(prop.dwProvSubType, PST_RS232);
  EXPECT_EQ(CodeOf([&] { port.Escape(77); }), 87u);
  // A pseudo-terminal has no modem lines: the call says so.
  DWORD modem;
  EXPECT_EQ(CodeOf([&] { port.GetModemStatus(modem); }), 1u);
  EXPECT_NO_THROW(port.Flush());
}

TEST(SerialExceptionTest, MessagesAreTerminatedWhenTruncated) {
  CSerialException e(2);
  char buf[64];
  unsigned help = 9;
  ASSERT_TRUE(e.GetErrorMessage(buf, sizeof buf, &help));
  EXPECT_EQ(help, 0u);
  EXPECT_STREQ(buf, "Impossibile trovare il file specificato.\r\n");
  std::memset(buf, 'X', sizeof buf);
  ASSERT_TRUE(e.GetErrorMessage(buf, 8));
  EXPECT_STREQ(buf, "Impossi");
  EXPECT_EQ(buf[8], 'X');  // nothing past the size
  EXPECT_EQ(e.GetErrorMessage(), CString("Impossibile trovare il file specificato.\r\n"));
  EXPECT_STREQ(CSerialException(1167).what(), "Il dispositivo non \xE8 connesso.");

  CSerialException unknown(123456);
  std::memset(buf, 'X', sizeof buf);
  EXPECT_FALSE(unknown.GetErrorMessage(buf, sizeof buf));
  EXPECT_STREQ(buf, "");
  EXPECT_TRUE(unknown.GetErrorMessage().IsEmpty());

  io::SetLastError(1167);
  EXPECT_EQ(CodeOf([] { CSerialPort::ThrowSerialException(0); }), 1167u);
  EXPECT_EQ(CodeOf([] { CSerialPort::ThrowSerialException(5); }), 5u);
}

TEST(SerialErrnoTest, SystemErrorsMapToWindowsCodes) {
  EXPECT_EQ(io::WinErrorFromErrno(ENOENT), 2u);
  EXPECT_EQ(io::WinErrorFromErrno(EACCES), 5u);
  EXPECT_EQ(io::WinErrorFromErrno(EBUSY), 5u);
  EXPECT_EQ(io::WinErrorFromErrno(EPERM), 5u);
  EXPECT_EQ(io::WinErrorFromErrno(EIO), 1167u);
  EXPECT_EQ(io::WinErrorFromErrno(ENXIO), 1167u);
  EXPECT_EQ(io::WinErrorFromErrno(ENODEV), 1167u);
  EXPECT_EQ(io::WinErrorFromErrno(EBADF), 6u);
  EXPECT_EQ(io::WinErrorFromErrno(EINVAL), 87u);
  EXPECT_EQ(io::WinErrorFromErrno(ENOTTY), 1u);
  EXPECT_EQ(io::WinErrorFromErrno(EMFILE), 4u);
  EXPECT_EQ(io::WinErrorFromErrno(ENOMEM), 8u);
  EXPECT_EQ(io::WinErrorFromErrno(ETIMEDOUT), 1460u);
  EXPECT_EQ(io::WinErrorFromErrno(EROFS), 31u);
}

}  // namespace
