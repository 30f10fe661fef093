#include "ceiling.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include "platform/unique_fd.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

using Fd = cabrix::platform::UniqueFd;

void NoDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// Bounds every blocking receive on `fd`: a peer that stops answering ends the measurement.
void BoundReceives(int fd, double limitSeconds) {
  timeval tv{};
  tv.tv_sec = static_cast<time_t>(limitSeconds);
  tv.tv_usec = static_cast<suseconds_t>((limitSeconds - double(tv.tv_sec)) * 1e6);
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
}

// Reads exactly `n` bytes with blocking receives: the least a receiver can do, one system call
// per unit when the unit arrives whole. False on end, error, time-out or a passed deadline.
bool ReadFull(int fd, std::uint8_t* buf, std::size_t n, Clock::time_point deadline) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = ::recv(fd, buf + done, n - done, 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got == 0 || errno != EINTR || Clock::now() >= deadline) {
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

// The side that sends the frames: one write of a frame, one read of its acknowledgement.
bool SendFrames(int fd, std::size_t frameBytes, std::size_t ackBytes, long roundTrips,
                Clock::time_point deadline) {
  std::vector<std::uint8_t> frame(frameBytes, 0xAA);
  std::vector<std::uint8_t> ack(ackBytes);
  for (long i = 0; i < roundTrips; ++i) {
    if (!WriteFull(fd, frame.data(), frame.size())) return false;
    if (!ReadFull(fd, ack.data(), ack.size(), deadline)) return false;
  }
  return true;
}

// The side that receives them: the header (when `headerBytes` is not 0) and the rest, each with
// a read of its own, as a receiver that learns the length from the header must; then one write
// of the acknowledgement.
bool ReceiveFrames(int fd, std::size_t frameBytes, std::size_t headerBytes, std::size_t ackBytes,
                   long roundTrips, Clock::time_point deadline) {
  std::vector<std::uint8_t> frame(frameBytes);
  std::vector<std::uint8_t> ack(ackBytes, 0x55);
  for (long i = 0; i < roundTrips; ++i) {
    if (headerBytes > 0 && !ReadFull(fd, frame.data(), headerBytes, deadline)) return false;
    if (!ReadFull(fd, frame.data() + headerBytes, frame.size() - headerBytes, deadline)) {
      return false;
    }
    if (!WriteFull(fd, ack.data(), ack.size())) return false;
  }
  return true;
}

}  // namespace

std::optional<CeilingResult> MeasureCeiling(Direction direction, std::size_t frameBytes,
                                            std::size_t headerBytes, std::size_t ackBytes,
                                            std::size_t payloadBytes, long roundTrips,
                                            double limitSeconds,
                                            std::optional<int> controllerCpu) {
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
    // The controller's side.
    if (controllerCpu) {
      cpu_set_t one;
      CPU_ZERO(&one);
      CPU_SET(*controllerCpu, &one);
      if (::sched_setaffinity(0, sizeof one, &one) != 0) ::_exit(1);
    }
    const auto deadline = Clock::now() + limit;
    pollfd p{listener.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limitSeconds * 1000)) <= 0) ::_exit(1);
    const int conn = ::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) ::_exit(1);
    NoDelay(conn);
    BoundReceives(conn, limitSeconds);
    const bool ok = direction == Direction::kToController
                        ? ReceiveFrames(conn, frameBytes, headerBytes, ackBytes, roundTrips,
                                        deadline)
                        : SendFrames(conn, frameBytes, ackBytes, roundTrips, deadline);
    if (!ok) ::_exit(1);
    ::_exit(0);
  }

  std::optional<CeilingResult> result;
  {
    Fd conn(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    NoDelay(conn.Get());
    BoundReceives(conn.Get(), limitSeconds);
    if (::connect(conn.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
      const auto start = Clock::now();
      const auto deadline = start + limit;
      const bool ok = direction == Direction::kToController
                          ? SendFrames(conn.Get(), frameBytes, ackBytes, roundTrips, deadline)
                          : ReceiveFrames(conn.Get(), frameBytes, headerBytes, ackBytes,
                                          roundTrips, deadline);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      if (ok && seconds > 0) {
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
