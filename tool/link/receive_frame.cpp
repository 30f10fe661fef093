#include "link/receive_frame.h"

#include "link/link_error.h"

namespace cabrix {

namespace {
constexpr int kHeaderAttempts = 3;
constexpr std::size_t kEndMarkerSize = 2;
// A controller that repeats a frame which never passes the checksum would keep the receiver
// answering code 20 for ever; after this many rejections in a row the exchange fails.
constexpr int kMaxRejections = 20;
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
      got = channel.Read(header.bytes().first(kFrameHeaderSize));
      // The controller did not take our last acknowledgement: it sends code 20 where a header
      // belongs, and we repeat the acknowledgement as it was.
      if (got == kAckSize && Read16le(header.bytes(), 2) == kAckRejected) {
        channel.Write(acks.ack.bytes());
      }
      if (++attempts == kHeaderAttempts) throw CLinkError(kLinkCallFailed);
      if (got == kFrameHeaderSize) break;
    }

    result.size = channel.Read(result.payload);
    if (result.size == kEndMarkerSize) {
      result.endMarker = true;
      result.number = header.number();
      result.last = header.last();
      return result;
    }

    CopyFrame(working, header.bytes(), result.data(), static_cast<int>(result.size));
    SetChecksum(working, static_cast<int>(result.size));
    // A frame whose header announces another payload length than arrived was cut short (or
    // runs on into what follows): its bytes cannot be trusted even where the 8-bit sum matches,
    // as it does whenever the missing tail is zero bytes. It is rejected like a bad checksum, and
    // the controller sends it again.
    const bool whole = header.length() == result.size;
    const bool good = whole && working.checksum() == header.checksum();

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
