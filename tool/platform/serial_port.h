// A serial port (COM<n>) of the PC, opened exclusively, set to 115200 8N1 and read and written
// with the five classic serial time-outs. The calls report what happened; turning that into the
// link failure codes is the link object's job.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "platform/io_result.h"

namespace cabrix::platform {

// The five time-outs of a serial port, in milliseconds. A read of N bytes ends when N bytes are
// in, when more than readInterval passes between two bytes after the first one, or when
// N * readTotalMultiplier + readTotalConstant has passed since the call began. A write of N bytes
// must finish within N * writeTotalMultiplier + writeTotalConstant.
struct SerialTimeouts {
  std::uint32_t readIntervalMs = 0;
  std::uint32_t readTotalMultiplierMs = 0;
  std::uint32_t readTotalConstantMs = 0;
  std::uint32_t writeTotalMultiplierMs = 0;
  std::uint32_t writeTotalConstantMs = 0;
};

enum class SerialConfigResult {
  kOk,
  kGetStateFailed,     // the line settings cannot be read
  kSetStateFailed,     // the line settings cannot be set
  kSetTimeoutsFailed,  // the time-outs cannot be set
};

// Owns one open port; closing happens in Close() or the destructor. Move-only.
class SerialPort {
 public:
  SerialPort();
  ~SerialPort();
  SerialPort(SerialPort&&) noexcept;
  SerialPort& operator=(SerialPort&&) noexcept;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Opens COM<number> for reading and writing, exclusively. False when the port does not exist,
  // cannot be opened or is held by another program; the object then stays closed.
  bool Open(int number);
  bool IsOpen() const;

  // Sets 115200 baud, 8 data bits, no parity, 1 stop bit, keeping every other line setting
  // (flow control included) as the port had it, then sets all five time-outs.
  SerialConfigResult Configure(const SerialTimeouts& timeouts);

  // Drops whatever is pending in both directions. False when the call fails.
  bool Purge();

  // One read of up to buffer.size() bytes under the time-outs. count 0 with ok: nothing arrived.
  IoResult Read(std::span<std::uint8_t> buffer);

  // One read of up to buffer.size() bytes that returns as soon as anything is there, waiting at
  // most `wait` for it (0: what has already arrived, without waiting), whatever the time-outs.
  // count 0 with ok: nothing came.
  IoResult ReadWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait);

  // One write under the write time-out. A count below data.size() means the time-out ran out.
  IoResult Write(std::span<const std::uint8_t> data);

  void Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace cabrix::platform
