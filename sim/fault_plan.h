// Fault injection. Each fault is given on the command line as
//   KIND[,key=value]...      for example  bad-checksum,op=download,segment=2,frame=3,times=2
// and fires at the places ("sites") where the simulator sends something that matches its keys,
// by default once. Every firing is counted and logged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace plcsim {

// What an exchange is doing, as faults and logs name it.
enum class Operation { kInfo, kDir, kDelete, kCommand, kUpload, kDownload };
const char* OperationName(Operation op);

// Where the simulator sends something.
enum class Site {
  kRequestAck,   // the acknowledgement of a request: command, read request, next-segment request
  kReplyFrame,   // a frame of a command reply or of a file being read
  kFrameAck,     // the acknowledgement of a frame of a file being written
  kSegmentUnit,  // read: the 6-byte unit after a segment's last frame when another follows
  kEndOfData,    // write: the two units that answer the PC's end-of-data message
  kPollAnswer,   // write: the answer to the PC's poll
  kClosingUnit,  // TCP: the 6-byte unit that ends a command reply or a read; the answer to the
                 // acknowledgement of an end marker
};
const char* SiteName(Site site);

enum class FaultKind {
  kBadChecksum,    // a reply frame goes out with a wrong checksum
  kReject,         // a frame of a write (or a poll) is answered with code 20
  kWrongNumber,    // a frame of a write is acknowledged with a wrong frame number
  kStaleAck,       // a frame of a write gets the previous acknowledgement again
  kRejectRequest,  // a read request (or next-segment request) is answered with code 20
  kCode20Header,   // a 6-byte code-20 unit goes out where the PC waits for a frame header
  kSilent,         // the simulator stops answering for the rest of the exchange
  kClose,          // the simulator closes the connection (over the serial line: goes silent)
  kEndMarker,      // a reply frame is replaced by an end marker (a 2-byte payload)
  kDelayAck,       // an acknowledgement or other short unit is sent late
  kDelayFrame,     // a reply frame is sent late
  kSplitFrame,     // a reply frame is sent in two pieces with a gap between them
  kTruncate,       // a reply frame is cut short
  kOverlong,       // a reply frame carries more bytes than its length says
  kRepeatFrame,    // an acknowledged reply frame goes out once more, as if the answer was lost
  kSkipFrame,      // a reply frame that is not the last is left out
};

struct FaultInfo {
  FaultKind kind;
  const char* name;
  std::vector<Site> sites;  // where it can fire; the first is the default
  bool anySite;             // at=any is allowed (and the default)
  bool takesMs;             // ms=N
  bool takesBytes;          // bytes=N
  int defaultMs;
  const char* description;
};

const std::vector<FaultInfo>& AllFaults();
const FaultInfo& InfoOf(FaultKind kind);

// One place where the simulator is about to send something.
struct SiteRef {
  Operation op;
  Site site;
  int segment = 1;  // segment of a file transfer (1 for commands)
  int frame = 0;    // frame number within the segment, where there is one
};

struct FaultSpec {
  FaultKind kind = FaultKind::kBadChecksum;
  std::string text;                // as given, for logs
  std::optional<Operation> op;     // op=
  std::optional<Site> site;        // at= (unset: any allowed site, or the default)
  std::optional<int> segment;      // segment=
  std::optional<int> frame;        // frame=
  int times = 1;                   // times=N, 0 for always
  int ms = 0;                      // ms=
  std::optional<int> bytes;        // bytes=
  int fired = 0;

  bool Matches(const SiteRef& ref) const;
  bool Exhausted() const { return times != 0 && fired >= times; }
};

// Parses one fault. On failure returns nullopt and sets `error`.
std::optional<FaultSpec> ParseFault(std::string_view text, std::string& error);

// The text that --list-faults prints.
std::string FaultListText();

class FaultPlan {
 public:
  void Add(FaultSpec spec) { m_faults.push_back(std::move(spec)); }
  bool Empty() const { return m_faults.empty(); }

  // The first fault among `kinds` that matches the site and has firings left, counted as fired;
  // nullptr when none. The caller logs what it did.
  const FaultSpec* Take(const SiteRef& ref, std::initializer_list<FaultKind> kinds);

  // One line per fault: its text and how often it fired.
  std::vector<std::string> Summary() const;

 private:
  std::vector<FaultSpec> m_faults;
};

// "bad-checksum,frame=2 (fired 1 of 1) at download segment 1 reply-frame 2"
std::string DescribeFiring(const FaultSpec& spec, const SiteRef& ref);

}  // namespace plcsim
