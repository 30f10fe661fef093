// The console program that the front end runs for listing, information, reading and deleting.
// It takes the console tool's link switches and /FLDR, one action (/dir, /info, /del, /get,
// /up) and the names after it, talks over exactly the link it is given (no fall-back), and tells
// the outcome by its exit status alone. /dir prints the listed names and /info the lines of the
// information record as the controller's own Windows-1251 bytes, each line ending in CR LF; /get
// and /del take names in that same form, /up takes PC file names. The statuses:
//   0 done; 100 the link failed; 110 a PC file could not be opened or created; 111 a name too
//   long for the frames; 112 the controller did not delete; 120 / 121 one / several files could
//   not be read from the controller; 130 / 131 one / several could not be written; 200 a bad
//   command line; 201 an internal error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ops/outcome.h"
#include "platform/tcp_socket.h"

namespace cabrix::dialect {

enum Status : int {
  kDone = 0,
  kLinkFailed = 100,
  kPcFileFailed = 110,
  kNameTooLong = 111,
  kNotDeleted = 112,
  kReadFailedOne = 120,
  kReadFailedSeveral = 121,
  kWriteFailedOne = 130,
  kWriteFailedSeveral = 131,
  kBadCommandLine = 200,
  kInternalError = 201,
};

enum class Action { kNone, kDir, kInfo, kDelete, kGet, kPut };

struct Job {
  std::optional<platform::Ipv4Address> tcp;
  int comPort = 0;
  std::string folder;  // Windows form, ending in a backslash; empty: the current folder
  Action action = Action::kNone;
  std::vector<std::string> names;
};

// Reads the command line (without the program's path). Switches come first; every argument
// after /del, /get or /up is a name, whatever it looks like. nullopt for a bad command line: no
// link or two links, a link switch without its numbers, no action, an unknown switch, names
// after /dir or /info, or a name list missing where one is needed.
std::optional<Job> ParseCommandLine(const std::vector<std::string>& args);

// The program's table from the outcome of one file's read or write to the status of a run of
// that one file; `notDone` is the read's or the write's own (kReadFailedOne, kWriteFailedOne).
Status FileStatusOf(const COutcome& outcome, Status notDone);

// Carries the job out; the result is the exit status.
int Run(const Job& job);

}  // namespace cabrix::dialect
