// The file write: a file-header frame (0x2F) with the name and the first bytes, block frames,
// an end-of-data exchange after each segment. The file is received under a temporary name and
// gets its real name only once the write has ended, so that a broken transfer never leaves a half
// file in the store nor takes the older file away.
//
// The closing exchange looks on the wire like the one between two segments. After a short segment
// the file is complete, and it takes its name before the PC's last poll is answered. After a full
// 4500-byte segment another segment may follow, and the write has ended only when the PC does
// something else: it closes the connection, or on the serial line sends its next request or
// nothing for a while. A PC that stops after a full segment therefore leaves the file as far as
// that segment.
#include <string>

#include "wire/bytes.h"
#include "wire/frame.h"
#include "sessions.h"

namespace plcsim {

namespace {

constexpr std::size_t kSegmentBytes = cabrix::kSegmentSize;
constexpr std::size_t kSegmentHeaderSize = 4;  // 30 01 and the u16 byte count

struct Header {
  std::string name;
  bool sizeFlag = false;
  std::size_t firstSegment = 0;
  std::size_t nameArea = 0;  // A
  std::span<const std::uint8_t> data;  // D1
};

Header ParseHeader(const Unit& frame) {
  const auto p = frame.Payload();
  if (p.size() > cabrix::kMaxPayload) throw ProtocolError("file-header frame over 128 bytes");
  if (p.size() < 6) throw ProtocolError("file-header frame shorter than its parameters");
  Header h;
  if (p[1] > 1) throw ProtocolError("file-header frame with size flag " + std::to_string(p[1]));
  h.sizeFlag = p[1] == 1;
  h.firstSegment = cabrix::Read16le(p, 2);
  const std::size_t area = cabrix::Read16le(p, 4);
  if (area < 2 || 6 + area > p.size()) {
    throw ProtocolError("file-header frame with name-area length " + std::to_string(area));
  }
  const auto nameArea = p.subspan(6, area);
  std::size_t n = 0;
  while (n < nameArea.size() && nameArea[n] != 0) ++n;
  if (n == nameArea.size()) throw ProtocolError("file name without its zero byte");
  h.name.assign(nameArea.begin(), nameArea.begin() + static_cast<std::ptrdiff_t>(n));
  const NameCheck check = CheckName(h.name);
  if (check != NameCheck::kOk) {
    throw ProtocolError(std::string("write refused: ") + NameCheckText(check));
  }
  h.nameArea = area;
  h.data = p.subspan(6 + area);
  if (h.sizeFlag ? h.firstSegment != kSegmentBytes : h.firstSegment > kSegmentBytes) {
    throw ProtocolError("first-segment size " + std::to_string(h.firstSegment) +
                        " does not go with size flag " + std::to_string(h.sizeFlag));
  }
  if (h.data.size() > h.firstSegment) {
    throw ProtocolError("file-header frame carries more than the first segment");
  }
  return h;
}

class Upload {
 public:
  Upload(ExchangeEnv& env) : m_env(env) {}

  ExchangeResult Run(const Unit& first) {
    TakeHeader(first);
    std::optional<Unit> pending;
    for (;;) {
      Unit unit = pending ? std::move(*pending) : m_env.io.Read();
      pending.reset();
      if (unit.IsFrame()) {
        TakeBlock(unit);
        continue;
      }
      if (!SegmentComplete()) {
        throw ProtocolError("a 6-byte unit in the middle of segment " + std::to_string(m_segment));
      }
      if (unit.Code() != cabrix::kAckAccepted || unit.Number() != 0) {
        throw ProtocolError("expected the end-of-data message 55 55 0A 00 00 00");
      }
      AnswerEndOfData();
      if (!MoreMayFollow()) return {};
      // A full segment: the PC either goes on with the next one or is done, and only what it
      // does next tells. Until then the name keeps the older file.
      std::optional<Unit> next = NextAfterFullSegment();
      if (next && IsSegmentStart(*next)) {
        StartSegment();
        pending = std::move(next);
        continue;
      }
      Commit();
      if (next && m_env.transport == Transport::kTcp) {
        throw ProtocolError("unexpected unit after the closing exchange");
      }
      ExchangeResult r;
      r.next = std::move(next);
      return r;
    }
  }

 private:
  SiteRef Site(plcsim::Site where, int frame) const {
    return {Operation::kUpload, where, m_segment, frame};
  }

  // Answers a frame of the file: code 10 and its number when it is to be taken, else what a fault
  // or a bad checksum asks for. True when the frame's data are to be taken.
  bool Acknowledge(const Unit& frame) {
    const std::uint16_t number = frame.Number();
    const SiteRef site = Site(plcsim::Site::kFrameAck, number);
    ApplyExitAndDelay(m_env, site);
    std::vector<std::uint8_t> ack;
    bool take = false;
    if (!frame.ChecksumOk()) {
      m_env.io.Log().Note("frame " + std::to_string(number) + " has a wrong checksum: code 20");
      m_env.Repeated("frame " + std::to_string(number) + " with a wrong checksum");
      ack = ShortUnit(cabrix::kAckRejected, number);
    } else if (TakeFault(m_env, site, {FaultKind::kReject}, "answering code 20")) {
      ack = ShortUnit(cabrix::kAckRejected, number);
    } else if (TakeFault(m_env, site, {FaultKind::kWrongNumber}, "acknowledging number + 1")) {
      ack = ShortUnit(cabrix::kAckAccepted, static_cast<std::uint16_t>(number + 1));
    } else if (TakeFault(m_env, site, {FaultKind::kStaleAck}, "repeating the previous ack")) {
      ack = m_lastAck.empty() ? ShortUnit(cabrix::kAckAccepted, 0) : m_lastAck;
    } else {
      ack = ShortUnit(cabrix::kAckAccepted, number);
      take = true;
      m_env.repeats.Reset();
    }
    m_env.io.Send(ack);
    m_lastAck = ack;
    return take;
  }

  void TakeHeader(const Unit& first) {
    Unit frame = first;
    for (;;) {
      if (frame.Number() != 1) throw ProtocolError("file-header frame not numbered 1");
      // Check the contents only once the checksum says they are what the PC sent.
      std::optional<Header> header;
      if (frame.ChecksumOk()) header = ParseHeader(frame);
      if (header && !m_file) {
        auto file = m_env.store.BeginIncoming();
        if (!file) throw ProtocolError("cannot create a temporary file in the store");
        m_file.emplace(std::move(*file));
      }
      if (Acknowledge(frame)) {
        m_name = header->name;
        m_sizeFlag = header->sizeFlag;
        m_segmentExpected = header->firstSegment;
        m_nameArea = header->nameArea;
        Append(header->data);
        m_lastAccepted = 1;
        m_segmentLast = frame.Last() == 1;
        m_env.io.Log().Note("writing " + m_name + ", first segment " +
                            std::to_string(m_segmentExpected) + " bytes");
        CheckSegmentEnd();
        return;
      }
      Unit again = m_env.io.Read();
      // Only the same frame again: anything else (the PC's next exchange after it gave up on this
      // one, say) ends this exchange.
      if (again.bytes != frame.bytes && (frame.ChecksumOk() || !again.IsFrame() ||
                                         again.RequestCode() != cabrix::kRequestWriteFile)) {
        throw ProtocolError("expected the file-header frame again");
      }
      frame = std::move(again);
    }
  }

  void TakeBlock(const Unit& frame) {
    const std::uint16_t number = frame.Number();
    if (frame.Payload().size() > cabrix::kMaxPayload) throw ProtocolError("block over 128 bytes");
    if (m_lastAccepted != 0 && number == m_lastAccepted) {
      // The PC did not take our acknowledgement and sends the frame again: answer, keep the data.
      m_env.io.Log().Note("frame " + std::to_string(number) + " again; already taken");
      m_env.Repeated("frame " + std::to_string(number) + " sent again");
      const auto ack = ShortUnit(cabrix::kAckAccepted, number);
      m_env.io.Send(ack);
      m_lastAck = ack;
      return;
    }
    if (m_segmentLast) throw ProtocolError("a frame after the segment's last one");
    if (number != m_lastAccepted + 1) {
      throw ProtocolError("frame " + std::to_string(number) + " where " +
                          std::to_string(m_lastAccepted + 1) + " belongs");
    }
    if (!Acknowledge(frame)) return;
    auto data = frame.Payload();
    if (m_segment > 1 && number == 1) {
      if (data.size() < kSegmentHeaderSize || data[0] != cabrix::kRequestWriteSegment ||
          data[1] != 1) {
        throw ProtocolError("segment " + std::to_string(m_segment) + " without its header");
      }
      m_segmentExpected = cabrix::Read16le(data, 2);
      if (m_segmentExpected == 0 || m_segmentExpected > kSegmentBytes) {
        throw ProtocolError("segment size " + std::to_string(m_segmentExpected));
      }
      data = data.subspan(kSegmentHeaderSize);
    }
    Append(data);
    m_lastAccepted = number;
    m_segmentLast = frame.Last() == 1;
    CheckSegmentEnd();
  }

  void Append(std::span<const std::uint8_t> data) {
    m_segmentGot += data.size();
    if (m_segmentGot > m_segmentExpected) {
      throw ProtocolError("segment " + std::to_string(m_segment) + " holds more than the " +
                          std::to_string(m_segmentExpected) + " bytes announced");
    }
    if (!m_file->Append(data)) throw ProtocolError("cannot write to the store");
  }

  void CheckSegmentEnd() {
    // A file a little shorter than a segment still has its header announce a whole segment when
    // the parameters and the name area push it past 4500 bytes: that first segment ends with the
    // file, at its last frame, and nothing follows it.
    if (m_segment == 1 && m_sizeFlag && m_segmentLast && m_segmentGot < m_segmentExpected &&
        6 + m_nameArea + m_segmentGot > kSegmentBytes) {
      m_segmentExpected = m_segmentGot;
      return;
    }
    if (m_segmentLast != (m_segmentGot == m_segmentExpected)) {
      throw ProtocolError("segment " + std::to_string(m_segment) + " ends after " +
                          std::to_string(m_segmentGot) + " of " +
                          std::to_string(m_segmentExpected) + " bytes");
    }
  }

  bool SegmentComplete() const { return m_segmentLast; }

  // Only a full 4500-byte segment of a file whose header announced more can be followed by
  // another one.
  bool MoreMayFollow() const { return m_sizeFlag && m_segmentExpected == kSegmentBytes; }

  static bool IsSegmentStart(const Unit& u) {
    const auto p = u.Payload();
    return u.IsFrame() && u.Number() == 1 && p.size() >= 2 &&
           p[0] == cabrix::kRequestWriteSegment && p[1] == 1;
  }

  void StartSegment() {
    ++m_segment;
    m_segmentGot = 0;
    m_segmentExpected = kSegmentBytes;  // until the segment header says otherwise
    m_segmentLast = false;
    m_lastAccepted = 0;
  }

  // After the PC's end-of-data message: an 8-byte and a 2-byte unit, then code 10 to its polls.
  void AnswerEndOfData() {
    const SiteRef eod = Site(plcsim::Site::kEndOfData, 0);
    ApplyExitAndDelay(m_env, eod);
    std::vector<std::uint8_t> first = ShortUnit(cabrix::kAckAccepted,
                                                static_cast<std::uint16_t>(m_segment));
    first.resize(8);
    cabrix::Write16le(first, 6, static_cast<std::uint16_t>(m_segmentGot));
    m_env.io.Send(first);
    const std::uint8_t second[2] = {0x0A, 0x00};
    m_env.io.Send(second);

    for (;;) {
      const Unit poll = m_env.io.Read();
      if (!poll.IsShort() || poll.Number() != 1) {
        throw ProtocolError("expected the poll message 55 55 0A 00 01 00");
      }
      const SiteRef site = Site(plcsim::Site::kPollAnswer, 0);
      ApplyExitAndDelay(m_env, site);
      if (TakeFault(m_env, site, {FaultKind::kReject}, "answering the poll with code 20")) {
        m_env.io.Send(ShortUnit(cabrix::kAckRejected, static_cast<std::uint16_t>(m_segment)));
        continue;
      }
      // After a short segment the file is complete, and the PC counts it as written once it has
      // this answer: the store has it first.
      if (!MoreMayFollow()) Commit();
      m_env.io.Send(ShortUnit(cabrix::kAckAccepted, static_cast<std::uint16_t>(m_segment)));
      return;
    }
  }

  // What the PC sends after a full segment has been answered: the start of another segment, or
  // anything else, which ends the write. nullopt when the PC closed the connection or sent
  // nothing: the write has ended as well. A unit that breaks off, or a stop of the simulator,
  // throws: the write is abandoned and the name keeps the older file.
  std::optional<Unit> NextAfterFullSegment() {
    try {
      if (m_env.transport == Transport::kTcp) return m_env.io.Read();
      return m_env.io.TryRead(m_env.continuationWindow);
    } catch (const StreamClosed&) {
    } catch (const IdleTimeout&) {
    }
    return std::nullopt;
  }

  // Gives the file its name.
  void Commit() {
    if (!m_file->Commit(m_name)) throw ProtocolError("cannot give " + m_name + " its name");
    m_env.io.Log().Note("stored " + m_name + ", " + std::to_string(m_file->Size()) + " bytes in " +
                        std::to_string(m_segment) + " segment(s)");
  }

  ExchangeEnv& m_env;
  std::optional<IncomingFile> m_file;
  std::string m_name;
  bool m_sizeFlag = false;
  std::size_t m_nameArea = 0;
  int m_segment = 1;
  std::size_t m_segmentExpected = 0;
  std::size_t m_segmentGot = 0;
  bool m_segmentLast = false;
  std::uint16_t m_lastAccepted = 0;
  std::vector<std::uint8_t> m_lastAck;
};

}  // namespace

ExchangeResult ServeUpload(ExchangeEnv& env, const Unit& request) {
  Upload upload(env);
  return upload.Run(request);
}

}  // namespace plcsim
