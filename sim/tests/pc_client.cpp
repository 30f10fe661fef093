#include "pc_client.h"

#include <algorithm>
#include <array>
#include <vector>

#include "wire/frame.h"
#include "link/link_error.h"
#include "link/receive_frame.h"

namespace plcsim::testing {

using namespace cabrix;

namespace {

constexpr std::size_t kSegment = kSegmentSize;
const std::array<std::uint8_t, 6> kEndOfData = {0x55, 0x55, 0x0A, 0x00, 0x00, 0x00};
const std::array<std::uint8_t, 6> kPoll = {0x55, 0x55, 0x0A, 0x00, 0x01, 0x00};
const std::array<std::uint8_t, 9> kNextSegment = BuildNextSegmentRequest();

std::size_t ReadExactly(CByteChannel& ch, std::span<std::uint8_t> buf) {
  const std::size_t n = ch.Read(buf);
  if (n != buf.size()) throw CLinkError(kLinkBadReply);
  return n;
}

}  // namespace

CommandReply PcClient::Command(const std::string& text) {
  const auto request = BuildCommandRequest(text);
  if (!request) throw CLinkError(kLinkBadTcpArg);
  m_ch.Purge();
  m_ch.Write(*request);
  ReplyAcks acks;
  m_ch.Read(acks.ack.bytes());
  m_ch.Purge();
  acks.ack.set_code(kAckAccepted);
  acks.ack.set_number(0);
  m_ch.Write(acks.ack.bytes());

  CommandReply reply;
  std::string raw;
  for (;;) {
    const ReceivedFrame f = ReceiveFrame(m_ch, acks);
    if (f.endMarker) {
      acks.ack.set_number(static_cast<std::uint16_t>(acks.ack.number() + 1));
      m_ch.Write(acks.ack.bytes());
      std::uint8_t closing[6];
      m_ch.Read(closing);
      reply.endMarker = true;
      break;
    }
    const auto d = f.data();
    if (f.number == 1) {
      if (d.size() > 7) raw.append(d.begin() + 7, d.end());
    } else {
      raw.append(d.begin(), f.last ? d.end() - 1 : d.end());
    }
    if (f.last) {
      if (m_tcp) {
        std::uint8_t closing[6];
        m_ch.Read(closing);
      }
      break;
    }
  }
  reply.text = raw.substr(0, raw.find('\0'));
  return reply;
}

void PcClient::Upload(const std::string& name, const std::string& data) {
  const auto area = BuildNameArea(name);
  const std::size_t A = area.size();
  const std::uint64_t L = data.size();
  const bool whole = 6 + A + L <= kMaxPayload;
  const std::uint64_t N = whole ? 0 : (L + kSegment - 1) / kSegment;
  std::size_t at = 0;  // file bytes sent so far

  auto send = [&](PlcFrame& frame, bool ext) {
    for (int attempts = 0;;) {
      if (ext) {
        SetChecksumExt(static_cast<PlcFrameExt&>(frame), frame.length() - 6);
      } else {
        SetChecksum(frame, frame.length());
      }
      m_ch.Write(frame.wire());
      ++frameSendings;
      PlcAck reply;
      if (m_ch.Read(reply.bytes()) != kAckSize) throw CLinkError(kLinkBadReply);
      if (++attempts == 4) throw CLinkError(kLinkBadReply);
      if (reply.has_sync() && reply.code() == kAckAccepted && reply.number() == frame.number()) {
        return;
      }
    }
  };

  PlcFrameExt header;
  InitFrameExt(header);
  const bool small = 6 + A + L <= kSegment;
  header.set_length(static_cast<std::uint16_t>(whole ? 6 + A + L : kMaxPayload));
  header.set_last(whole ? 1 : 0);
  auto b = header.bytes();
  b[8] = kRequestWriteFile;
  b[9] = small ? 0 : 1;
  header.set_param2(static_cast<std::uint16_t>(small ? L : kSegment));
  header.set_param3(static_cast<std::uint16_t>(A));
  std::copy(area.begin(), area.end(), b.begin() + 14);
  const std::size_t d1 = std::min<std::size_t>(L, 122 - A);
  std::copy_n(data.begin(), d1, b.begin() + 14 + static_cast<std::ptrdiff_t>(A));
  at = d1;
  send(header, true);

  PlcFrame block;
  InitFrame(block);
  for (std::uint64_t s = 1; s <= N; ++s) {
    std::size_t u = 0;
    if (s == 1) {
      u = (N == 1 ? L : kSegment) - d1;
    } else {
      u = std::min<std::uint64_t>(kSegment, L - (s - 1) * kSegment) + 4;
    }
    const std::size_t blocks = (u + kMaxPayload - 1) / kMaxPayload;
    for (std::size_t k = 0; k < blocks; ++k) {
      block.set_number(static_cast<std::uint16_t>(block.number() + 1));
      const std::size_t len = k + 1 == blocks ? u - k * kMaxPayload : kMaxPayload;
      block.set_length(static_cast<std::uint16_t>(len));
      block.set_last(k + 1 == blocks ? 1 : 0);
      auto p = block.payload();
      std::size_t fileBytes = len;
      std::size_t into = 0;
      if (s > 1 && k == 0) {
        p[0] = kRequestWriteSegment;
        p[1] = 1;
        Write16le(p, 2, static_cast<std::uint16_t>(u - 4));
        into = 4;
        fileBytes = len - 4;
      }
      std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), fileBytes, p.begin() + static_cast<std::ptrdiff_t>(into));
      at += fileBytes;
      send(block, false);
    }
    if (s < N) {
      m_ch.Purge();
      block.set_number(0);
      m_ch.Write(kEndOfData);
      std::uint8_t eight[8];
      std::uint8_t two[2];
      ReadExactly(m_ch, eight);
      ReadExactly(m_ch, two);
      for (;;) {
        m_ch.Write(kPoll);
        PlcAck reply;
        ReadExactly(m_ch, reply.bytes());
        if (reply.code() == kAckAccepted) break;
      }
    }
  }

  m_ch.Write(kEndOfData);
  std::uint8_t eight[8];
  ReadExactly(m_ch, eight);
  m_ch.Read(eight);
  m_ch.Purge();
  std::array<std::uint8_t, 6> buf = kPoll;
  do {
    buf = kPoll;
    m_ch.Write(buf);
    m_ch.Read(buf);
  } while (!(buf[2] == 0x0A && buf[3] == 0x00));
}

std::optional<std::string> PcClient::Download(const std::string& name) {
  const auto area = BuildNameArea(name);
  std::vector<std::uint8_t> request(12 + area.size(), 0);
  request[0] = request[1] = kFrameSync;
  Write16le(request, 2, static_cast<std::uint16_t>(4 + area.size()));
  Write16le(request, 4, 1);
  request[7] = 1;
  request[8] = kRequestReadFile;
  request[10] = static_cast<std::uint8_t>(area.size());
  std::copy(area.begin(), area.end(), request.begin() + 12);
  request[6] = WireChecksum(request);

  ReplyAcks acks;
  for (int attempts = 0;;) {
    m_ch.Purge();
    m_ch.Write(request);
    m_ch.Read(acks.ack.bytes());
    if (++attempts == 3) throw CLinkError(kLinkCallFailed);
    if (acks.ack.code() == kAckAccepted) break;
  }

  std::string data;
  for (;;) {
    acks.ack.set_code(kAckAccepted);
    acks.ack.set_number(0);
    m_ch.Write(acks.ack.bytes());
    std::uint8_t more = 0;
    for (;;) {
      const ReceivedFrame f = ReceiveFrame(m_ch, acks);
      if (f.endMarker) return std::nullopt;
      const auto d = f.data();
      std::size_t from = f.number == 1 ? 6 : 0;
      std::size_t to = f.last ? d.size() - 1 : d.size();
      if (from < to) data.append(d.begin() + static_cast<std::ptrdiff_t>(from), d.begin() + static_cast<std::ptrdiff_t>(to));
      if (f.number == 1) more = d[2];
      if (f.last) break;
    }
    if (more != 1) break;
    for (;;) {
      m_ch.Read(acks.ack.bytes());
      if (acks.ack.code() == kAckAccepted) break;
      m_ch.Write(acks.lastFrameAck.bytes());
    }
    do {
      m_ch.Write(kNextSegment);
      ++segmentRequests;
      m_ch.Read(acks.ack.bytes());
    } while (acks.ack.code() != kAckAccepted);
  }
  if (m_tcp) {
    std::uint8_t closing[6];
    m_ch.Read(closing);
  }
  return data;
}

}  // namespace plcsim::testing
