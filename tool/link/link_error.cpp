#include "link/link_error.h"

namespace cabrix {

const char* LinkCodeText(int code) {
  switch (code) {
    case kLinkBadTcpArg: return "the /TCP text does not hold four numbers";
    case kLinkStopped: return "the stop event is signalled";
    case kLinkBadReply: return "a reply of the wrong size, or a frame never accepted";
    case kLinkShortWrite: return "not everything was written";
    case kLinkNoData: return "nothing arrived in time, or the connection was closed";
    case kLinkSetTimeoutsFailed: return "the serial time-outs cannot be set";
    case kLinkSetStateFailed: return "the serial line settings cannot be set";
    case kLinkCannotOpen: return "the port or the connection cannot be opened";
    case kLinkGetStateFailed: return "the serial line settings cannot be read";
    case kLinkCallFailed: return "a call failed, or a reply header never came";
    case kLinkPcFileOpen: return "the PC file cannot be opened";
    case kLinkPcFileCreate: return "the PC file cannot be created";
    default: return "unknown link failure";
  }
}

bool IsLinkFailure(int code) {
  switch (code) {
    case kLinkShortWrite:
    case kLinkNoData:
    case kLinkSetTimeoutsFailed:
    case kLinkSetStateFailed:
    case kLinkCannotOpen:
    case kLinkGetStateFailed:
    case kLinkCallFailed: return true;
    default: return false;
  }
}

}  // namespace cabrix
