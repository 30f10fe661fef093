// The serial port on Windows, run under Wine against two COM ports whose devices are joined to
// each other (CABRIX_WINE_COM_PAIR="<a>,<b>", set up by scripts/wine-test.sh): what one port
// writes, the other reads.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/serial_port.h"

namespace cabrix::platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// The system's code for the call that just failed, for the failure message.
std::string LastError() { return "GetLastError " + std::to_string(GetLastError()); }

bool RunningUnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

class SerialPortWin : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* pair = std::getenv("CABRIX_WINE_COM_PAIR");
    if (pair == nullptr || std::sscanf(pair, "%d,%d", &m_a, &m_b) != 2) {
      GTEST_SKIP() << "needs CABRIX_WINE_COM_PAIR with two joined COM ports (scripts/wine-test.sh)";
    }
    ASSERT_TRUE(m_portA.Open(m_a));
    ASSERT_TRUE(m_portB.Open(m_b));
    ASSERT_EQ(m_portA.Configure(kQuick), SerialConfigResult::kOk);
    ASSERT_EQ(m_portB.Configure(kQuick), SerialConfigResult::kOk);
    m_portA.Purge();
    m_portB.Purge();
  }

  static void Send(SerialPort& port, std::vector<std::uint8_t> bytes) {
    const IoResult r = port.Write(bytes);
    ASSERT_TRUE(r.ok) << LastError();
    ASSERT_EQ(r.count, bytes.size());
  }

  // Short time-outs so that waiting tests stay quick: interval 100 ms, read total 2 ms per byte
  // plus 300 ms.
  static constexpr SerialTimeouts kQuick{100, 2, 300, 1, 2000};

  int m_a = 0;
  int m_b = 0;
  SerialPort m_portA;
  SerialPort m_portB;
};

TEST_F(SerialPortWin, PortIsExclusiveUntilClosed) {
  // Windows refuses a second open of a port (share mode 0). Wine opens the device again; only a
  // Unix holder that takes the terminal exclusively (TIOCEXCL) keeps Wine out.
  if (RunningUnderWine()) GTEST_SKIP() << "Wine does not keep serial ports exclusive";
  SerialPort second;
  EXPECT_FALSE(second.Open(m_a));
  EXPECT_FALSE(second.IsOpen());
  m_portA.Close();
  EXPECT_TRUE(second.Open(m_a));
}

TEST_F(SerialPortWin, PortsThatNameNoDeviceDoNotOpen) {
  SerialPort port;
  EXPECT_FALSE(port.Open(0));
  EXPECT_FALSE(port.Open(-1));
  EXPECT_FALSE(port.Open(250));  // no device linked to COM250
  int dangling = 0;
  const char* v = std::getenv("CABRIX_WINE_COM_DANGLING");
  if (v != nullptr && std::sscanf(v, "%d", &dangling) == 1) {
    EXPECT_FALSE(port.Open(dangling)) << "COM" << dangling << " links to nothing";
  }
  EXPECT_FALSE(port.IsOpen());
  std::array<std::uint8_t, 4> buffer{};
  EXPECT_FALSE(port.Read(buffer).ok);
  EXPECT_FALSE(port.Write(buffer).ok);
  EXPECT_FALSE(port.Purge());
}

TEST_F(SerialPortWin, ConfigureChangesOnlyTheLineSettings) {
  // Give the port other settings first, through a handle of the test's own.
  m_portA.Close();
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", m_a);
  const HANDLE raw = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
  ASSERT_NE(raw, INVALID_HANDLE_VALUE);
  DCB before{};
  before.DCBlength = sizeof before;
  ASSERT_TRUE(GetCommState(raw, &before));
  before.BaudRate = CBR_9600;
  before.ByteSize = 7;
  before.Parity = EVENPARITY;
  before.StopBits = TWOSTOPBITS;
  before.fOutxCtsFlow = TRUE;
  before.fRtsControl = RTS_CONTROL_HANDSHAKE;
  ASSERT_TRUE(SetCommState(raw, &before));
  ASSERT_TRUE(GetCommState(raw, &before));
  CloseHandle(raw);
  ASSERT_EQ(before.BaudRate, static_cast<DWORD>(CBR_9600));
  ASSERT_TRUE(before.fOutxCtsFlow);

  ASSERT_TRUE(m_portA.Open(m_a));
  ASSERT_EQ(m_portA.Configure(kQuick), SerialConfigResult::kOk);
  m_portA.Close();

  const HANDLE again = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   0, nullptr);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  DCB after{};
  after.DCBlength = sizeof after;
  ASSERT_TRUE(GetCommState(again, &after));
  CloseHandle(again);

  EXPECT_EQ(after.BaudRate, 115200u);
  EXPECT_EQ(after.ByteSize, 8);
  EXPECT_EQ(after.Parity, NOPARITY);
  EXPECT_EQ(after.StopBits, ONESTOPBIT);
  EXPECT_EQ(after.fOutxCtsFlow, before.fOutxCtsFlow);
  EXPECT_EQ(after.fRtsControl, before.fRtsControl);
  EXPECT_EQ(after.fOutX, before.fOutX);
  EXPECT_EQ(after.fInX, before.fInX);
}

TEST_F(SerialPortWin, BytesPassBothWaysUnchanged) {
  // Every byte value, the XON/XOFF and CR/LF bytes among them, crosses untouched.
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  Send(m_portA, all);
  std::vector<std::uint8_t> got;
  std::array<std::uint8_t, 128> buffer{};
  const auto start = Clock::now();
  while (got.size() < all.size() && Since(start) < milliseconds(10000)) {
    const IoResult r = m_portB.Read(buffer);
    ASSERT_TRUE(r.ok) << LastError();
    got.insert(got.end(), buffer.begin(), buffer.begin() + r.count);
  }
  EXPECT_EQ(got, all);

  Send(m_portB, {0xAA, 0xAA, 0x01, 0x00});
  std::array<std::uint8_t, 4> back{};
  std::size_t in = 0;
  while (in < back.size() && Since(start) < milliseconds(10000)) {
    const IoResult r = m_portA.Read(std::span(back).subspan(in));
    ASSERT_TRUE(r.ok) << LastError();
    in += r.count;
  }
  EXPECT_EQ(back, (std::array<std::uint8_t, 4>{0xAA, 0xAA, 0x01, 0x00}));
}

TEST_F(SerialPortWin, ReadWithNothingArrivingEndsAfterTheTotal) {
  std::array<std::uint8_t, 8> buffer{};
  const auto start = Clock::now();
  const IoResult r = m_portB.Read(buffer);
  const milliseconds took = Since(start);
  EXPECT_TRUE(r.ok) << LastError();
  EXPECT_EQ(r.count, 0u);
  // 8 * 2 + 300 ms; generous above, since the machine may be busy.
  EXPECT_GE(took, milliseconds(250));
  EXPECT_LT(took, milliseconds(5000));
}

TEST_F(SerialPortWin, ReadEndsSoonAfterTheLastByteOfAShortBurst) {
  ASSERT_EQ(m_portB.Configure({100, 20, 5000, 1, 2000}), SerialConfigResult::kOk);
  Send(m_portA, {1, 2, 3});
  std::array<std::uint8_t, 128> buffer{};
  const auto start = Clock::now();
  const IoResult r = m_portB.Read(buffer);
  const milliseconds took = Since(start);
  ASSERT_TRUE(r.ok) << LastError();
  EXPECT_EQ(r.count, 3u);
  EXPECT_EQ(buffer[0], 1);
  EXPECT_EQ(buffer[2], 3);
  // The interval ends the read, long before the 128 * 20 + 5000 ms total.
  EXPECT_LT(took, milliseconds(4000));
}

TEST_F(SerialPortWin, ReadWithinTakesWhatIsThereOrWaitsOnlyAsLongAsAsked) {
  std::array<std::uint8_t, 8> buffer{};
  IoResult r = m_portB.ReadWithin(buffer, milliseconds(0));
  EXPECT_TRUE(r.ok) << LastError();
  EXPECT_EQ(r.count, 0u);
  Send(m_portA, {4, 5, 6});
  r = m_portB.ReadWithin(buffer, milliseconds(5000));
  ASSERT_TRUE(r.ok) << LastError();
  ASSERT_GE(r.count, 1u);
  EXPECT_EQ(buffer[0], 4);
  // The port's own time-outs stay as they were: a read with nothing arriving ends at its total
  // of 8 * 2 + 300 ms, not after the 5 s just asked for.
  m_portB.Purge();
  const auto start = Clock::now();
  r = m_portB.Read(buffer);
  EXPECT_TRUE(r.ok) << LastError();
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(Since(start), milliseconds(250));
  EXPECT_LT(Since(start), milliseconds(4000));
}

TEST_F(SerialPortWin, PurgeDropsWhatWasReceived) {
  Send(m_portA, {7, 8, 9});
  std::array<std::uint8_t, 1> first{};
  IoResult r = m_portB.Read(first);
  ASSERT_TRUE(r.ok) << LastError();
  ASSERT_EQ(r.count, 1u);
  EXPECT_TRUE(m_portB.Purge());
  std::array<std::uint8_t, 8> rest{};
  r = m_portB.Read(rest);
  EXPECT_TRUE(r.ok) << LastError();
  EXPECT_EQ(r.count, 0u);
}

TEST_F(SerialPortWin, WriteThatCannotFinishEndsAtItsTotal) {
  // Nobody reads port B, so the line fills up and the write runs out of time part-way.
  ASSERT_EQ(m_portA.Configure({100, 2, 300, 0, 300}), SerialConfigResult::kOk);
  const std::vector<std::uint8_t> big(1 << 20, 0x41);
  const auto start = Clock::now();
  const IoResult r = m_portA.Write(big);
  const milliseconds took = Since(start);
  EXPECT_TRUE(r.ok) << LastError();
  EXPECT_LT(r.count, big.size());
  EXPECT_GE(took, milliseconds(250));
  EXPECT_LT(took, milliseconds(5000));
}

TEST_F(SerialPortWin, MovedPortKeepsTheDevice) {
  SerialPort moved(std::move(m_portA));
  EXPECT_TRUE(moved.IsOpen());
  Send(moved, {5});
  std::array<std::uint8_t, 1> got{};
  const IoResult r = m_portB.Read(got);
  EXPECT_TRUE(r.ok) << LastError();
  EXPECT_EQ(r.count, 1u);
  moved = SerialPort();  // closes the device
  SerialPort again;
  EXPECT_TRUE(again.Open(m_a));
}

}  // namespace
}  // namespace cabrix::platform
