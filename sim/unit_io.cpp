#include "unit_io.h"

#include <algorithm>
#include <thread>

#include "wire/frame.h"

namespace plcsim {

using cabrix::Read16le;
namespace off = cabrix::frame_offset;

void ByteStream::Pause(Millis duration) { std::this_thread::sleep_for(duration); }

std::uint16_t Unit::Code() const { return Read16le(bytes, 2); }
std::uint16_t Unit::Number() const { return Read16le(bytes, off::kNumber); }
std::uint16_t Unit::Length() const { return Read16le(bytes, off::kLength); }
// A 6-byte unit has no `last` and no payload: asking for them gives 0 and nothing, never a read
// past its end.
std::uint8_t Unit::Last() const { return IsFrame() ? bytes[off::kLast] : 0; }

std::span<const std::uint8_t> Unit::Payload() const {
  if (!IsFrame()) return {};
  return std::span(bytes).subspan(cabrix::kFrameHeaderSize);
}

bool Unit::ChecksumOk() const { return cabrix::WireChecksum(bytes) == bytes[off::kChecksum]; }

std::uint8_t Unit::RequestCode() const { return Payload().empty() ? 0 : Payload()[0]; }

std::vector<std::uint8_t> ShortUnit(std::uint16_t code, std::uint16_t number) {
  cabrix::PlcAck ack(code, number);
  return {ack.bytes().begin(), ack.bytes().end()};
}

void UnitIo::Send(std::span<const std::uint8_t> bytes) {
  m_log.Sent(bytes);
  m_stream.Write(bytes);
}

bool UnitIo::ReadExact(std::span<std::uint8_t> bytes, Millis first, std::vector<std::uint8_t>& got) {
  using Clock = std::chrono::steady_clock;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const bool begun = done > 0 || !got.empty();
    Millis wait = first;
    bool untilUnitEnd = false;  // the wait ends with the unit's time
    if (begun) {
      const auto left = std::chrono::ceil<Millis>(m_unitEnd - Clock::now());
      untilUnitEnd = left < m_unitGap;
      wait = std::clamp(left, Millis(0), m_unitGap);
    }
    const std::size_t n = m_stream.ReadSome(bytes.subspan(done), wait);
    if (n == 0) {
      if (!begun) return false;
      got.insert(got.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(done));
      m_log.Received(got);
      if (untilUnitEnd) {
        throw ProtocolError("a unit still not whole after " +
                            std::to_string(m_idle.count() / 1000) + " s, at " +
                            std::to_string(got.size()) + " bytes");
      }
      throw ProtocolError("a unit stopped after " + std::to_string(got.size()) + " bytes");
    }
    // A unit's bytes come close together, and all of them within the idle time.
    if (!begun) m_unitEnd = Clock::now() + m_idle;
    done += n;
  }
  got.insert(got.end(), bytes.begin(), bytes.end());
  return true;
}

std::optional<Unit> UnitIo::ReadWithin(Millis wait, bool mustArrive) {
  std::vector<std::uint8_t> got;
  std::uint8_t head[cabrix::kAckSize];
  if (!ReadExact(head, wait, got)) {
    if (mustArrive) {
      throw IdleTimeout("the PC sent nothing for " + std::to_string(wait.count() / 1000) + " s");
    }
    return std::nullopt;
  }
  Unit unit;
  if (head[0] == cabrix::kAckSync && head[1] == cabrix::kAckSync) {
    unit.kind = Unit::Kind::kShort;
    unit.bytes = std::move(got);
    m_log.Received(unit.bytes);
    m_last = unit;
    ++m_unitsRead;
    return unit;
  }
  if (head[0] != cabrix::kFrameSync || head[1] != cabrix::kFrameSync) {
    m_log.Received(got);
    throw ProtocolError("garbage where a unit should begin");
  }
  std::uint8_t rest[2];
  ReadExact(rest, m_unitGap, got);
  const std::size_t length = Read16le(got, off::kLength);
  if (length > kMaxPcPayload) {
    m_log.Received(got);
    throw ProtocolError("frame length " + std::to_string(length) + " over the limit of " +
                        std::to_string(kMaxPcPayload));
  }
  std::vector<std::uint8_t> payload(length);
  if (length > 0) ReadExact(payload, m_unitGap, got);
  unit.kind = Unit::Kind::kFrame;
  unit.bytes = std::move(got);
  m_log.Received(unit.bytes);
  m_last = unit;
  ++m_unitsRead;
  return unit;
}

}  // namespace plcsim
