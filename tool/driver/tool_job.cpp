#include "driver/tool_job.h"

#include "cmdline/switches.h"
#include "link/link_error.h"
#include "platform/console.h"
#include "platform/stop_request.h"
#include "text/console_text.h"
#include "text/messages.h"

namespace cabrix {

void EndRunIfStopped() {
  if (platform::StopRequested()) throw CRunEnd{kStatusLinkFailed};
}

std::string BuildTimeText() { return std::string(__DATE__) + "  " + __TIME__; }

CToolJob::CToolJob(std::string buildTime) : m_buildTime(std::move(buildTime)) {}

void CToolJob::AddFile(std::string_view arg) { m_files.emplace_back(arg); }

void CToolJob::SetTcpArg(std::string_view arg) { m_tcpArg = std::string(arg); }

void CToolJob::ParseComArg(std::string_view arg) {
  const auto number = ComPortOfSwitch(arg);
  if (!number) {
    PrintText(msg::kBadComPort.view());
    throw CRunEnd{kStatusBadCommandLine};
  }
  m_comPort = *number;
}

void CToolJob::ParseFolderArg(std::string_view arg) {
  // A value of nothing but double quotes names no folder: the earlier one stays, as it does for
  // the bare switch.
  std::string folder = FolderOfSwitch(arg);
  if (!folder.empty()) m_folder = std::move(folder);
}

void CToolJob::PrintHelp() const {
  PrintText(msg::kHelpTitle.view());
  PrintText(msg::kHelpBuildTime.str() + m_buildTime + "\n");
  PrintText(msg::kHelpParameters.view());
  PrintText(msg::kHelpQuery.view());
  PrintText(msg::kHelpTcp.view());
  PrintText(msg::kHelpCom.view());
  PrintText(msg::kHelpUp.view());
  PrintText(msg::kHelpDn.view());
  PrintText(msg::kHelpFolder.view());
  PrintText(msg::kHelpFileList.view());
  PrintText(msg::kHelpExample.view());
}

int CToolJob::RunAction() {
  EndRunIfStopped();
  if (m_comPort == 0 && m_tcpArg.empty()) {
    PrintText(msg::kNoLink.view());
    return kStatusLinkFailed;
  }
  switch (m_action) {
    case ACTION_UPLOAD: return RunUpload();
    case ACTION_DOWNLOAD: return RunDownload();
    case ACTION_DELETE: return RunDelete();
    default: break;
  }
  PrintText(msg::kNoAction.view());
  return kStatusLinkFailed;
}

platform::Ipv4Address CToolJob::TcpAddress() const {
  const auto address = ParseTcpArg(m_tcpArg);
  if (!address) throw CLinkError(kLinkBadTcpArg);
  return *address;
}

void ReadArguments(CToolJob& job, const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    switch (SwitchOf(arg)) {
      case Switch::kDir: job.m_dir = true; break;
      case Switch::kInf: job.m_info = true; break;
      case Switch::kDel: job.m_action = ACTION_DELETE; break;
      case Switch::kUp: job.m_action = ACTION_UPLOAD; break;
      case Switch::kDn: job.m_action = ACTION_DOWNLOAD; break;
      case Switch::kTcp: job.SetTcpArg(arg); break;
      case Switch::kCom: job.ParseComArg(arg); break;
      case Switch::kFolder: job.ParseFolderArg(arg); break;
      // The front end's switches are names to this tool, like any other argument.
      case Switch::kInfo:
      case Switch::kGet:
      case Switch::kName: job.AddFile(arg); break;
    }
  }
}

int RunTool(const std::vector<std::string>& args) {
  CToolJob job(BuildTimeText());
  if (args.empty() || (args.size() == 1 && args[0] == "/?")) {
    job.PrintHelp();
    platform::FlushConsoleText();
    return 0;
  }
  int status = 0;
  try {
    ReadArguments(job, args);
    job.RunInfoAndDir();
    status = job.RunAction();
  } catch (const CRunEnd& end) {
    status = end.status;
  } catch (const CLinkError& error) {
    // Only a /TCP text without four numbers reaches this far; it is noticed before anything
    // is sent.
    status = error.Code() == kLinkBadTcpArg ? kStatusBadCommandLine : kStatusInternalError;
  }
  platform::FlushConsoleText();
  return status;
}

}  // namespace cabrix
