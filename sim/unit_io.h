// Units on the controller link as the simulator sees them. The PC sends two kinds: frames
// (AA AA, u16 length, u16 number, checksum, last, then `length` payload bytes) and 6-byte units
// in the shape of an acknowledgement (55 55, u16 code, u16 number). The simulator reads either
// robustly: the first 6 bytes tell which, a frame is then read to its announced length, and
// every wait is bounded.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim_log.h"
#include "stream.h"

namespace plcsim {

// The longest frame payload a PC can send: a read request with a 255-byte name area.
inline constexpr std::size_t kMaxPcPayload = 4 + 255;
// Once a unit has begun, its remaining bytes must come without a gap this long, and all of them
// within the idle time.
inline constexpr Millis kDefaultUnitGap{2000};

// Bad input from the PC: logged, and the exchange ends.
class ProtocolError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The PC sent nothing within the idle time.
class IdleTimeout : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Unit {
  enum class Kind { kShort, kFrame };
  Kind kind = Kind::kShort;
  std::vector<std::uint8_t> bytes;

  bool IsFrame() const { return kind == Kind::kFrame; }
  bool IsShort() const { return kind == Kind::kShort; }
  // Short units: the u16 at offset 2 and at offset 4.
  std::uint16_t Code() const;
  std::uint16_t Number() const;  // also a frame's number
  // Frames.
  std::uint16_t Length() const;
  std::uint8_t Last() const;
  std::span<const std::uint8_t> Payload() const;
  bool ChecksumOk() const;
  // The request code: payload byte 0 (0 when the payload is empty).
  std::uint8_t RequestCode() const;
};

class UnitIo {
 public:
  UnitIo(ByteStream& stream, SimLog& log, Millis idle, Millis unitGap = kDefaultUnitGap)
      : m_stream(stream), m_log(log), m_idle(idle), m_unitGap(unitGap) {}

  // Reads the next unit, waiting at most the idle time for it to begin. Throws IdleTimeout,
  // ProtocolError (garbage, an over-long frame, a unit that stops midway), StreamClosed.
  Unit Read() { return *ReadWithin(m_idle, true); }
  // The same, waiting at most `wait`; nullopt when nothing began in that time.
  std::optional<Unit> TryRead(Millis wait) { return ReadWithin(wait, false); }

  // Sends bytes with one write, and logs them.
  void Send(std::span<const std::uint8_t> bytes);
  void Pause(Millis duration) { m_stream.Pause(duration); }

  // The last unit read (an empty short unit before the first).
  const Unit& LastUnit() const { return m_last; }
  // How many units have been read so far.
  std::uint64_t UnitsRead() const { return m_unitsRead; }

  Millis Idle() const { return m_idle; }
  SimLog& Log() { return m_log; }
  ByteStream& Stream() { return m_stream; }

 private:
  std::optional<Unit> ReadWithin(Millis wait, bool mustArrive);
  // Reads exactly bytes.size() bytes; the first within `first`, each further one within the gap
  // and before the unit's time is up. False when the first does not come.
  bool ReadExact(std::span<std::uint8_t> bytes, Millis first, std::vector<std::uint8_t>& got);

  ByteStream& m_stream;
  SimLog& m_log;
  Millis m_idle;
  Millis m_unitGap;
  std::chrono::steady_clock::time_point m_unitEnd{};  // by when the unit begun must be whole
  Unit m_last;
  std::uint64_t m_unitsRead = 0;
};

// A 6-byte unit 55 55 code number.
std::vector<std::uint8_t> ShortUnit(std::uint16_t code, std::uint16_t number);

}  // namespace plcsim
