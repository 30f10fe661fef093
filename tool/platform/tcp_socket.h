// A TCP connection to the controller. The socket stays in blocking mode; every wait is bounded
// by the caller so that a silent controller, or one that stops reading, cannot hang the tool.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/io_result.h"

namespace cabrix::platform {

// Starts the socket layer once per process (Windows Sockets 2.2). False when it cannot start.
bool StartSocketLayer();

using Ipv4Address = std::array<std::uint8_t, 4>;  // in wire order: 10.0.6.10 is 0A 00 06 0A

inline constexpr std::chrono::milliseconds kConnectTimeout{20000};

class TcpSocket {
 public:
  enum class RecvStatus {
    kData,      // count bytes arrived (1 or more)
    kClosed,    // the peer closed the connection
    kError,     // the receive call failed
    kTimedOut,  // nothing arrived within the bound
  };
  struct RecvResult {
    RecvStatus status = RecvStatus::kError;
    std::size_t count = 0;
  };

  TcpSocket();
  ~TcpSocket();
  TcpSocket(TcpSocket&&) noexcept;
  TcpSocket& operator=(TcpSocket&&) noexcept;
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  // Creates an IPv4 stream socket, checks it with a zero-wait select for writing and one for
  // reading, then connects to address:port, waiting at most connectTimeout. False on any failure;
  // the socket is then closed again.
  bool Connect(const Ipv4Address& address, std::uint16_t port,
               std::chrono::milliseconds connectTimeout = kConnectTimeout);
  bool IsOpen() const;

  // One receive of up to buffer.size() bytes; it returns what the stack has, it does not wait for
  // the whole count. Waits at most `timeout` for the first byte.
  RecvResult Receive(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout);

  // Sends the whole buffer, waiting at most `timeout` in all for room in the socket's buffers.
  // ok false: the call failed. A count below data.size() means the bound ran out (or the program
  // was asked to stop) first.
  IoResult Send(std::span<const std::uint8_t> data, std::chrono::milliseconds timeout);

  // Shuts both directions down (the socket stays open until Close).
  void Shutdown();
  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace cabrix::platform
