// A ByteStream over a file descriptor (a TCP connection or the pseudo-terminal's master side).
// Every wait is a poll that also watches the stop descriptor.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>

#include "stream.h"
#include "unique_fd.h"

namespace plcsim {

class FdStream : public ByteStream {
 public:
  // `stopFd`: readable when the simulator is to stop (-1: none). `isSocket`: use send() so that a
  // closed connection is an error rather than a signal.
  FdStream(int fd, int stopFd, bool isSocket);

  // Paces both directions to `bytesPerSecond`, as a serial line of that rate would carry them:
  // what is written is handed over only once the line would have carried its last byte, and a
  // write (or a pause) begins only once what has been read would be over. 0: no pacing.
  void SetPace(unsigned bytesPerSecond);

  // On a socket (and a paced line), hands out what an earlier read took in beyond its caller's
  // need before it waits again: one read of the descriptor per frame rather than one per field.
  std::size_t ReadSome(std::span<std::uint8_t> buffer, Millis timeout) override;
  // Whether such bytes are waiting: the descriptor no longer shows them as input.
  bool HasTakenIn() const { return m_inAt < m_inEnd; }
  void Write(std::span<const std::uint8_t> data) override;
  void Pause(Millis duration) override;
  bool WriteWithin(std::span<const std::uint8_t> data, Millis wait) override;

  // Reads and drops input until none has come for `quiet`, at most `limit` in all.
  void Discard(Millis quiet, Millis limit);

 private:
  // Waits for the fd to be ready for `events`, at most `timeout`; false on time-out.
  bool WaitFor(short events, Millis timeout);
  void WriteAll(std::span<const std::uint8_t> data);
  // One write of what fits now: the count, 0 when there is no room. Throws StreamClosed.
  std::size_t WriteSome(std::span<const std::uint8_t> data);
  // Sleeps until `when`; throws StopRequested when the stop descriptor becomes readable.
  void SleepUntil(std::chrono::steady_clock::time_point when);

  int m_fd;
  int m_stopFd;
  bool m_isSocket;
  unsigned m_bytesPerSecond = 0;
  // When each direction of a paced line has carried all it was given.
  std::chrono::steady_clock::time_point m_lineFree{};
  std::chrono::steady_clock::time_point m_inLineFree{};
  std::chrono::steady_clock::time_point m_inStart{};  // when the bytes in m_in began to cross
  std::chrono::steady_clock::time_point m_inOver{};   // when the last byte read is over
  std::array<std::uint8_t, 4096> m_in{};
  std::size_t m_inAt = 0;
  std::size_t m_inEnd = 0;
};

}  // namespace plcsim
