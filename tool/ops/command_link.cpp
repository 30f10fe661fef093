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
  return true;
}

void CCommandLink::ReleaseRequest() {
  m_request.clear();
  m_request.shrink_to_fit();
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

COutcome CCommandLink::Run(CByteChannel& channel) {
  m_text.clear();
  try {
    channel.Open(kCommandTimeouts);
    channel.FlushPort();
    const std::vector<std::uint8_t> request = std::move(m_request);
    ReleaseRequest();
    channel.Write(request);

    ReplyAcks acks;
    channel.Read(acks.ack.bytes());  // the controller's acknowledgement of the request
    channel.FlushPort();
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
        channel.CloseWithoutShutdown();
        return {OutcomeKind::kDone};
      }
      if (!sequence.Take(frame.number)) continue;
      AddReplyText(frame);
      if (frame.last == 1) {
        channel.ReadClosingMessage();
        channel.Close();
        return {OutcomeKind::kDone};
      }
    }
  } catch (const CLinkError& error) {
    ReleaseRequest();
    return OutcomeOfCode(error.Code());
  }
}

bool CCommandLink::RunSerial() {
  CSerialChannel channel(*this, m_port);
  const COutcome outcome = Run(channel);
  if (outcome == COutcome{OutcomeKind::kLinkFailed, kLinkCannotOpen}) {
    m_observer.Message(MessageKind::kAlert, msg::kPortBusy.view());
  }
  channel.Close();
  return outcome.Done();
}

bool CCommandLink::RunTcp(const platform::Ipv4Address& address) {
  CTcpChannel channel(*this, address);
  const COutcome outcome = Run(channel);
  // A connection that broke off is given a moment before it is shut down; a stop request cuts
  // the moment short.
  if (!outcome.Done() && channel.IsOpen()) {
    platform::WaitForStop(kPauseAfterTcpFailure);
    channel.Close();
  }
  return outcome.Done();
}

}  // namespace cabrix
