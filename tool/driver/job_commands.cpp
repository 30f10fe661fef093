// The queries /inf and /dir, and the delete action.
#include <memory>

#include "driver/tool_job.h"
#include "ops/command_link.h"
#include "ops/exchange.h"
#include "text/console_text.h"
#include "text/messages.h"

namespace cabrix {

namespace {

constexpr std::string_view kInfoCommand = "PLCInfo";
constexpr std::string_view kDirCommand = "filedir";
constexpr std::string_view kDeleteCommand = "filedelete ";

}  // namespace

bool CToolJob::RunQuery(std::string_view command, bool emptyTcpArgOnFailure) {
  EndRunIfStopped();
  auto link = std::make_unique<CCommandLink>(m_operator);
  link->m_port = m_comPort;
  link->BuildCommandFrame(command);
  bool ok = false;
  if (!m_tcpArg.empty()) {
    ok = link->RunTcp(TcpAddress());
    if (!ok) {
      if (emptyTcpArgOnFailure) m_tcpArg.clear();
      if (m_comPort > 0) {
        EndRunIfStopped();
        // The TCP exchange used up the request; the fall-back sends a fresh one.
        link->BuildCommandFrame(command);
        if (!link->RunSerial()) return false;
        ok = true;
      }
    }
  } else if (m_comPort != 0) {
    if (!link->RunSerial()) return false;
    ok = true;
  }
  // Only a reply that arrived whole is printed: the bytes of a broken exchange are no reply.
  if (ok) PrintText(link->m_text);
  return true;
}

void CToolJob::RunInfoAndDir() {
  if (m_info && !RunQuery(kInfoCommand, true)) return;
  if (m_dir) RunQuery(kDirCommand, false);
}

int CToolJob::RunDelete() {
  if (m_files.empty()) return 1;
  // A file that no exchange deleted (its TCP exchange failed with no serial port to fall back
  // to, or no link was left for it) makes the run end with the link failure status.
  bool allDeleted = true;
  for (const std::string& entry : m_files) {
    EndRunIfStopped();
    const auto name = ControllerNameOrRefusal(entry, m_operator);
    if (!name) {
      allDeleted = false;
      continue;
    }
    auto link = std::make_unique<CCommandLink>(m_operator);
    link->m_port = m_comPort;
    const std::string command = std::string(kDeleteCommand) + *name;
    if (!link->BuildCommandFrame(command)) {
      RefuseLongName(*name, m_operator);
      allDeleted = false;
      continue;
    }
    PrintText(msg::kDeleting.str() + *name + "\n");
    if (!m_tcpArg.empty()) {
      if (link->RunTcp(TcpAddress())) continue;
      m_tcpArg.clear();
      if (m_comPort > 0) {
        EndRunIfStopped();
        link->BuildCommandFrame(command);
        if (!link->RunSerial()) return kStatusLinkFailed;
      } else {
        allDeleted = false;
      }
    } else if (m_comPort != 0) {
      if (!link->RunSerial()) return kStatusLinkFailed;
    } else {
      allDeleted = false;
    }
  }
  return allDeleted ? 1 : kStatusLinkFailed;
}

}  // namespace cabrix
