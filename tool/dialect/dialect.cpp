#include "dialect/dialect.h"

#include <memory>
#include <string_view>

#include "cmdline/switches.h"
#include "link/link_error.h"
#include "ops/command_link.h"
#include "ops/download_link.h"
#include "ops/exchange.h"
#include "ops/upload_link.h"
#include "operator/console_operator.h"
#include "operator/progress_reporter.h"
#include "platform/console.h"
#include "platform/stop_request.h"
#include "text/pc_name.h"

namespace cabrix::dialect {

namespace {

// Nobody sits at this program's console: it draws no figures, and a condition that would wait
// for an answer becomes a line on standard error, which the front end captures, and the run goes
// on. Its lines on standard output are the console tool's.
class CHiddenOperator : public CConsoleOperator {
 public:
  CHiddenOperator() : CConsoleOperator(platform::Console::None()) {}

  void Message(MessageKind kind, std::string_view textCp1251) override {
    if (kind != MessageKind::kAlert) {
      CConsoleOperator::Message(kind, textCp1251);
      return;
    }
    platform::WriteErrorLine(textCp1251);
  }
};

int OneOrSeveral(int failures, int one, int several) {
  if (failures == 0) return kDone;
  return failures == 1 ? one : several;
}

// One command exchange over the job's link; the reply text when it completed.
std::optional<std::string> Command(const Job& job, COperationObserver& op, std::string_view text) {
  auto link = std::make_unique<CCommandLink>(op);
  link->m_port = job.comPort;
  if (!link->BuildCommandFrame(text)) return std::nullopt;
  const bool ok = job.tcp ? link->RunTcp(*job.tcp) : link->RunSerial();
  if (!ok) return std::nullopt;
  return link->m_text;
}

// The lines of a reply text, which ends at its first zero byte: a line ends at CR LF, at a CR
// alone or at an LF alone; text after the last line end is a line too.
std::vector<std::string> ReplyLines(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> lines;
  while (!text.empty()) {
    const std::size_t end = text.find_first_of("\r\n");
    lines.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    const bool crLf = text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n';
    text.remove_prefix(end + (crLf ? 2 : 1));
  }
  return lines;
}

// The names of a directory reply: its lines that are not empty.
std::vector<std::string> ListedNames(std::string_view text) {
  std::vector<std::string> names = ReplyLines(text);
  std::erase_if(names, [](const std::string& name) { return name.empty(); });
  return names;
}

// Prints each line as the controller's own Windows-1251 bytes followed by CR LF: the front end
// decodes them itself and sends a listed name back byte for byte, so nothing is converted.
void PrintLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  platform::WriteRawOutput(out);
}

int Query(const Job& job, COperationObserver& op, std::string_view command, bool namesOnly) {
  const auto text = Command(job, op, command);
  if (!text) return kLinkFailed;
  PrintLines(namesOnly ? ListedNames(*text) : ReplyLines(*text));
  return kDone;
}

int Delete(const Job& job, CProgressReporter& op) {
  for (const std::string& name : job.names) {
    if (name.size() + 11 > kMaxCommandText) return kNameTooLong;
  }
  for (std::size_t k = 1; k <= job.names.size(); ++k) {
    if (platform::StopRequested() || !Command(job, op, "filedelete " + job.names[k - 1])) return kLinkFailed;
    op.FileDone(k, true);
  }
  if (platform::StopRequested()) return kLinkFailed;
  // The controller's answer to a delete says nothing reliable; its listing does.
  const auto listing = Command(job, op, "filedir");
  if (!listing) return kLinkFailed;
  for (const std::string& listed : ListedNames(*listing)) {
    for (const std::string& name : job.names) {
      if (listed == name) return kNotDeleted;
    }
  }
  return kDone;
}

// A name to read into the folder names a file in it: not empty, not "." or "..", with no folder
// separator and no drive colon that would lead elsewhere.
bool NamesAFileInTheFolder(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of("/\\:") == std::string_view::npos;
}

// The files of a list that did not get across, and why; the first reason that the front end
// must hear of wins over the count.
class CFailedFiles {
 public:
  // False when the run ends here (the link failed).
  bool Note(Status status) {
    switch (status) {
      case kLinkFailed: return false;
      case kPcFileFailed: m_pcFileFailed = true; break;
      case kNameTooLong: m_nameTooLong = true; break;
      default: break;
    }
    if (status != kDone) ++m_count;
    return true;
  }
  int Result(int one, int several) const {
    if (m_nameTooLong) return kNameTooLong;
    if (m_pcFileFailed) return kPcFileFailed;
    return OneOrSeveral(m_count, one, several);
  }

 private:
  int m_count = 0;
  bool m_pcFileFailed = false;
  bool m_nameTooLong = false;
};

int Get(const Job& job, CProgressReporter& op) {
  for (const std::string& name : job.names) {
    if (!NamesAFileInTheFolder(name)) return kPcFileFailed;
  }
  CFailedFiles failed;
  for (std::size_t k = 1; k <= job.names.size(); ++k) {
    if (platform::StopRequested()) return kLinkFailed;
    const std::string& name = job.names[k - 1];
    op.FileAt(k);
    auto link = std::make_unique<CDownloadLink>(name, job.folder + PcFormOf(name), op);
    link->m_port = job.comPort;
    const COutcome outcome = job.tcp ? link->DownloadFile(*job.tcp) : link->DownloadFile();
    if (!failed.Note(FileStatusOf(outcome, kReadFailedOne))) return kLinkFailed;
  }
  return failed.Result(kReadFailedOne, kReadFailedSeveral);
}

int Put(const Job& job, CProgressReporter& op) {
  CFailedFiles failed;
  for (std::size_t k = 1; k <= job.names.size(); ++k) {
    if (platform::StopRequested()) return kLinkFailed;
    const std::string& name = job.names[k - 1];
    op.FileAt(k);
    auto link = std::make_unique<CUploadLink>(op);
    link->m_port = job.comPort;
    const COutcome outcome = job.tcp ? link->UploadFile(job.folder + name, *job.tcp)
                                     : link->UploadFile(job.folder + name);
    if (!failed.Note(FileStatusOf(outcome, kWriteFailedOne))) return kLinkFailed;
  }
  return failed.Result(kWriteFailedOne, kWriteFailedSeveral);
}

}  // namespace

Status FileStatusOf(const COutcome& outcome, Status notDone) {
  switch (outcome.kind) {
    case OutcomeKind::kDone: return kDone;
    case OutcomeKind::kPcFileFailed: return kPcFileFailed;
    case OutcomeKind::kRefused:
    case OutcomeKind::kNameTooLong: return kNameTooLong;
    case OutcomeKind::kLinkFailed:
      if (IsLinkFailure(outcome.code)) return kLinkFailed;
      break;  // a reply that made no sense costs the file alone
    case OutcomeKind::kNoSuchFile:
    case OutcomeKind::kStopped: break;
  }
  return notDone;
}

std::optional<Job> ParseCommandLine(const std::vector<std::string>& args) {
  Job job;
  int links = 0;
  std::size_t i = 0;
  for (; i < args.size() && job.action == Action::kNone; ++i) {
    const std::string& arg = args[i];
    switch (SwitchOf(arg)) {
      case Switch::kTcp:
        job.tcp = ParseTcpArg(arg);
        if (!job.tcp) return std::nullopt;
        ++links;
        break;
      case Switch::kCom: {
        const auto port = ComPortOfSwitch(arg);
        if (!port || *port <= 0) return std::nullopt;
        job.comPort = *port;
        ++links;
        break;
      }
      case Switch::kFolder: job.folder = FolderOfSwitch(arg); break;
      case Switch::kDir: job.action = Action::kDir; break;
      case Switch::kInfo: job.action = Action::kInfo; break;
      case Switch::kDel: job.action = Action::kDelete; break;
      case Switch::kGet: job.action = Action::kGet; break;
      case Switch::kUp: job.action = Action::kPut; break;
      // The console tool's own switches, and names before an action, are unknown here.
      case Switch::kInf:
      case Switch::kDn:
      case Switch::kName: return std::nullopt;
    }
  }
  job.names.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (links != 1) return std::nullopt;
  switch (job.action) {
    case Action::kNone: return std::nullopt;
    case Action::kDir:
    case Action::kInfo:
      if (!job.names.empty()) return std::nullopt;
      break;
    default:
      if (job.names.empty()) return std::nullopt;
      break;
  }
  return job;
}

int Run(const Job& job) {
  CHiddenOperator hidden;
  // The front end asks for progress reports through the environment.
  CProgressReporter op(hidden, job.names.size(), ProgressReportsAsked());
  try {
    switch (job.action) {
      case Action::kDir: return Query(job, op, "filedir", true);
      case Action::kInfo: return Query(job, op, "PLCInfo", false);
      case Action::kDelete: return Delete(job, op);
      case Action::kGet: return Get(job, op);
      case Action::kPut: return Put(job, op);
      case Action::kNone: break;
    }
  } catch (const CLinkError&) {
  }
  return kInternalError;
}

}  // namespace cabrix::dialect
