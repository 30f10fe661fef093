#include "ceiling.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

class Fd {
 public:
  explicit Fd(int fd = -1) : m_fd(fd) {}
  Fd(Fd&& o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    if (this != &o) {
      if (m_fd >= 0) ::close(m_fd);
      m_fd = std::exchange(o.m_fd, -1);
    }
    return *this;
  }
  ~Fd() {
    if (m_fd >= 0) ::close(m_fd);
  }
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

void NoDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Reads exactly `n` bytes, each wait bounded by `deadline`. False on end, error or time-out.
bool ReadFull(int fd, std::uint8_t* buf, std::size_t n, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < n) {
    pollfd p{fd, POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const int r = ::poll(&p, 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    const ssize_t got = ::recv(fd, buf + done, n - done, MSG_DONTWAIT);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
      return false;
    }
  }
  return true;
}

bool WriteFull(int fd, const std::uint8_t* buf, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::send(fd, buf + done, n - done, MSG_NOSIGNAL);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
    } else if (w < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<CeilingResult> MeasureCeiling(std::size_t frameBytes, std::size_t headerBytes,
                                            std::size_t ackBytes, std::size_t payloadBytes,
                                            long roundTrips, double limitSeconds) {
  Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.Get() < 0) return std::nullopt;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener.Get(), 1) != 0 ||
      ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return std::nullopt;
  }
  const auto limit = std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(limitSeconds));

  const pid_t pid = ::fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    // The responder: every frame read whole, answered by one acknowledgement.
    const auto deadline = Clock::now() + limit;
    pollfd p{listener.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limitSeconds * 1000)) <= 0) ::_exit(1);
    const int conn = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) ::_exit(1);
    NoDelay(conn);
    std::vector<std::uint8_t> frame(frameBytes);
    std::vector<std::uint8_t> ack(ackBytes, 0x55);
    for (long i = 0; i < roundTrips; ++i) {
      if (headerBytes > 0 && !ReadFull(conn, frame.data(), headerBytes, deadline)) ::_exit(1);
      if (!ReadFull(conn, frame.data() + headerBytes, frame.size() - headerBytes, deadline)) {
        ::_exit(1);
      }
      if (!WriteFull(conn, ack.data(), ack.size())) ::_exit(1);
    }
    ::_exit(0);
  }

  std::optional<CeilingResult> result;
  {
    Fd conn(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    NoDelay(conn.Get());
    if (::connect(conn.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      std::vector<std::uint8_t> frame(frameBytes, 0xAA);
      std::vector<std::uint8_t> ack(ackBytes);
      const auto start = Clock::now();
      const auto deadline = start + limit;
      long done = 0;
      for (; done < roundTrips; ++done) {
        if (!WriteFull(conn.Get(), frame.data(), frame.size())) break;
        if (!ReadFull(conn.Get(), ack.data(), ack.size(), deadline)) break;
      }
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (done == roundTrips && seconds > 0) {
        CeilingResult r;
        r.roundTripsPerSecond = double(roundTrips) / seconds;
        r.payloadBytesPerSecond = r.roundTripsPerSecond * double(payloadBytes);
        result = r;
      }
    }
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return result;
}

}  // namespace bench
