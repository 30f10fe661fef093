#include "tcp_endpoint.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace plcsim {

std::optional<TcpAddress> ParseTcpAddress(const std::string& text, std::string& error) {
  TcpAddress a;
  std::string host = text;
  const auto colon = text.find(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    const std::string port = text.substr(colon + 1);
    unsigned value = 0;
    const auto [p, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || p != port.data() + port.size() || value > 65535) {
      error = "bad port in '" + text + "'";
      return std::nullopt;
    }
    a.port = static_cast<std::uint16_t>(value);
  }
  in_addr addr{};
  if (::inet_pton(AF_INET, host.c_str(), &addr) != 1) {
    error = "not an IPv4 address: '" + host + "'";
    return std::nullopt;
  }
  std::memcpy(a.ip.data(), &addr.s_addr, 4);
  if (a.ip[0] != 127) {
    error = "refusing " + host + ": plcsim listens only on loopback addresses (127.x.y.z)";
    return std::nullopt;
  }
  return a;
}

std::string FormatTcpAddress(const TcpAddress& a) {
  return std::to_string(a.ip[0]) + "." + std::to_string(a.ip[1]) + "." + std::to_string(a.ip[2]) +
         "." + std::to_string(a.ip[3]) + ":" + std::to_string(a.port);
}

TcpListener::TcpListener(const TcpAddress& address) : m_address(address) {
  m_fd.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!m_fd.Valid()) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int one = 1;
  ::setsockopt(m_fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(address.port);
  std::memcpy(&sa.sin_addr.s_addr, address.ip.data(), 4);
  if (::bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 ||
      ::listen(m_fd.Get(), 16) != 0) {
    throw std::runtime_error("cannot listen on " + FormatTcpAddress(address) + ": " +
                             std::strerror(errno));
  }
  socklen_t len = sizeof sa;
  if (::getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&sa), &len) == 0) {
    m_address.port = ntohs(sa.sin_port);
  }
}

UniqueFd TcpListener::Accept(std::string& peer) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  UniqueFd fd(::accept4(m_fd.Get(), reinterpret_cast<sockaddr*>(&sa), &len,
                        SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!fd.Valid()) return fd;
  const int one = 1;
  ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &sa.sin_addr, text, sizeof text);
  peer = std::string(text) + ":" + std::to_string(ntohs(sa.sin_port));
  return fd;
}

void CloseAfterPeer(UniqueFd& socket, int stopFd, int lingerMs, bool shutdownFirst) {
  if (!socket.Valid()) return;
  if (shutdownFirst) ::shutdown(socket.Get(), SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(lingerMs);
  char buf[512];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fds[2] = {{socket.Get(), POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int r = ::poll(fds, stopFd >= 0 ? 2 : 1, static_cast<int>(left.count()));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0 || (stopFd >= 0 && fds[1].revents)) break;
    const ssize_t n = ::recv(socket.Get(), buf, sizeof buf, 0);
    if (n <= 0) break;
  }
  socket.Reset();
}

}  // namespace plcsim
