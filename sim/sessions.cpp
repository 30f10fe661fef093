#include "sessions.h"

#include <algorithm>

#include "wire/frame.h"

namespace plcsim {

namespace {
constexpr std::size_t kEndMarkerPayload = 2;
}  // namespace

// `last` is set on every request frame but a file-header frame, which is last only for a small
// file.
bool IsRequest(const Unit& u) {
  if (!u.IsFrame() || u.Number() != 1 || !u.ChecksumOk()) return false;
  const std::uint8_t code = u.RequestCode();
  if (code == cabrix::kRequestWriteFile) return true;
  return u.Last() == 1 && (code == cabrix::kRequestCommand || code == cabrix::kRequestReadFile);
}

std::vector<std::uint8_t> ClosingUnit() { return ShortUnit(cabrix::kAckAccepted, 0); }

const FaultSpec* TakeFault(ExchangeEnv& env, const SiteRef& site,
                           std::initializer_list<FaultKind> kinds, const std::string& what) {
  const FaultSpec* f = env.faults.Take(site, kinds);
  if (f) env.io.Log().Fault(DescribeFiring(*f, site) + ": " + what);
  return f;
}

void ApplyExitAndDelay(ExchangeEnv& env, const SiteRef& site) {
  if (TakeFault(env, site, {FaultKind::kSilent}, "going silent")) throw FaultSilent();
  if (TakeFault(env, site, {FaultKind::kClose}, "closing the connection")) throw FaultClose();
  const FaultKind delay =
      site.site == Site::kReplyFrame ? FaultKind::kDelayFrame : FaultKind::kDelayAck;
  if (const FaultSpec* f = env.faults.Take(site, {delay})) {
    env.io.Log().Fault(DescribeFiring(*f, site) + ": waiting " + std::to_string(f->ms) + " ms");
    env.io.Pause(Millis(f->ms));
  }
}

std::vector<std::size_t> FrameSizes(std::size_t streamSize) {
  std::vector<std::size_t> sizes;
  std::size_t left = streamSize;
  while (left > 0) {
    std::size_t n = std::min(left, cabrix::kMaxPayload);
    // A final frame of 2 bytes would read as an end marker: move one byte into it.
    if (left - n == kEndMarkerPayload) n -= 1;
    sizes.push_back(n);
    left -= n;
  }
  return sizes;
}

std::vector<std::uint8_t> BuildFrame(std::uint16_t number, bool last,
                                     std::span<const std::uint8_t> payload) {
  cabrix::PlcFrame frame;
  cabrix::InitFrame(frame);
  frame.set_length(static_cast<std::uint16_t>(payload.size()));
  frame.set_number(number);
  frame.set_last(last ? 1 : 0);
  std::copy(payload.begin(), payload.end(), frame.payload().begin());
  cabrix::SetChecksum(frame, static_cast<int>(payload.size()));
  const auto wire = frame.wire();
  return {wire.begin(), wire.end()};
}

std::vector<std::uint8_t> EndMarkerFrame(std::uint16_t number) {
  const std::uint8_t payload[kEndMarkerPayload] = {0, 0};
  return BuildFrame(number, true, payload);
}

namespace {

// After a code-20 unit in place of a header the PC repeats its last acknowledgement.
void ReadRepeatedAck(ExchangeEnv& env) {
  const Unit u = env.io.Read();
  if (!u.IsShort()) throw ProtocolError("expected the PC to repeat its acknowledgement");
}

enum class Sending { kIntact, kDamaged, kEndMarker };

// Sends one reply frame, with whatever fault fires on this sending, and says how it went out.
Sending SendOneFrame(ExchangeEnv& env, const SiteRef& site,
                     const std::vector<std::uint8_t>& frame) {
  ApplyExitAndDelay(env, site);
  while (TakeFault(env, site, {FaultKind::kCode20Header}, "code-20 unit in place of the header")) {
    env.io.Send(ShortUnit(cabrix::kAckRejected, 0));
    ReadRepeatedAck(env);
  }
  if (TakeFault(env, site, {FaultKind::kEndMarker}, "end marker in place of the frame")) {
    env.io.Send(EndMarkerFrame(static_cast<std::uint16_t>(site.frame)));
    return Sending::kEndMarker;
  }
  if (TakeFault(env, site, {FaultKind::kBadChecksum}, "checksum off by one")) {
    std::vector<std::uint8_t> bad = frame;
    bad[cabrix::frame_offset::kChecksum] = static_cast<std::uint8_t>(bad[6] + 1);
    env.io.Send(bad);
    return Sending::kDamaged;
  }
  if (const FaultSpec* f = env.faults.Take(site, {FaultKind::kTruncate})) {
    const std::size_t payload = frame.size() - cabrix::kFrameHeaderSize;
    std::size_t keep = cabrix::kFrameHeaderSize + payload / 2;
    if (keep - cabrix::kFrameHeaderSize == kEndMarkerPayload) ++keep;
    if (f->bytes) keep = static_cast<std::size_t>(*f->bytes);
    keep = std::min(keep, frame.size());
    env.io.Log().Fault(DescribeFiring(*f, site) + ": sending " + std::to_string(keep) + " of " +
                       std::to_string(frame.size()) + " bytes");
    env.io.Send(std::span(frame).first(keep));
    return Sending::kDamaged;
  }
  if (const FaultSpec* f = env.faults.Take(site, {FaultKind::kOverlong})) {
    // Bytes that look like the start of a frame, so that a PC which took them for the next
    // header would show it.
    std::vector<std::uint8_t> longer = frame;
    longer.resize(frame.size() + static_cast<std::size_t>(f->bytes.value_or(4)), cabrix::kFrameSync);
    env.io.Log().Fault(DescribeFiring(*f, site) + ": " + std::to_string(longer.size() - frame.size()) +
                       " bytes beyond the frame's length");
    env.io.Send(longer);
    return Sending::kDamaged;
  }
  if (const FaultSpec* f = env.faults.Take(site, {FaultKind::kSplitFrame})) {
    const std::size_t first = std::min<std::size_t>(f->bytes.value_or(4), frame.size());
    env.io.Log().Fault(DescribeFiring(*f, site) + ": " + std::to_string(first) + " bytes, " +
                       std::to_string(f->ms) + " ms gap, the rest");
    env.io.Send(std::span(frame).first(first));
    env.io.Pause(Millis(f->ms));
    env.io.Send(std::span(frame).subspan(first));
    return Sending::kIntact;
  }
  env.io.Send(frame);
  return Sending::kIntact;
}

}  // namespace

ReplyOutcome SendReplyFrames(ExchangeEnv& env, Operation op, int segment,
                             std::span<const std::uint8_t> stream) {
  const std::vector<std::size_t> sizes = FrameSizes(stream.size());
  std::size_t offset = 0;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const auto number = static_cast<std::uint16_t>(i + 1);
    const bool last = i + 1 == sizes.size();
    const auto frame = BuildFrame(number, last, stream.subspan(offset, sizes[i]));
    const SiteRef site{op, Site::kReplyFrame, segment, number};
    offset += sizes[i];
    if (!last && TakeFault(env, site, {FaultKind::kSkipFrame}, "frame left out")) continue;
    bool send = true;
    bool repeated = false;
    Sending sent = Sending::kIntact;
    for (;;) {
      if (send) sent = SendOneFrame(env, site, frame);
      if (sent == Sending::kEndMarker) return ReplyOutcome::kEndMarker;
      send = true;
      Unit answer = env.io.Read();
      if (last && env.transport == Transport::kSerial && IsRequest(answer)) {
        // The PC took the last frame and closed the port; its acknowledgement was dropped when it
        // opened the port again and purged it, and this is its next request.
        env.io.Log().Note("no acknowledgement of the last frame; the PC has begun its next exchange");
        env.nextRequest = std::move(answer);
        break;
      }
      if (!answer.IsShort()) throw ProtocolError("a frame where the acknowledgement belongs");
      if (answer.Code() == cabrix::kAckRejected) {
        env.io.Log().Note("the PC rejected frame " + std::to_string(number) + "; sending it again");
        if (sent == Sending::kIntact) {
          env.Repeated("intact frame " + std::to_string(number) + " rejected");
        }
        continue;
      }
      if (answer.Code() == cabrix::kAckAccepted && answer.Number() == number) {
        env.repeats.Reset();
        if (repeated || !TakeFault(env, site, {FaultKind::kRepeatFrame},
                                   "the accepted frame again, as if its answer was lost")) {
          break;
        }
        repeated = true;
        env.io.Send(frame);
        send = false;  // the PC answers the repetition too
        continue;
      }
      throw ProtocolError("acknowledgement with code " + std::to_string(answer.Code()) +
                          " and number " + std::to_string(answer.Number()) + " for frame " +
                          std::to_string(number));
    }
  }
  return ReplyOutcome::kDelivered;
}

}  // namespace plcsim
