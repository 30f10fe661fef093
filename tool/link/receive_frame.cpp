#include "link/receive_frame.h"

#include "link/link_error.h"

namespace cabrix {

namespace {
constexpr int kHeaderAttempts = 3;
constexpr std::size_t kEndMarkerSize = 2;
// A controller that repeats a frame which never passes the checksum would keep the receiver
// answering code 20 for ever; after this many rejections in a row the exchange fails.
constexpr int kMaxRejections = 20;

// How many payload bytes to ask for. A length from 3 to 128 sizes the read, so that a whole frame
// is in the moment its last byte is. A length of 2 or less may be an end marker's, which is known
// only by the count that arrives; a length over 128 is more than the receiver takes. Either way
// the read asks for 128 and ends when the line goes quiet.
std::size_t PayloadReadSize(std::uint16_t length) {
  return length > kEndMarkerSize && length <= kMaxPayload ? length : kMaxPayload;
}
}  // namespace

ReceivedFrame ReceiveFrame(CByteChannel& channel, ReplyAcks& acks) {
  PlcFrame header;
  InitFrame(header);
  PlcFrame working;
  InitFrame(working);
  ReceivedFrame result;

  for (int rejections = 0;; ++rejections) {
    if (rejections == kMaxRejections) throw CLinkError(kLinkCallFailed);
    int attempts = 0;
    std::size_t got = 0;
    for (;;) {
      got = channel.ReadUnit(header.bytes().first(kFrameHeaderSize));
      // The controller did not take our last acknowledgement: it sends code 20 where a header
      // belongs, and we repeat the acknowledgement as it was.
      if (got == kAckSize && Read16le(header.bytes(), 2) == kAckRejected) {
        channel.Write(acks.ack.bytes());
      }
      if (++attempts == kHeaderAttempts) throw CLinkError(kLinkCallFailed);
      if (got == kFrameHeaderSize) break;
    }

    const std::size_t wanted = PayloadReadSize(header.length());
    result.size = channel.ReadUnit(std::span(result.payload).first(wanted));
    if (result.size == kEndMarkerSize) {
      result.endMarker = true;
      result.number = header.number();
      result.last = header.last();
      return result;
    }

    CopyFrame(working, header.bytes(), result.data(), static_cast<int>(result.size));
    SetChecksum(working, static_cast<int>(result.size));
    // A frame whose header announces another payload length than arrived was cut short, or
    // carries more than its length says (bytes already behind a read sized from it): its bytes
    // cannot be trusted even where the 8-bit sum matches, as it does whenever a missing tail is
    // zero bytes. It is rejected like a bad checksum, and the controller sends it again.
    bool whole = header.length() == result.size;
    if (whole) {
      std::uint8_t beyond[1];
      whole = channel.ReadAvailable(beyond) == 0;
    }
    const bool good = whole && working.checksum() == header.checksum();

    // Before a rejection the line is drained until it goes quiet: what remains of this frame
    // (or arrives late) must not be taken for the header of its repetition.
    if (!good) channel.DrainUntilQuiet();
    acks.ack.set_number(header.number());
    acks.ack.set_code(good ? kAckAccepted : kAckRejected);
    channel.Write(acks.ack.bytes());
    acks.lastFrameAck = acks.ack;

    if (good) {
      result.number = header.number();
      result.last = header.last();
      return result;
    }
    // A rejected frame is dropped; the controller repeats it.
  }
}

bool CFrameSequence::Take(std::uint16_t number) {
  if (m_taken != 0 && number == m_taken) return false;
  if (number != m_taken + 1) throw CLinkError(kLinkCallFailed);
  m_taken = number;
  return true;
}

}  // namespace cabrix
