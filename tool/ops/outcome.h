// How an operation ended: the one result that the command exchange, the file write and the file
// read return. Inside an exchange a failing step still raises CLinkError with its code; the
// operation's entry point catches it at its edge and returns it as an outcome.
#pragma once

namespace cabrix {

enum class OutcomeKind {
  kDone,
  kNoSuchFile,    // the controller answered a read with its end marker
  kRefused,       // the name has no controller form
  kNameTooLong,   // the name does not fit into the frames
  kPcFileFailed,  // the PC file could not be opened, created, read or written
  kLinkFailed,    // a link failure code ended the exchange
  kStopped,       // the program was asked to stop
};

struct COutcome {
  OutcomeKind kind = OutcomeKind::kDone;
  // kLinkFailed: the link failure code. kPcFileFailed: kLinkPcFileOpen (it cannot be opened for
  // reading), kLinkPcFileCreate (it cannot be created or put in place) or kTransferPcFileIo
  // (reading or writing it failed). 0 otherwise.
  int code = 0;

  bool Done() const { return kind == OutcomeKind::kDone; }
  friend bool operator==(const COutcome&, const COutcome&) = default;
};

// The outcome of an exchange that a step ended with this code.
COutcome OutcomeOfCode(int code);

}  // namespace cabrix
