// The job of one run: the parsed command line and the operations that carry it out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "operator/console_operator.h"
#include "operator/progress_reporter.h"
#include "ops/outcome.h"
#include "platform/tcp_socket.h"

namespace cabrix {

enum Action : std::int32_t {
  ACTION_NONE = 0,
  ACTION_UPLOAD = 1,
  ACTION_DOWNLOAD = 2,
  ACTION_DELETE = 3,
};

// The status of a run whose command line cannot be carried out: a /COM switch without a number,
// or a /TCP address with fewer than four numbers.
inline constexpr int kStatusBadCommandLine = 200;
// A failure inside the tool that no operation expected.
inline constexpr int kStatusInternalError = 201;
// A link failure, or a missing link or action.
inline constexpr int kStatusLinkFailed = 100;

// The four walks through the list of files.
enum class TransferList { kUploadSerial, kUploadTcp, kDownloadSerial, kDownloadTcp };

// What a walk does after one file's transfer.
enum class ListStep {
  kNext,           // the file got across: on with the next
  kPassOver,       // the file is left behind, the walk goes on; the run will not end with 0
  kEndAtFile,      // the run ends with the file's position in the list
  kEndLinkFailed,  // the run ends with the link failure status
  // The first file of a TCP write: the whole list goes again over the serial port when there is
  // one, else the file is passed over; a later file ends the run with its position.
  kFallBack,
};

// The console tool's table from the outcome of one file's transfer to the step of its walk.
ListStep ListStepOf(TransferList list, const COutcome& outcome);

// Raised to end the run at once with a status (a /COM switch without a readable number).
struct CRunEnd {
  int status;
};

class CToolJob {
 public:
  explicit CToolJob(std::string buildTime);

  // Argument handlers, in the order the argument loop tries them.
  void AddFile(std::string_view arg);
  void SetTcpArg(std::string_view arg);
  void ParseComArg(std::string_view arg);  // raises CRunEnd when no number can be read
  void ParseFolderArg(std::string_view arg);

  void PrintHelp() const;

  // The queries /inf and /dir; prints their replies. May empty m_tcpArg.
  void RunInfoAndDir();
  // Checks link and action and runs the action; the result is the exit status.
  int RunAction();

  int RunUpload();
  int RunDownload();
  int RunDelete();

  int UploadListSerial();
  int UploadListTcp(const platform::Ipv4Address& address);
  int DownloadListSerial();
  int DownloadListTcp(const platform::Ipv4Address& address);

  std::string m_buildTime;
  std::vector<std::string> m_files;
  std::string m_tcpArg;
  std::int32_t m_comPort = 0;
  std::string m_folder;
  std::int32_t m_action = ACTION_NONE;
  bool m_dir = false;
  bool m_info = false;
  // The operator at the console watches every operation of the run.
  CConsoleOperator m_operator;
  // Progress reports for a front end that asks for them through the environment; made with the
  // first transfer, when the list of files is known.
  std::optional<CProgressReporter> m_progress;
  // The observer of the transfer of file k (1-based) of m_files.
  COperationObserver& TransferObserver(std::size_t k);

 private:
  // The controller address of m_tcpArg; raises CLinkError(0) when it has fewer than four numbers.
  platform::Ipv4Address TcpAddress() const;
  // Runs the information or directory query and prints its reply. False when the run's queries
  // end here (the serial exchange failed).
  bool RunQuery(std::string_view command, bool emptyTcpArgOnFailure);
  // Walks m_files, transferring file k (1-based) with `transfer`, and returns the action's result.
  int RunList(TransferList list, const std::function<COutcome(std::size_t k)>& transfer);
};

// Ends the run at once (raises CRunEnd) when the program has been asked to stop, so that no
// further exchange or file is started; what is open is closed on the way out.
void EndRunIfStopped();

// The build date and time: the compiler's date and time joined by two blanks.
std::string BuildTimeText();

// The argument loop: every argument, first to last, is matched against the switches (exact or
// by prefix, case-sensitive) and lands in `job`; anything else is a file name.
void ReadArguments(CToolJob& job, const std::vector<std::string>& args);

// The whole run after start-up: the help, or the argument loop, the queries and the action.
// `args` are the arguments without the program's path. Returns the exit status.
int RunTool(const std::vector<std::string>& args);

}  // namespace cabrix
