#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/stop_request.h"
#include "platform/tcp_socket.h"

namespace cabrix::platform {

namespace {

timeval ToTimeval(std::chrono::milliseconds wait) {
  const long long ms = std::max<long long>(wait.count(), 0);
  timeval tv{};
  tv.tv_sec = static_cast<long>(ms / 1000);
  tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
  return tv;
}

// One select on a single socket. Returns what select returns: SOCKET_ERROR, 0 (nothing within
// the wait) or 1.
int SelectOne(SOCKET s, bool forWrite, timeval tv, bool* failed = nullptr) {
  fd_set ready;
  fd_set errors;
  FD_ZERO(&ready);
  FD_ZERO(&errors);
  FD_SET(s, &ready);
  FD_SET(s, &errors);
  const int n = forWrite ? select(0, nullptr, &ready, &errors, &tv)
                         : select(0, &ready, nullptr, &errors, &tv);
  if (failed != nullptr) *failed = n > 0 && FD_ISSET(s, &errors);
  return n;
}

// A wait for a socket is taken in slices of this length, so that a stop request ends it within
// a moment: nothing else can wake a select().
constexpr auto kStopSlice = std::chrono::milliseconds(50);

// SelectOne for at most `wait`, ending early with 0 when the program is asked to stop.
int SelectUntilStop(SOCKET s, bool forWrite, std::chrono::milliseconds wait,
                    bool* failed = nullptr) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const int n = SelectOne(s, forWrite, ToTimeval(std::min(left, kStopSlice)), failed);
    if (n != 0 || left <= kStopSlice || StopRequested()) return n;
  }
}

bool SetBlocking(SOCKET s, bool blocking) {
  u_long nonBlocking = blocking ? 0 : 1;
  return ioctlsocket(s, FIONBIO, &nonBlocking) == 0;
}

// Connects a fresh blocking socket within `wait`: the connect runs non-blocking so that a
// controller that never answers cannot hold the tool longer than that, then the socket goes
// back to blocking mode.
bool ConnectWithin(SOCKET s, const sockaddr_in& addr, std::chrono::milliseconds wait) {
  if (!SetBlocking(s, false)) return false;
  if (connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;
    bool refused = false;
    if (SelectUntilStop(s, true, wait, &refused) != 1 || refused) return false;
    int error = 0;
    int len = sizeof error;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &len) != 0 ||
        error != 0) {
      return false;
    }
  }
  return SetBlocking(s, true);
}

}  // namespace

bool StartSocketLayer() {
  static const bool started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

struct TcpSocket::Impl {
  SOCKET s = INVALID_SOCKET;
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

bool TcpSocket::Connect(const Ipv4Address& address, std::uint16_t port,
                        std::chrono::milliseconds connectTimeout) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  std::memcpy(&addr.sin_addr, address.data(), address.size());

  const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  // Two zero-wait checks that the new socket is usable; only a failing select counts, whether
  // the socket is ready does not.
  const timeval zeroWait{0, 100};
  if (SelectOne(s, true, zeroWait) == SOCKET_ERROR ||
      SelectOne(s, false, zeroWait) == SOCKET_ERROR) {
    closesocket(s);
    return false;
  }
  if (!ConnectWithin(s, addr, connectTimeout)) {
    closesocket(s);
    return false;
  }
  // Frames and acknowledgements are small and go back and forth; do not hold them back.
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  m_impl->s = s;
  return true;
}

bool TcpSocket::IsOpen() const { return m_impl && m_impl->s != INVALID_SOCKET; }

TcpSocket::RecvResult TcpSocket::Receive(std::span<std::uint8_t> buffer,
                                         std::chrono::milliseconds timeout) {
  if (!IsOpen()) return {RecvStatus::kError, 0};
  if (buffer.empty()) return {RecvStatus::kData, 0};
  const int ready = SelectUntilStop(m_impl->s, false, timeout);
  if (ready == SOCKET_ERROR) return {RecvStatus::kError, 0};
  if (ready == 0) return {RecvStatus::kTimedOut, 0};
  const int len = static_cast<int>(std::min<std::size_t>(buffer.size(), 0x7FFFFFFF));
  const int n = recv(m_impl->s, reinterpret_cast<char*>(buffer.data()), len, 0);
  if (n == SOCKET_ERROR) return {RecvStatus::kError, 0};
  if (n == 0) return {RecvStatus::kClosed, 0};
  return {RecvStatus::kData, static_cast<std::size_t>(n)};
}

IoResult TcpSocket::Send(std::span<const std::uint8_t> data) {
  if (!IsOpen()) return {};
  const int len = static_cast<int>(std::min<std::size_t>(data.size(), 0x7FFFFFFF));
  const int n = send(m_impl->s, reinterpret_cast<const char*>(data.data()), len, 0);
  if (n == SOCKET_ERROR) return {false, 0};
  return {true, static_cast<std::size_t>(n)};
}

void TcpSocket::Shutdown() {
  if (IsOpen()) shutdown(m_impl->s, SD_BOTH);
}

void TcpSocket::Close() {
  if (!IsOpen()) return;
  closesocket(m_impl->s);
  m_impl->s = INVALID_SOCKET;
}

}  // namespace cabrix::platform
