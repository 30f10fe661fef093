// The file read: request 0x31 with the name, acknowledged; after the go-ahead the file in
// segments of at most 4500 bytes, each a run of frames numbered from 1 whose first payload opens
// with a 6-byte segment header (byte 2: another segment follows) and whose last frame carries one
// trailing byte. Between segments a 6-byte unit, then the PC's next-segment request (0x32) and a
// new go-ahead. A file that is not in the store is answered with an end marker.
#include <string>

#include "wire/bytes.h"
#include "wire/frame.h"
#include "sessions.h"

namespace plcsim {

namespace {

constexpr std::size_t kSegmentBytes = cabrix::kSegmentSize;
constexpr std::size_t kSegmentHeaderSize = 6;

// The name from a read request: byte 10 the name-area length A, the name area at 12.
std::optional<std::string> RequestedName(ExchangeEnv& env, const Unit& request) {
  const auto p = request.Payload();
  if (p.size() < 4) throw ProtocolError("read request shorter than its fixed part");
  const std::size_t area = p[2];
  if (area < 2 || 4 + area > p.size()) {
    throw ProtocolError("read request with name-area length " + std::to_string(area));
  }
  const auto nameArea = p.subspan(4, area);
  std::size_t n = 0;
  while (n < nameArea.size() && nameArea[n] != 0) ++n;
  if (n == nameArea.size()) throw ProtocolError("file name without its zero byte");
  std::string name(nameArea.begin(), nameArea.begin() + static_cast<std::ptrdiff_t>(n));
  const NameCheck check = CheckName(name);
  if (check != NameCheck::kOk) {
    env.io.Log().Problem("read of a refused name (" + std::string(NameCheckText(check)) +
                         "): answering as for a missing file");
    return std::nullopt;
  }
  return name;
}

// Acknowledges a request frame (read or next-segment) until the PC has its code 10 and sends the
// go-ahead. `again` says which request code the PC repeats.
void AcceptRequest(ExchangeEnv& env, Unit request, int segment, std::uint8_t again) {
  for (;;) {
    const SiteRef site{Operation::kDownload, Site::kRequestAck, segment, 1};
    ApplyExitAndDelay(env, site);
    bool accept = request.ChecksumOk();
    if (!accept) {
      env.io.Log().Note("request with a wrong checksum: code 20");
      env.Repeated("a request with a wrong checksum");
    }
    if (accept && TakeFault(env, site, {FaultKind::kRejectRequest}, "answering code 20")) {
      accept = false;
    }
    env.io.Send(ShortUnit(accept ? cabrix::kAckAccepted : cabrix::kAckRejected, 1));
    Unit next = env.io.Read();
    if (next.IsShort()) {
      if (!accept) throw ProtocolError("a go-ahead after a rejected request");
      env.repeats.Reset();
      return;
    }
    // The PC sends the very same request again; anything else (over the serial line, say, the
    // request of its next exchange after it gave up on this one) ends this exchange.
    if (next.bytes != request.bytes &&
        (request.ChecksumOk() || next.RequestCode() != again)) {
      throw ProtocolError("expected the go-ahead or the request again");
    }
    request = std::move(next);
  }
}

std::vector<std::uint8_t> SegmentStream(int segment, bool more,
                                        std::span<const std::uint8_t> data) {
  std::vector<std::uint8_t> s(kSegmentHeaderSize, 0);
  s[0] = cabrix::kRequestNextSegment;
  s[1] = static_cast<std::uint8_t>(segment);
  s[2] = more ? 1 : 0;
  cabrix::Write16le(s, 4, static_cast<std::uint16_t>(data.size()));
  s.insert(s.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (const auto b : data) sum += b;
  s.push_back(static_cast<std::uint8_t>(sum));  // the trailing byte: the data's sum
  return s;
}

// Between segments: the 6-byte unit, then the PC's next-segment request.
void BetweenSegments(ExchangeEnv& env, int segment) {
  const SiteRef site{Operation::kDownload, Site::kSegmentUnit, segment, 0};
  ApplyExitAndDelay(env, site);
  const auto unit = ShortUnit(cabrix::kAckAccepted, static_cast<std::uint16_t>(segment));
  env.io.Send(unit);
  for (;;) {
    Unit next = env.io.Read();
    if (next.IsShort()) {
      // The PC did not take the unit and repeats its acknowledgement of the last frame.
      env.Repeated("an acknowledgement again where the next-segment request belongs");
      env.io.Send(unit);
      continue;
    }
    if (next.RequestCode() != cabrix::kRequestNextSegment) {
      throw ProtocolError("expected the next-segment request");
    }
    AcceptRequest(env, std::move(next), segment + 1, cabrix::kRequestNextSegment);
    return;
  }
}

}  // namespace

ExchangeResult ServeDownload(ExchangeEnv& env, const Unit& request) {
  const std::optional<std::string> name = RequestedName(env, request);
  std::optional<StoreReader> file;
  if (name) file = env.store.OpenForRead(*name);
  env.io.Log().Note("read of " + name.value_or("(refused name)") +
                    (file ? ", " + std::to_string(file->Size()) + " bytes" : ": not in the store"));

  AcceptRequest(env, request, 1, cabrix::kRequestReadFile);

  if (!file) {
    const SiteRef site{Operation::kDownload, Site::kReplyFrame, 1, 1};
    ApplyExitAndDelay(env, site);
    env.io.Send(EndMarkerFrame(1));
    return {};
  }

  const std::uint64_t size = file->Size();
  const std::uint64_t segments = size == 0 ? 1 : (size + kSegmentBytes - 1) / kSegmentBytes;
  std::vector<std::uint8_t> data(kSegmentBytes);
  for (std::uint64_t s = 1; s <= segments; ++s) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kSegmentBytes, size - (s - 1) * kSegmentBytes));
    const auto got = file->Read(std::span(data).first(want));
    if (!got || *got != want) throw ProtocolError("cannot read " + *name + " from the store");
    const bool more = s < segments;
    const auto stream = SegmentStream(static_cast<int>(s), more, std::span(data).first(want));
    if (SendReplyFrames(env, Operation::kDownload, static_cast<int>(s), stream) ==
        ReplyOutcome::kEndMarker) {
      return {};  // the PC stops at an end marker
    }
    if (more) BetweenSegments(env, static_cast<int>(s));
  }
  if (env.transport == Transport::kTcp) {
    const SiteRef site{Operation::kDownload, Site::kClosingUnit, static_cast<int>(segments), 0};
    ApplyExitAndDelay(env, site);
    env.io.Send(ClosingUnit());
  }
  env.io.Log().Note("sent " + *name + " in " + std::to_string(segments) + " segment(s)");
  return {};
}

}  // namespace plcsim
