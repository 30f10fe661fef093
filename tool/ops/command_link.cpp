#include "ops/command_link.h"

#include <chrono>

#include "link/link_error.h"
#include "ops/exchange.h"
#include "platform/stop_request.h"
#include "text/messages.h"

namespace cabrix {

namespace {

// The first frame of a reply starts with a preamble that is not part of the text.
constexpr std::size_t kReplyPreamble = 7;

constexpr auto kPauseAfterTcpFailure = std::chrono::milliseconds(500);

}  // namespace

CCommandLink::CCommandLink(COperationObserver& observer) : m_text(), m_observer(observer) {}

CCommandLink::~CCommandLink() = default;

bool CCommandLink::BuildCommandFrame(std::string_view text) {
  auto request = BuildCommandRequest(text);
  if (!request) return false;
  m_request = std::move(*request);
  m_requestLen = static_cast<int>(m_request.size());
  return true;
}

void CCommandLink::ReleaseRequest() {
  m_request.clear();
  m_request.shrink_to_fit();
  m_requestLen = 0;
}

void CCommandLink::AddReplyText(const ReceivedFrame& frame) {
  const auto data = frame.data();
  std::size_t from = 0;
  std::size_t to = data.size();
  if (frame.number == 1) {
    from = kReplyPreamble;
  } else if (frame.last == 1 && to > 0) {
    to -= 1;  // the text's terminating zero byte
  }
  if (from < to) m_text.append(data.begin() + from, data.begin() + to);
}

CCommandLink::ReplyEnd CCommandLink::Exchange(CByteChannel& channel, bool serial) {
  const std::vector<std::uint8_t> request = std::move(m_request);
  ReleaseRequest();
  channel.Write(request);

  ReplyAcks acks;
  channel.Read(acks.ack.bytes());  // the controller's acknowledgement of the request
  if (serial) PurgeSerial(m_hPort);
  acks.ack.set_code(kAckAccepted);
  acks.ack.set_number(0);
  channel.Write(acks.ack.bytes());  // go-ahead

  CFrameSequence sequence;  // a frame sent again adds no text
  for (;;) {
    const ReceivedFrame frame = ReceiveFrame(channel, acks);
    if (frame.endMarker) {
      acks.ack.set_number(static_cast<std::uint16_t>(acks.ack.number() + 1));
      channel.Write(acks.ack.bytes());
      std::uint8_t answer[kAckSize];
      channel.Read(answer);
      return ReplyEnd::kEndMarker;
    }
    if (!sequence.Take(frame.number)) continue;
    AddReplyText(frame);
    if (frame.last == 1) return ReplyEnd::kLastFrame;
  }
}

bool CCommandLink::RunSerial() {
  m_text.clear();
  try {
    m_hPort = OpenSerial(m_port);
    ConfigureFor(*this, m_hPort, kCommandTimeouts);
    PurgeSerial(m_hPort);
    CSerialChannel channel(*this, m_hPort);
    Exchange(channel, true);
    m_hPort.Close();
    return true;
  } catch (const CLinkError& error) {
    ReleaseRequest();
    if (error.Code() == kLinkCannotOpen) {
      m_observer.Message(MessageKind::kAlert, msg::kPortBusy.view());
    }
    m_hPort.Close();
    return false;
  }
}

bool CCommandLink::RunTcp(const platform::Ipv4Address& address) {
  m_text.clear();
  SetReceiveBound(kCommandTimeouts.readMultiplier, kCommandTimeouts.readConstant);
  m_socket = ConnectTcp(PLC_PORT, address);
  if (!m_socket.IsOpen()) {
    ReleaseRequest();
    return false;
  }
  try {
    CTcpChannel channel(*this, m_socket);
    if (Exchange(channel, false) == ReplyEnd::kLastFrame) {
      std::uint8_t closing[kAckSize];
      channel.Read(closing);  // the controller's closing message
      m_socket.Shutdown();
    }
    m_socket.Close();
    return true;
  } catch (const CLinkError&) {
    ReleaseRequest();
    if (m_socket.IsOpen()) {
      platform::WaitForStop(kPauseAfterTcpFailure);  // a stop request cuts it short
      m_socket.Shutdown();
      m_socket.Close();
    }
    return false;
  }
}

}  // namespace cabrix
