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
#include "ops/outcome.h"

namespace cabrix {

class CCommandLink : public CPlcLink {
 public:
  // The observer hears of a serial port that cannot be had.
  explicit CCommandLink(COperationObserver& observer);
  ~CCommandLink() override;

  // Builds the command request for `text` into m_request. False, with nothing built, for a text
  // longer than the request's length byte can carry.
  bool BuildCommandFrame(std::string_view text);

  // Runs the prepared request over `channel`, which it opens, and gathers the reply into m_text;
  // done when the whole reply has arrived (the channel is then closed). An exchange that fails
  // leaves the channel as it was, for the caller to close. Starts with an empty m_text and
  // releases the request buffer once it has been written.
  COutcome Run(CByteChannel& channel);

  // The serial and the TCP form, by the names the operations call: each opens its channel, runs
  // the exchange and closes the channel its own way; true when the whole reply has arrived. A
  // serial port that cannot be had is told to the observer.
  bool RunSerial();                                  // m_port
  bool RunTcp(const platform::Ipv4Address& address);  // port 1200

  std::string m_text;
  std::vector<std::uint8_t> m_request;

 private:
  void ReleaseRequest();
  // Appends the text part of an accepted reply frame to m_text.
  void AddReplyText(const ReceivedFrame& frame);

  COperationObserver& m_observer;
};

}  // namespace cabrix
