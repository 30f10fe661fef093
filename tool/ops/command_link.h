// The command exchange: one command request ("PLCInfo", "filedir", "filedelete <name>") and the
// controller's text reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "link/plc_link.h"
#include "link/receive_frame.h"
#include "ops/observer.h"

namespace cabrix {

class CCommandLink : public CPlcLink {
 public:
  // The observer hears of a serial port that cannot be had.
  explicit CCommandLink(COperationObserver& observer);
  ~CCommandLink() override;
  int Work() override { return 0; }

  // Builds the command request for `text` into m_request. False, with nothing built, for a text
  // longer than the request's length byte can carry.
  bool BuildCommandFrame(std::string_view text);

  // Run the prepared request over the serial port m_port, or over TCP to `address` port 1200,
  // and gather the reply into m_text. True when the whole reply has arrived. Each exchange
  // starts with an empty m_text and releases the request buffer once it has been written.
  bool RunSerial();
  bool RunTcp(const platform::Ipv4Address& address);

  std::string m_text;
  std::vector<std::uint8_t> m_request;
  int m_requestLen = 0;
  platform::SerialPort m_hPort;
  platform::TcpSocket m_socket;

 private:
  enum class ReplyEnd { kLastFrame, kEndMarker };
  // Sends the request, gives the go-ahead and takes in the reply; serial exchanges purge the
  // port between the request's acknowledgement and the go-ahead.
  ReplyEnd Exchange(CByteChannel& channel, bool serial);
  void ReleaseRequest();
  // Appends the text part of an accepted reply frame to m_text.
  void AddReplyText(const ReceivedFrame& frame);

  COperationObserver& m_observer;
};

}  // namespace cabrix
