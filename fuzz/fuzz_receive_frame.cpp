// The receive procedure as the reply exchanges run it: the controller's acknowledgement of the
// request is read into the acknowledgement state, the go-ahead goes out, and then frame after
// frame is taken in with that state carried from one frame to the next. Whatever the controller
// sends, the procedure either fails with a link failure code or hands over a frame that is
// consistent with the bytes read and has been acknowledged correctly.
#include <cstddef>
#include <cstdint>

#include "fuzz_channel.h"
#include "wire/frame.h"
#include "link/receive_frame.h"

namespace {

using cabrix::kAckSize;
using cabrix::kFrameHeaderSize;

// The checksum a receiver expects: the sync bytes count as AA AA whatever arrived.
std::uint8_t ExpectedChecksum(const std::vector<std::uint8_t>& header,
                              const std::vector<std::uint8_t>& payload) {
  unsigned sum = 2u * cabrix::kFrameSync;
  for (std::size_t i = 2; i < kFrameHeaderSize; ++i) {
    if (i != cabrix::frame_offset::kChecksum) sum += header[i];
  }
  for (const std::uint8_t b : payload) sum += b;
  return static_cast<std::uint8_t>(sum);
}

void CheckFrame(const cabrix::ReceivedFrame& frame, const fuzzing::FuzzChannel& channel,
                const cabrix::ReplyAcks& acks) {
  for (const auto& w : channel.writes) FUZZ_CHECK(w.size() == kAckSize);
  // The frame came from the last two reads: the 8-byte header and the payload read.
  FUZZ_CHECK(channel.reads.size() >= 2);
  const auto& header = channel.reads[channel.reads.size() - 2];
  const auto& payload = channel.reads.back();
  FUZZ_CHECK(header.size() == kFrameHeaderSize);
  FUZZ_CHECK(frame.size == payload.size());
  FUZZ_CHECK(frame.size >= 1 && frame.size <= cabrix::kMaxPayload);
  FUZZ_CHECK(std::equal(payload.begin(), payload.end(), frame.data().begin()));
  FUZZ_CHECK(frame.number == cabrix::Read16le(header, cabrix::frame_offset::kNumber));
  FUZZ_CHECK(frame.last == header[cabrix::frame_offset::kLast]);
  FUZZ_CHECK(frame.endMarker == (frame.size == 2));
  if (frame.endMarker) return;

  // An accepted frame has a good checksum and has been answered with code 10 and its number.
  FUZZ_CHECK(ExpectedChecksum(header, payload) == header[cabrix::frame_offset::kChecksum]);
  FUZZ_CHECK(!channel.writes.empty());
  const auto& ack = channel.writes.back();
  FUZZ_CHECK(cabrix::Read16le(ack, 2) == cabrix::kAckAccepted);
  FUZZ_CHECK(cabrix::Read16le(ack, 4) == frame.number);
  FUZZ_CHECK(acks.lastFrameAck == acks.ack);
  FUZZ_CHECK(std::equal(ack.begin(), ack.end(), acks.ack.bytes().begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::RecordReader input({data, size});
  fuzzing::FuzzChannel channel(input);
  cabrix::ReplyAcks acks;
  try {
    channel.Read(acks.ack.bytes());  // the controller's acknowledgement of the request
    acks.ack.set_code(cabrix::kAckAccepted);
    acks.ack.set_number(0);
    channel.Write(acks.ack.bytes());  // go-ahead
    // A download goes on after a frame marked last (the next segment), so the loop does too;
    // every read consumes input, which bounds it.
    for (;;) {
      channel.Forget();
      const cabrix::ReceivedFrame frame = cabrix::ReceiveFrame(channel, acks);
      CheckFrame(frame, channel, acks);
    }
  } catch (const cabrix::CLinkError& error) {
    FUZZ_CHECK(error.Code() == cabrix::kLinkNoData || error.Code() == cabrix::kLinkCallFailed);
  }
  return 0;
}
