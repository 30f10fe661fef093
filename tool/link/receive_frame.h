// Taking in one frame of a reply and answering it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "link/channel.h"
#include "wire/frame.h"

namespace cabrix {

// What ReceiveFrame hands to the exchange: an accepted frame, or an end marker (a frame whose
// payload read gave exactly 2 bytes, taken without checksum test and without acknowledgement).
struct ReceivedFrame {
  bool endMarker = false;
  std::uint16_t number = 0;
  std::uint8_t last = 0;
  std::array<std::uint8_t, kMaxPayload> payload{};
  std::size_t size = 0;  // the count the payload read returned, never the `length` field

  std::span<const std::uint8_t> data() const { return std::span(payload).first(size); }
};

// The acknowledgement state of one exchange that receives a reply. `ack` is first filled by
// reading the controller's acknowledgement of the request, so its sync bytes are the
// controller's; the PC only ever overwrites code and number, and a re-send sends it unchanged.
// `lastFrameAck` is a copy of the last acknowledgement written for a frame.
struct ReplyAcks {
  PlcAck ack;
  PlcAck lastFrameAck;
};

// Reads one frame from `channel` and answers it:
//  - a header is a read of exactly 8 bytes, and must come on the first or second read;
//    a 6-byte unit with code 20 in its place makes the receiver repeat its last acknowledgement;
//    the third read fails the exchange with code 10;
//  - the payload is one read of as many bytes as the header's length says when that is 3 to
//    128, else of up to 128; exactly 2 bytes is an end marker;
//  - the frame is acknowledged with its number and code 10 when the checksum over the bytes
//    read matches and exactly as many arrived as its header announces, else code 20, in which
//    case the line is drained first, the controller repeats the frame and we wait again.
ReceivedFrame ReceiveFrame(CByteChannel& channel, ReplyAcks& acks);

// The order of the accepted frames of one message (a command reply, or one segment of a file
// being read): 1, 2, 3 and so on. A frame numbered like the one just taken is that frame again,
// sent by a controller that missed our acknowledgement (ReceiveFrame has answered it again).
class CFrameSequence {
 public:
  // True for the next frame, false for the frame just taken once more, whose data are in hand
  // already. Any other number fails the exchange with code 10: it would leave a gap in the data
  // or take part of them twice.
  bool Take(std::uint16_t number);

 private:
  std::uint16_t m_taken = 0;
};

}  // namespace cabrix
