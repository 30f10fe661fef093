#include "pc_channels.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "link/link_error.h"

namespace plcsim::testing {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int MsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

class FdChannel : public PcChannel {
 public:
  explicit FdChannel(int fd) : m_fd(fd) {}
  ~FdChannel() override { ::close(m_fd); }
  void Write(std::span<const std::uint8_t> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == ENOTSOCK) {
        const ssize_t w = ::write(m_fd, data.data() + done, data.size() - done);
        if (w <= 0) throw cabrix::CLinkError(cabrix::kLinkCallFailed);
        done += static_cast<std::size_t>(w);
        continue;
      }
      if (n <= 0) throw cabrix::CLinkError(cabrix::kLinkCallFailed);
      done += static_cast<std::size_t>(n);
    }
  }

 protected:
  // Waits for input until the deadline; false when none came.
  bool WaitInput(Clock::time_point deadline) {
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, MsLeft(deadline)) > 0;
  }
  int m_fd;
};

class TcpChannel : public FdChannel {
 public:
  TcpChannel(int fd, milliseconds timeout) : FdChannel(fd), m_timeout(timeout) {}
  std::size_t Read(std::span<std::uint8_t> buffer) override {
    if (!WaitInput(Clock::now() + m_timeout)) throw cabrix::CLinkError(cabrix::kLinkNoData);
    const ssize_t n = ::recv(m_fd, buffer.data(), buffer.size(), 0);
    if (n < 0) throw cabrix::CLinkError(cabrix::kLinkCallFailed);
    if (n == 0) throw cabrix::CLinkError(cabrix::kLinkNoData);
    return static_cast<std::size_t>(n);
  }

 private:
  milliseconds m_timeout;
};

class SerialChannel : public FdChannel {
 public:
  SerialChannel(int fd, milliseconds constant) : FdChannel(fd), m_constant(constant) {}
  std::size_t Read(std::span<std::uint8_t> buffer) override {
    const Clock::time_point deadline =
        Clock::now() + static_cast<long>(buffer.size()) * milliseconds(10) + m_constant;
    std::size_t got = 0;
    while (got < buffer.size()) {
      const Clock::time_point gapEnd = Clock::now() + milliseconds(200);
      const Clock::time_point until = got == 0 ? deadline : std::min(deadline, gapEnd);
      if (!WaitInput(until)) break;
      const ssize_t n = ::read(m_fd, buffer.data() + got, buffer.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw cabrix::CLinkError(cabrix::kLinkCallFailed);
      got += static_cast<std::size_t>(n);
    }
    if (got == 0) throw cabrix::CLinkError(cabrix::kLinkNoData);
    return got;
  }
  void Flush() override { ::tcflush(m_fd, TCIOFLUSH); }
  // What is still on its way (the rest of a frame that paused longer than the read interval)
  // is read and dropped until the line has been quiet for the interval, as the tool does.
  void DrainUntilQuiet() override {
    ::tcflush(m_fd, TCIOFLUSH);
    const Clock::time_point limit = Clock::now() + milliseconds(2000);
    std::uint8_t scratch[256];
    while (Clock::now() < limit && WaitInput(std::min(limit, Clock::now() + milliseconds(200)))) {
      const ssize_t n = ::read(m_fd, scratch, sizeof scratch);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
    }
  }

 private:
  milliseconds m_constant;
};

}  // namespace

std::unique_ptr<PcChannel> ConnectTcp(const std::string& address, std::uint16_t port,
                                      milliseconds timeout) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (fd < 0 || ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1 ||
      (sa.sin_addr.s_addr & htonl(0xFF000000)) != htonl(0x7F000000)) {
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("not a loopback address: " + address);
  }
  if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
    const std::string why = std::strerror(errno);
    ::close(fd);
    throw std::runtime_error("connect " + address + ": " + why);
  }
  return std::make_unique<TcpChannel>(fd, timeout);
}

std::unique_ptr<PcChannel> OpenSerial(const std::string& path, milliseconds constant) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("open " + path + ": " + std::strerror(errno));
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  ::tcsetattr(fd, TCSANOW, &tio);
  ::tcflush(fd, TCIOFLUSH);
  return std::make_unique<SerialChannel>(fd, constant);
}

}  // namespace plcsim::testing
