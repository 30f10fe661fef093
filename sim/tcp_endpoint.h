// The simulator's TCP side: a listening socket on a loopback address, one connection per
// exchange.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "unique_fd.h"

namespace plcsim {

struct TcpAddress {
  std::array<std::uint8_t, 4> ip{127, 0, 0, 1};
  std::uint16_t port = 1200;
};

// Parses "A.B.C.D" or "A.B.C.D:PORT" (PORT 0 to 65535; 0 asks for any free port). Only addresses
// in 127.0.0.0/8 are taken. nullopt with `error` set otherwise.
std::optional<TcpAddress> ParseTcpAddress(const std::string& text, std::string& error);
std::string FormatTcpAddress(const TcpAddress& address);

class TcpListener {
 public:
  // Throws std::runtime_error when the address cannot be bound.
  explicit TcpListener(const TcpAddress& address);

  int Fd() const { return m_fd.Get(); }
  // The address really listened on (with the port chosen when 0 was asked).
  const TcpAddress& Address() const { return m_address; }

  // Accepts one waiting connection (non-blocking, TCP_NODELAY). Invalid when none is waiting.
  UniqueFd Accept(std::string& peer);

 private:
  UniqueFd m_fd;
  TcpAddress m_address;
};

// Ends a connection: waits at most `lingerMs` for the PC to close its side (dropping what it still
// sends), then closes. With `shutdownFirst` the PC is told at once that nothing more comes;
// without it the simulator just stays silent.
void CloseAfterPeer(UniqueFd& socket, int stopFd, int lingerMs, bool shutdownFirst);

}  // namespace plcsim
