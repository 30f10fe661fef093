// The PLC frame and the acknowledgement, the two units that cross the controller link.
//
//   PlcFrame                                      PlcAck
//   0    1    2-3      4-5      6         7       0    1    2-3    4-5
//   +----+----+--------+--------+---------+-----+ +----+----+------+--------+
//   | AA | AA | length | number | checksum| last| | 55 | 55 | code | number |
//   +----+----+--------+--------+---------+-----+ +----+----+------+--------+
//   then `length` payload bytes (a receiver takes at most 128)
//
// PlcFrameExt has three u16 parameters at offsets 8, 10 and 12 before its payload; they count
// as payload for `length` and the checksum. Every 16-bit field is little-endian. The checksum is
// the sum mod 256 of every other byte of the frame; receivers count the sync bytes as AA AA
// whatever arrived.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "wire/bytes.h"

namespace cabrix {

inline constexpr std::size_t kFrameHeaderSize = 8;
inline constexpr std::size_t kFrameExtHeaderSize = 14;
inline constexpr std::size_t kMaxPayload = 128;
inline constexpr std::size_t kAckSize = 6;
inline constexpr std::uint8_t kFrameSync = 0xAA;
inline constexpr std::uint8_t kAckSync = 0x55;
inline constexpr std::uint16_t kAckAccepted = 10;
inline constexpr std::uint16_t kAckRejected = 20;
inline constexpr std::uint16_t PLC_PORT = 1200;

// The longest command text a command request can carry: its length byte holds n + 6.
inline constexpr std::size_t kMaxCommandText = 249;

// A file travels in segments of at most this many file bytes, both ways; between two segments
// the PC and the controller run an exchange of their own.
inline constexpr std::uint32_t kSegmentSize = 4500;

// The longest name a read request can carry: its name-area length is one byte.
inline constexpr std::size_t kMaxReadName = 253;

// Byte 0 of the payload of a request's first frame (or of a segment's first frame).
enum RequestCode : std::uint8_t {
  kRequestCommand = 0x92,
  kRequestReadFile = 0x31,
  kRequestNextSegment = 0x32,
  kRequestWriteFile = 0x2F,
  kRequestWriteSegment = 0x30,
};

namespace frame_offset {
inline constexpr std::size_t kSync = 0;
inline constexpr std::size_t kLength = 2;
inline constexpr std::size_t kNumber = 4;
inline constexpr std::size_t kChecksum = 6;
inline constexpr std::size_t kLast = 7;
inline constexpr std::size_t kPayload = 8;
inline constexpr std::size_t kParam1 = 8;
inline constexpr std::size_t kParam2 = 10;
inline constexpr std::size_t kParam3 = 12;
inline constexpr std::size_t kExtPayload = 14;
}  // namespace frame_offset

// A frame buffer of header plus 128 payload bytes, read and written through named fields.
class PlcFrame {
 public:
  static constexpr std::size_t kCapacity = kFrameHeaderSize + kMaxPayload;

  std::span<std::uint8_t> bytes() { return m_bytes; }
  std::span<const std::uint8_t> bytes() const { return m_bytes; }
  // The frame as it goes on the wire: header and `length` payload bytes (cut to the buffer).
  std::span<const std::uint8_t> wire() const;

  std::uint16_t length() const { return Read16le(m_bytes, frame_offset::kLength); }
  void set_length(std::uint16_t v) { Write16le(m_bytes, frame_offset::kLength, v); }
  std::uint16_t number() const { return Read16le(m_bytes, frame_offset::kNumber); }
  void set_number(std::uint16_t v) { Write16le(m_bytes, frame_offset::kNumber, v); }
  std::uint8_t checksum() const { return m_bytes[frame_offset::kChecksum]; }
  void set_checksum(std::uint8_t v) { m_bytes[frame_offset::kChecksum] = v; }
  std::uint8_t last() const { return m_bytes[frame_offset::kLast]; }
  void set_last(std::uint8_t v) { m_bytes[frame_offset::kLast] = v; }
  std::span<std::uint8_t> payload() { return std::span(m_bytes).subspan(frame_offset::kPayload); }
  std::span<const std::uint8_t> payload() const {
    return std::span(m_bytes).subspan(frame_offset::kPayload);
  }

 protected:
  std::array<std::uint8_t, kCapacity> m_bytes{};
};

// The frame with three u16 parameters in front of its payload.
class PlcFrameExt : public PlcFrame {
 public:
  std::uint16_t param1() const { return Read16le(m_bytes, frame_offset::kParam1); }
  void set_param1(std::uint16_t v) { Write16le(m_bytes, frame_offset::kParam1, v); }
  std::uint16_t param2() const { return Read16le(m_bytes, frame_offset::kParam2); }
  void set_param2(std::uint16_t v) { Write16le(m_bytes, frame_offset::kParam2, v); }
  std::uint16_t param3() const { return Read16le(m_bytes, frame_offset::kParam3); }
  void set_param3(std::uint16_t v) { Write16le(m_bytes, frame_offset::kParam3, v); }
  std::span<std::uint8_t> ext_payload() {
    return std::span(m_bytes).subspan(frame_offset::kExtPayload);
  }
};

// The 6-byte acknowledgement.
class PlcAck {
 public:
  constexpr PlcAck() = default;
  // With the sync bytes 55 55.
  constexpr PlcAck(std::uint16_t code, std::uint16_t number) : m_bytes{kAckSync, kAckSync} {
    set_code(code);
    set_number(number);
  }

  std::span<std::uint8_t> bytes() { return m_bytes; }
  std::span<const std::uint8_t> bytes() const { return m_bytes; }
  constexpr std::uint16_t code() const { return Read16le(m_bytes, 2); }
  constexpr void set_code(std::uint16_t v) { Write16le(m_bytes, 2, v); }
  constexpr std::uint16_t number() const { return Read16le(m_bytes, 4); }
  constexpr void set_number(std::uint16_t v) { Write16le(m_bytes, 4, v); }
  bool has_sync() const { return m_bytes[0] == kAckSync && m_bytes[1] == kAckSync; }

  friend bool operator==(const PlcAck&, const PlcAck&) = default;

 private:
  std::array<std::uint8_t, kAckSize> m_bytes{};
};

// Fresh header defaults: sync AA AA, length 128, number 1, last 0; checksum and payload kept.
void InitFrame(PlcFrame& frame);
// The same, and parameter 3 set to 10.
void InitFrameExt(PlcFrameExt& frame);

// (value >> 8) + (value & 0xFF), mod 256.
std::uint8_t ByteSum16(std::uint16_t value);

// Checksum over the header fields and the first `count` payload bytes (from offset 8), stored in
// byte 6. `count` comes from the caller, never from `length`.
void SetChecksum(PlcFrame& frame, int count);
// The same for the extended frame: the three parameters and `count` bytes from offset 14.
void SetChecksumExt(PlcFrameExt& frame, int count);

// Sum mod 256 of every byte of a whole frame except byte 6, as a sender computes it.
std::uint8_t WireChecksum(std::span<const std::uint8_t> frame);

// Copies sync, length, number and last of a received header into `target` (not its checksum)
// and `count` payload bytes to offset 8. Returns `count`.
int CopyFrame(PlcFrame& target, std::span<const std::uint8_t> header,
              std::span<const std::uint8_t> payload, int count);

// The command request for a command text: AA AA, n + 6, 0, number 1, checksum, last 1, 0x92,
// four zero bytes, the text and a zero byte. nullopt for a text longer than 249 bytes.
std::optional<std::vector<std::uint8_t>> BuildCommandRequest(std::string_view text);

// The name area of file requests: the name, a zero byte and, for an even name length, 0xCD.
std::vector<std::uint8_t> BuildNameArea(std::string_view name);

// The read request for one file: AA AA, 4 + A, number 1, checksum, last 1, 0x31, 0, A, 0 and the
// name area of A bytes. A name longer than kMaxReadName does not fit: its A would not either.
std::vector<std::uint8_t> BuildReadRequest(std::string_view name);

// The request for the next segment of a file being read: one frame of the one byte 0x32.
std::array<std::uint8_t, kFrameHeaderSize + 1> BuildNextSegmentRequest();

// The PC's two messages in the shape of an acknowledgement during a file write: the end of a
// segment's data, and the poll it repeats until the controller is ready.
inline constexpr PlcAck kEndOfDataMessage{kAckAccepted, 0};
inline constexpr PlcAck kPollMessage{kAckAccepted, 1};

}  // namespace cabrix
