// The serial port over real pseudo-terminals, reached as COM12 through a temporary device map.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com_map.h"
#include "platform/serial_port.h"

namespace cabrix::platform {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal whose slave is COM12 in a device map under a fresh XDG_CONFIG_HOME. The
// master end plays the controller.
class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cabrix-serial-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_config = tmpl;
    fs::create_directories(m_config / "cabrix" / "dosdevices");
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", m_config.c_str(), 1), 0);
    char name[256] = {};
    ASSERT_EQ(::openpty(&m_master, &m_slave, name, nullptr, nullptr), 0);
    m_slaveName = name;
    fs::create_symlink(m_slaveName, Link(12));
  }
  void TearDown() override {
    if (m_master >= 0) ::close(m_master);
    if (m_slave >= 0) ::close(m_slave);
    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(m_config);
  }
  fs::path Link(int n) const { return m_config / "cabrix" / "dosdevices" / ("com" + std::to_string(n)); }

  void OpenConfigured(SerialPort& port, const SerialTimeouts& t) {
    ASSERT_TRUE(port.Open(12));
    ASSERT_EQ(port.Configure(t), SerialConfigResult::kOk);
  }
  void MasterWrite(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // Reads from the master until `count` bytes are in or a second passes without any.
  std::vector<std::uint8_t> MasterRead(std::size_t count) {
    std::vector<std::uint8_t> out;
    std::uint8_t buf[4096];
    while (out.size() < count) {
      pollfd p{m_master, POLLIN, 0};
      if (::poll(&p, 1, 1000) <= 0) break;
      const ssize_t n = ::read(m_master, buf, sizeof buf);
      if (n <= 0) break;
      out.insert(out.end(), buf, buf + n);
    }
    return out;
  }

  fs::path m_config;
  std::string m_slaveName;
  int m_master = -1;
  int m_slave = -1;
};

TEST_F(SerialPortTest, ResolvesThroughTheMapThenTtyS) {
  EXPECT_EQ(ResolveComDevice(12), Link(12).string());
  EXPECT_EQ(ResolveComDevice(3), "/dev/ttyS2");
  EXPECT_EQ(ResolveComDevice(0), std::nullopt);
  EXPECT_EQ(ResolveComDevice(-1), std::nullopt);
  // Without XDG_CONFIG_HOME (or with it empty) the map lives under $HOME/.config.
  ::setenv("XDG_CONFIG_HOME", "", 1);
  const std::string home = ::getenv("HOME") ? ::getenv("HOME") : "";
  ::setenv("HOME", m_config.c_str(), 1);
  fs::create_directories(m_config / ".config" / "cabrix" / "dosdevices");
  fs::create_symlink(m_slaveName, m_config / ".config" / "cabrix" / "dosdevices" / "com5");
  EXPECT_EQ(ResolveComDevice(5), (m_config / ".config/cabrix/dosdevices/com5").string());
  ::setenv("HOME", home.c_str(), 1);
}

TEST_F(SerialPortTest, OpensExclusivelyAndFreesThePortOnClose) {
  SerialPort first;
  ASSERT_TRUE(first.Open(12));
  SerialPort second;
  EXPECT_FALSE(second.Open(12));  // held: fails even for root, through the lock
  EXPECT_FALSE(second.IsOpen());

  SerialPort moved(std::move(first));
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_FALSE(first.IsOpen());  // NOLINT(bugprone-use-after-move)
  moved.Close();
  EXPECT_TRUE(second.Open(12));
  second.Close();
  // The exclusive flag that the open set is gone again, so that anyone may open the tty.
  const int fd = ::open(m_slaveName.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  int excl = -1;
  ASSERT_EQ(::ioctl(fd, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0);
  ::close(fd);
}

TEST_F(SerialPortTest, PortsThatNameNoDeviceFailToOpen) {
  fs::create_symlink(m_config / "nowhere", Link(7));
  SerialPort port;
  EXPECT_FALSE(port.Open(7));  // dangling link, not /dev/ttyS6
  EXPECT_FALSE(port.Open(0));
  EXPECT_FALSE(port.Open(-3));
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(SerialPortTest, ConfigureSetsRaw115200_8N1AndKeepsFlowControl) {
  for (const bool rtscts : {true, false}) {
    termios before{};
    ASSERT_EQ(::tcgetattr(m_slave, &before), 0);
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_cflag = rtscts ? (before.c_cflag | CRTSCTS) : (before.c_cflag & ~CRTSCTS);
    before.c_cflag |= PARENB | CSTOPB;
    ::cfsetspeed(&before, B9600);
    ASSERT_EQ(::tcsetattr(m_slave, TCSANOW, &before), 0);

    SerialPort port;
    OpenConfigured(port, SerialTimeouts{});
    termios after{};
    ASSERT_EQ(::tcgetattr(m_slave, &after), 0);
    EXPECT_EQ(after.c_cflag & CRTSCTS, rtscts ? CRTSCTS : 0u);
    EXPECT_EQ(after.c_cflag & CLOCAL, before.c_cflag & CLOCAL);
    EXPECT_EQ(after.c_iflag & (IXON | IXOFF | IXANY | ICRNL), 0u);
    EXPECT_EQ(after.c_lflag & (ECHO | ICANON | ISIG), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);
    EXPECT_EQ(after.c_cflag & (CSIZE | PARENB | CSTOPB), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B115200));
    EXPECT_EQ(::cfgetispeed(&after), static_cast<speed_t>(B115200));
  }
}

TEST_F(SerialPortTest, ControlBytesPassUnchangedBothWays) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{200, 20, 2000, 1, 1000});
  const std::vector<std::uint8_t> bytes{0x11, 0x13, 0x0D, 0x0A, 0x03, 0x1A, 0x7F, 0xFF, 0x04};
  MasterWrite(bytes);
  std::vector<std::uint8_t> in(bytes.size());
  const IoResult r = port.Read(in);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.count, bytes.size());
  EXPECT_EQ(in, bytes);

  const IoResult w = port.Write(bytes);
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.count, bytes.size());
  EXPECT_EQ(MasterRead(bytes.size()), bytes);
}

TEST_F(SerialPortTest, ReadEndsAtTheIntervalAfterTheLastByte) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{200, 20, 2000, 1, 5000});
  MasterWrite({1, 2, 3});
  std::vector<std::uint8_t> in(128);
  const auto start = Clock::now();
  const IoResult r = port.Read(in);
  const auto elapsed = MsSince(start);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 3u);
  EXPECT_GE(elapsed, 190);
  EXPECT_LT(elapsed, 2000);  // far below the 4560 ms total
}

TEST_F(SerialPortTest, IntervalRunsOnlyOnceTheFirstByteIsIn) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{50, 0, 3000, 0, 0});
  // The first bytes come late, the rest within the interval of them: one read takes all 8.
  std::thread peer([this] {
    std::this_thread::sleep_for(milliseconds(150));
    MasterWrite({1, 2, 3, 4});
    std::this_thread::sleep_for(milliseconds(10));
    MasterWrite({5, 6, 7, 8});
  });
  std::vector<std::uint8_t> in(8);
  const IoResult r = port.Read(in);
  peer.join();
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 8u);
  EXPECT_EQ(in, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(SerialPortTest, SilentLineEndsAtTheTotalWithNothing) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{200, 5, 100, 1, 5000});
  std::vector<std::uint8_t> in(10);
  const auto start = Clock::now();
  const IoResult r = port.Read(in);
  const auto elapsed = MsSince(start);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(elapsed, 145);  // 10 * 5 + 100
  EXPECT_LT(elapsed, 1500);
}

TEST_F(SerialPortTest, AtMostIntervalWithZeroTotalsReturnsAtOnce) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{0xFFFFFFFF, 0, 0, 0, 0});
  std::vector<std::uint8_t> in(16);
  const auto start = Clock::now();
  const IoResult r = port.Read(in);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_LT(MsSince(start), 100);
}

TEST_F(SerialPortTest, ReadWithinTakesWhatIsThereOrWaitsOnlyAsLongAsAsked) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{200, 20, 5000, 1, 5000});
  std::vector<std::uint8_t> in(16);
  auto start = Clock::now();
  IoResult r = port.ReadWithin(in, milliseconds(0));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_LT(MsSince(start), 100);
  start = Clock::now();
  r = port.ReadWithin(in, milliseconds(150));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_GE(MsSince(start), 145);
  EXPECT_LT(MsSince(start), 3000);  // not the 16 * 20 + 5000 ms of a read
  MasterWrite({1, 2, 3});
  pollfd p{m_slave, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  r = port.ReadWithin(in, milliseconds(0));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 3u);
}

TEST_F(SerialPortTest, PurgeDropsPendingInput) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{50, 0, 100, 0, 0});
  MasterWrite({9, 9, 9});
  pollfd p{m_slave, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);  // the bytes have reached the port's input queue
  EXPECT_TRUE(port.Purge());
  std::vector<std::uint8_t> in(3);
  const IoResult r = port.Read(in);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
}

TEST_F(SerialPortTest, WriteThatCannotFinishReturnsAShortCountAtItsTotal) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{0, 0, 0, 0, 150});
  // Nobody reads the master: its queue fills, and the rest waits for the write total.
  const std::vector<std::uint8_t> data(1 << 20, 0x55);
  const auto start = Clock::now();
  const IoResult w = port.Write(data);
  const auto elapsed = MsSince(start);
  EXPECT_TRUE(w.ok);
  EXPECT_GT(w.count, 0u);
  EXPECT_LT(w.count, data.size());
  EXPECT_GE(elapsed, 145);
  EXPECT_LT(elapsed, 1500);
}

TEST_F(SerialPortTest, ReadFailsWhenTheOtherEndGoes) {
  SerialPort port;
  OpenConfigured(port, SerialTimeouts{200, 20, 2000, 1, 5000});
  ::close(m_master);
  m_master = -1;
  std::vector<std::uint8_t> in(8);
  const auto start = Clock::now();
  const IoResult r = port.Read(in);
  EXPECT_FALSE(r.ok);
  EXPECT_LT(MsSince(start), 1000);  // no wait for the total, no spinning until it
}

}  // namespace
}  // namespace cabrix::platform
