// Link failure codes. A transport or exchange step that fails leaves through CLinkError, which
// carries one of these integers; the exchange or the per-file loop that started the step catches
// it, closes what it opened and turns the code into its result.
#pragma once

#include <exception>

namespace cabrix {

enum LinkCode : int {
  kLinkBadTcpArg = 0,          // the /TCP text does not hold four numbers
  kLinkStopped = 2,            // the link's stop event is signalled
  kLinkBadReply = 3,           // a reply of the wrong size, or a frame sent four times in vain
  kLinkShortWrite = 4,         // nothing or not everything was written or sent
  kLinkNoData = 5,             // nothing arrived in time, or the controller closed the connection
  kLinkSetTimeoutsFailed = 6,  // the serial time-outs cannot be set
  kLinkSetStateFailed = 7,     // the serial line settings cannot be set
  kLinkCannotOpen = 8,         // the port cannot be opened, or the connection cannot be made
  kLinkGetStateFailed = 9,     // the serial line settings cannot be read
  kLinkCallFailed = 10,        // a system call failed, or a reply header never came
  kLinkPcFileOpen = 111,       // the PC file cannot be opened for reading
  kLinkPcFileCreate = 112,     // the PC file cannot be created (TCP download)
};

class CLinkError : public std::exception {
 public:
  explicit CLinkError(int code) : m_code(code) {}
  int Code() const { return m_code; }
  const char* what() const noexcept override { return "link failure"; }

 private:
  int m_code;
};

// A short English description of a code, for logs and test messages.
const char* LinkCodeText(int code);

// The link itself failed: nothing arrived, the port or the connection could not be had, a call
// on it failed (writing, setting the line up). A reply that makes no sense, a stop and the PC
// file's failures are not among them.
bool IsLinkFailure(int code);

}  // namespace cabrix
