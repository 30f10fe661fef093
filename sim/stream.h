// The byte stream that one exchange of the simulator runs over: a TCP connection, the
// pseudo-terminal, or an in-memory pipe in the tests.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace plcsim {

using Millis = std::chrono::milliseconds;

// The PC has gone: the connection was closed or broke.
class StreamClosed : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// SIGINT or SIGTERM arrived: the simulator is shutting down.
class StopRequested : public std::runtime_error {
 public:
  StopRequested() : std::runtime_error("stop requested") {}
};

class ByteStream {
 public:
  virtual ~ByteStream() = default;

  // Waits at most `timeout` for input and returns what is there, 1 to buffer.size() bytes, or 0
  // when nothing came in time. Throws StreamClosed or StopRequested.
  virtual std::size_t ReadSome(std::span<std::uint8_t> buffer, Millis timeout) = 0;

  // Writes all of `data` with one write call, so that the PC finds the unit in one piece.
  // Throws StreamClosed or StopRequested.
  virtual void Write(std::span<const std::uint8_t> data) = 0;

  // Waits for `duration` without reading (for injected delays). Throws StopRequested.
  virtual void Pause(Millis duration);

  // Writes `data` as the PC takes it, unpaced and in as many writes as it takes, waiting at most
  // `wait` in all for room; false when not all of it went in that time. Throws StreamClosed or
  // StopRequested.
  virtual bool WriteWithin(std::span<const std::uint8_t> data, Millis wait);
};

}  // namespace plcsim
