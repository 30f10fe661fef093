#include "fault_plan.h"

#include <algorithm>
#include <charconv>

namespace plcsim {

const char* OperationName(Operation op) {
  switch (op) {
    case Operation::kInfo: return "info";
    case Operation::kDir: return "dir";
    case Operation::kDelete: return "delete";
    case Operation::kCommand: return "command";
    case Operation::kUpload: return "upload";
    case Operation::kDownload: return "download";
  }
  return "?";
}

const char* SiteName(Site site) {
  switch (site) {
    case Site::kRequestAck: return "request-ack";
    case Site::kReplyFrame: return "reply-frame";
    case Site::kFrameAck: return "frame-ack";
    case Site::kSegmentUnit: return "segment-unit";
    case Site::kEndOfData: return "end-of-data";
    case Site::kPollAnswer: return "poll-answer";
    case Site::kClosingUnit: return "closing-unit";
  }
  return "?";
}

namespace {

const std::vector<Site> kAllSites = {Site::kRequestAck,  Site::kReplyFrame, Site::kFrameAck,
                                     Site::kSegmentUnit, Site::kEndOfData,  Site::kPollAnswer,
                                     Site::kClosingUnit};
const std::vector<Operation> kAllOps = {Operation::kInfo,    Operation::kDir,
                                        Operation::kDelete,  Operation::kCommand,
                                        Operation::kUpload,  Operation::kDownload};

std::optional<int> ParseInt(std::string_view s) {
  int v = 0;
  const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size() || v < 0) return std::nullopt;
  return v;
}

}  // namespace

const std::vector<FaultInfo>& AllFaults() {
  static const std::vector<FaultInfo> faults = {
      {FaultKind::kBadChecksum, "bad-checksum", {Site::kReplyFrame}, false, false, false, 0,
       "send a reply frame with a wrong checksum; the PC answers code 20 and gets it again"},
      {FaultKind::kReject, "reject", {Site::kFrameAck, Site::kPollAnswer}, false, false, false, 0,
       "answer a frame of a write (or with at=poll-answer the PC's poll) with code 20"},
      {FaultKind::kWrongNumber, "wrong-number", {Site::kFrameAck}, false, false, false, 0,
       "acknowledge a frame of a write with code 10 and a wrong frame number"},
      {FaultKind::kStaleAck, "stale-ack", {Site::kFrameAck}, false, false, false, 0,
       "acknowledge a frame of a write with the acknowledgement sent before it"},
      {FaultKind::kRejectRequest, "reject-request", {Site::kRequestAck}, false, false, false, 0,
       "answer a read request (segment=N>1: the request for segment N) with code 20"},
      {FaultKind::kCode20Header, "code20-header", {Site::kReplyFrame}, false, false, false, 0,
       "send a 6-byte code-20 unit where the PC waits for a frame header, then the frame"},
      {FaultKind::kSilent, "silent", kAllSites, true, false, false, 0,
       "stop answering, for the rest of the exchange"},
      {FaultKind::kClose, "close", kAllSites, true, false, false, 0,
       "close the connection (over the serial line: go silent)"},
      {FaultKind::kEndMarker, "end-marker", {Site::kReplyFrame}, false, false, false, 0,
       "send an end marker (a frame with a 2-byte payload) in place of a reply frame"},
      {FaultKind::kDelayAck, "delay-ack",
       {Site::kFrameAck, Site::kRequestAck, Site::kSegmentUnit, Site::kEndOfData,
        Site::kPollAnswer, Site::kClosingUnit},
       true, true, false, 1000, "send an acknowledgement or other short unit ms late"},
      {FaultKind::kDelayFrame, "delay-frame", {Site::kReplyFrame}, false, true, false, 1000,
       "send a reply frame ms late"},
      {FaultKind::kSplitFrame, "split-frame", {Site::kReplyFrame}, false, true, true, 100,
       "send a reply frame in two pieces, the first of `bytes` bytes (4), ms apart"},
      {FaultKind::kTruncate, "truncate", {Site::kReplyFrame}, false, false, true, 0,
       "send only the first `bytes` bytes of a reply frame (header and half the payload)"},
      {FaultKind::kOverlong, "overlong", {Site::kReplyFrame}, false, false, true, 0,
       "send a reply frame with `bytes` more bytes (4) after the payload than its length says"},
      {FaultKind::kRepeatFrame, "repeat-frame", {Site::kReplyFrame}, false, false, false, 0,
       "send a reply frame again after the PC accepted it, as if its answer was lost"},
      {FaultKind::kSkipFrame, "skip-frame", {Site::kReplyFrame}, false, false, false, 0,
       "leave a reply frame out and send the next one (never the last frame of a reply)"},
  };
  return faults;
}

const FaultInfo& InfoOf(FaultKind kind) {
  for (const auto& f : AllFaults()) {
    if (f.kind == kind) return f;
  }
  return AllFaults().front();
}

bool FaultSpec::Matches(const SiteRef& ref) const {
  if (op && *op != ref.op) return false;
  const FaultInfo& info = InfoOf(kind);
  if (site) {
    if (*site != ref.site) return false;
  } else if (info.anySite) {
    if (std::find(info.sites.begin(), info.sites.end(), ref.site) == info.sites.end()) return false;
  } else if (info.sites.front() != ref.site) {
    return false;
  }
  if (segment && *segment != ref.segment) return false;
  if (frame && *frame != ref.frame) return false;
  return true;
}

std::optional<FaultSpec> ParseFault(std::string_view text, std::string& error) {
  FaultSpec spec;
  spec.text = std::string(text);
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  const FaultInfo* info = nullptr;
  for (const auto& f : AllFaults()) {
    if (parts[0] == f.name) info = &f;
  }
  if (!info) {
    error = "unknown fault '" + std::string(parts[0]) + "' (see --list-faults)";
    return std::nullopt;
  }
  spec.kind = info->kind;
  spec.ms = info->defaultMs;

  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    const std::size_t eq = part.find('=');
    if (eq == std::string_view::npos) {
      error = "fault key without a value: '" + std::string(part) + "'";
      return std::nullopt;
    }
    const std::string_view key = part.substr(0, eq);
    const std::string_view value = part.substr(eq + 1);
    const auto number = ParseInt(value);
    auto bad = [&](std::string why) {
      error = "fault " + std::string(info->name) + ": " + std::string(part) + ": " + why;
      return std::nullopt;
    };
    if (key == "op") {
      if (value == "any") continue;
      bool found = false;
      for (const Operation op : kAllOps) {
        if (value == OperationName(op)) {
          spec.op = op;
          found = true;
        }
      }
      if (!found) return bad("op is one of info, dir, delete, command, upload, download, any");
    } else if (key == "at") {
      if (value == "any") {
        if (!info->anySite) return bad("this fault has fixed sites");
        continue;
      }
      bool found = false;
      for (const Site s : info->sites) {
        if (value == SiteName(s)) {
          spec.site = s;
          found = true;
        }
      }
      if (!found) return bad("not a site of this fault (see --list-faults)");
    } else if (key == "segment" || key == "frame") {
      if (!number || *number < 1) return bad("a number of 1 or more");
      (key == "segment" ? spec.segment : spec.frame) = *number;
    } else if (key == "times") {
      if (value == "always") {
        spec.times = 0;
      } else if (number && *number >= 1) {
        spec.times = *number;
      } else {
        return bad("a number of 1 or more, or 'always'");
      }
    } else if (key == "ms") {
      if (!info->takesMs) return bad("this fault takes no time");
      if (!number) return bad("a number of milliseconds");
      spec.ms = *number;
    } else if (key == "bytes") {
      if (!info->takesBytes) return bad("this fault takes no byte count");
      if (!number) return bad("a byte count");
      spec.bytes = *number;
    } else {
      return bad("unknown key (op, at, segment, frame, times, ms, bytes)");
    }
  }
  return spec;
}

std::string FaultListText() {
  std::string s;
  for (const auto& f : AllFaults()) {
    s += f.name;
    s += "\n    ";
    s += f.description;
    s += "\n    sites:";
    for (const Site site : f.sites) {
      s += ' ';
      s += SiteName(site);
    }
    if (f.anySite) s += " (default: any)";
    s += "\n    keys: op at segment frame times";
    if (f.takesMs) s += " ms (default " + std::to_string(f.defaultMs) + ")";
    if (f.takesBytes) s += " bytes";
    s += '\n';
  }
  s += R"(
Each fault name above starts an unindented line. The sites, where the simulator sends:
  request-ack    the acknowledgement of a request (segment=N>1: of the request for segment N)
  reply-frame    a frame of a command reply or of a file being read (frame=N within segment=N)
  frame-ack      the acknowledgement of a frame of a file being written (frame=N as numbered)
  segment-unit   read: the 6-byte unit after segment N when another follows
  end-of-data    write: the 8-byte and 2-byte units answering the end of segment N
  poll-answer    write: the answer to the poll after segment N
  closing-unit   TCP: the unit after a reply's last frame; the answer to an end marker's ack
)";
  return s;
}

const FaultSpec* FaultPlan::Take(const SiteRef& ref, std::initializer_list<FaultKind> kinds) {
  for (auto& f : m_faults) {
    if (std::find(kinds.begin(), kinds.end(), f.kind) == kinds.end()) continue;
    if (f.Exhausted() || !f.Matches(ref)) continue;
    ++f.fired;
    return &f;
  }
  return nullptr;
}

std::vector<std::string> FaultPlan::Summary() const {
  std::vector<std::string> lines;
  for (const auto& f : m_faults) {
    std::string line = "fault " + f.text + ": fired " + std::to_string(f.fired);
    line += f.times == 0 ? " (always)" : " of " + std::to_string(f.times);
    lines.push_back(line);
  }
  return lines;
}

std::string DescribeFiring(const FaultSpec& spec, const SiteRef& ref) {
  // Appended piece by piece: g++ 12 warns (-Wrestrict, wrongly) about "text" + std::to_string().
  std::string s = spec.text;
  s += " (firing ";
  s += std::to_string(spec.fired);
  if (spec.times != 0) {
    s += " of ";
    s += std::to_string(spec.times);
  }
  s += ") at ";
  s += OperationName(ref.op);
  s += " segment ";
  s += std::to_string(ref.segment);
  s += " ";
  s += SiteName(ref.site);
  if (ref.frame) {
    s += " ";
    s += std::to_string(ref.frame);
  }
  return s;
}

}  // namespace plcsim
