#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <optional>

#include "platform/deadline_p.h"
#include "platform/stop_request_posix_p.h"
#include "platform/tcp_socket_posix_p.h"
#include "platform/unique_fd.h"

namespace cabrix::platform {

namespace {

bool SetNonBlocking(int fd, bool on) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

// A check of a new socket: waits 100 us for `events`. Only a failing call counts; ready or not
// ready is all the same. ppoll instead of select, as select cannot take a descriptor number
// beyond FD_SETSIZE.
bool ZeroWaitCheck(int fd, short events) {
  pollfd p{fd, events, 0};
  const timespec wait{0, 100 * 1000};
  for (;;) {
    if (::ppoll(&p, 1, &wait, nullptr) >= 0) return true;
    if (errno != EINTR) return false;
  }
}

// connect() bounded by `timeout`: started non-blocking, waited for with poll, checked with
// SO_ERROR.
bool ConnectWithin(int fd, const sockaddr_in& peer, std::chrono::milliseconds timeout) {
  if (!SetNonBlocking(fd, true)) return false;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return false;
    const auto deadline = SteadyClock::now() + std::max(timeout, std::chrono::milliseconds(0));
    for (;;) {
      pollfd p[2] = {{fd, POLLOUT, 0}, {StopWakeFd(), POLLIN, 0}};
      const int ready = ::poll(p, 2, PollTimeoutMs(deadline));
      if (ready > 0 && p[1].revents != 0) return false;  // asked to stop
      if (ready > 0) break;
      if (ready == 0) return false;  // no answer in time
      if (errno != EINTR) return false;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  }
  return SetNonBlocking(fd, false);
}

}  // namespace

sockaddr_in MakeSockAddr(const Ipv4Address& address, std::uint16_t port) {
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(port);
  std::memcpy(&peer.sin_addr, address.data(), address.size());
  return peer;
}

// Nothing to start on POSIX. SIGPIPE needs no handling either: every send says MSG_NOSIGNAL.
// Where Winsock fails a write to a closed pipe or connection, POSIX sends SIGPIPE, which would end
// the program before it can report anything; with it ignored such writes fail like on Windows.
bool StartSocketLayer() {
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

struct TcpSocket::Impl {
  UniqueFd fd;
  // The socket's own receive time-out (SO_RCVTIMEO) while one is set: the shortest bound that a
  // receive has asked for on this connection.
  std::optional<std::chrono::milliseconds> receiveTimeout;

  // Lets a blocking recv() wait at most `bound`. False when the socket's time-out cannot cover
  // any part of it (no bound left, or the option cannot be set).
  bool ArmReceiveTimeout(std::chrono::milliseconds bound) {
    if (bound.count() < 1) return false;  // an SO_RCVTIMEO of 0 would wait without end
    if (receiveTimeout && *receiveTimeout <= bound) return true;
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(bound.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((bound.count() % 1000) * 1000);
    if (::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) return false;
    receiveTimeout = bound;
    return true;
  }
};

TcpSocket::TcpSocket() : m_impl(std::make_unique<Impl>()) {}
TcpSocket::~TcpSocket() { Close(); }
TcpSocket::TcpSocket(TcpSocket&&) noexcept = default;
TcpSocket& TcpSocket::operator=(TcpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    m_impl = std::move(other.m_impl);
  }
  return *this;
}

bool TcpSocket::IsOpen() const { return m_impl && m_impl->fd.Valid(); }

bool TcpSocket::Connect(const Ipv4Address& address, std::uint16_t port,
                        std::chrono::milliseconds connectTimeout) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  const sockaddr_in peer = MakeSockAddr(address, port);
  UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd.Valid()) return false;
  if (!ZeroWaitCheck(fd.Get(), POLLOUT) || !ZeroWaitCheck(fd.Get(), POLLIN)) return false;
  if (!ConnectWithin(fd.Get(), peer, connectTimeout)) return false;
  // Frames and acknowledgements are small and answered at once: Nagle's wait for the peer's
  // delayed acknowledgement would only slow every exchange down. Nothing changes on the wire.
  const int on = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  m_impl->fd = std::move(fd);
  m_impl->receiveTimeout.reset();
  WatchSocketForStop(m_impl->fd.Get());
  return true;
}

TcpSocket::RecvResult TcpSocket::Receive(std::span<std::uint8_t> buffer,
                                         std::chrono::milliseconds timeout) {
  if (!IsOpen()) return {RecvStatus::kError, 0};
  if (buffer.empty()) return {RecvStatus::kData, 0};
  const int fd = m_impl->fd.Get();
  const auto deadline = SteadyClock::now() + std::max(timeout, std::chrono::milliseconds(0));
  // A reply usually comes well within the bound: one blocking recv under the socket's own
  // time-out takes it without a poll() in front of every read. Only when that time-out is
  // shorter than this bound and runs out does the rest of the bound go to poll().
  if (m_impl->ArmReceiveTimeout(timeout)) {
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n > 0) return {RecvStatus::kData, static_cast<std::size_t>(n)};
    if (n == 0) return {RecvStatus::kClosed, 0};
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return {RecvStatus::kError, 0};
  }
  for (;;) {
    pollfd p[2] = {{fd, POLLIN, 0}, {StopWakeFd(), POLLIN, 0}};
    const int ready = ::poll(p, 2, PollTimeoutMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {RecvStatus::kError, 0};
    }
    if (ready == 0 || p[1].revents != 0) return {RecvStatus::kTimedOut, 0};  // or asked to stop
    const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n > 0) return {RecvStatus::kData, static_cast<std::size_t>(n)};
    if (n == 0) return {RecvStatus::kClosed, 0};
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) return {RecvStatus::kError, 0};
  }
}

IoResult TcpSocket::Send(std::span<const std::uint8_t> data) {
  if (!IsOpen()) return {};
  for (;;) {
    const ssize_t n = ::send(m_impl->fd.Get(), data.data(), data.size(), MSG_NOSIGNAL);
    if (n >= 0) return {true, static_cast<std::size_t>(n)};
    if (errno != EINTR) return {false, 0};
  }
}

void TcpSocket::Shutdown() {
  if (IsOpen()) ::shutdown(m_impl->fd.Get(), SHUT_RDWR);
}

void TcpSocket::Close() {
  if (!IsOpen()) return;
  UnwatchSocketForStop(m_impl->fd.Get());
  m_impl->fd.Reset();
}

}  // namespace cabrix::platform
