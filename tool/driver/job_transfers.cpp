// The upload and download actions: the transport choice and the walk through the file list.
#include <memory>

#include "driver/tool_job.h"
#include "link/link_error.h"
#include "ops/download_link.h"
#include "ops/exchange.h"
#include "ops/upload_link.h"
#include "text/pc_name.h"

namespace cabrix {

namespace {

// The first position at which a file was passed over: a run that leaves a listed file behind
// never ends with the success status.
class CSkippedFiles {
 public:
  void Note(int position) {
    if (m_first == 0) m_first = position;
  }
  int Status() const { return m_first; }

 private:
  int m_first = 0;
};

// The read of one list entry: the controller is asked for the entry's controller form (as
// typed, a folder part included), and the file lands in `folder` under that name's PC form.
// Null when the entry has no controller form (the operator has been told).
std::unique_ptr<CDownloadLink> DownloadLinkFor(const std::string& folder, const std::string& entry,
                                               COperationObserver& observer) {
  const auto name = ControllerNameOrRefusal(entry, observer);
  if (!name) return nullptr;
  return std::make_unique<CDownloadLink>(*name, folder + PcFormOf(*name), observer);
}

}  // namespace

COperationObserver& CToolJob::TransferObserver(std::size_t k) {
  if (!m_progress) {
    m_progress.emplace(m_operator, m_files.size(), ProgressReportsAsked());
  }
  m_progress->FileAt(k);
  return *m_progress;
}

int CToolJob::RunUpload() {
  if (m_tcpArg.empty()) return m_comPort != 0 ? UploadListSerial() : 0;
  return UploadListTcp(TcpAddress());
}

int CToolJob::UploadListSerial() {
  return RunList(TransferList::kUploadSerial, [&](std::size_t k) {
    auto link = std::make_unique<CUploadLink>(TransferObserver(k));
    link->m_port = m_comPort;
    return link->UploadFile(m_folder + m_files[k - 1]);
  });
}

int CToolJob::UploadListTcp(const platform::Ipv4Address& address) {
  return RunList(TransferList::kUploadTcp, [&](std::size_t k) {
    auto link = std::make_unique<CUploadLink>(TransferObserver(k));
    return link->UploadFile(m_folder + m_files[k - 1], address);
  });
}

int CToolJob::RunDownload() {
  if (m_tcpArg.empty()) return m_comPort != 0 ? DownloadListSerial() : 0;
  return DownloadListTcp(TcpAddress());
}

int CToolJob::DownloadListSerial() {
  return RunList(TransferList::kDownloadSerial, [&](std::size_t k) {
    auto link = DownloadLinkFor(m_folder, m_files[k - 1], TransferObserver(k));
    if (!link) return COutcome{OutcomeKind::kRefused};
    link->m_port = m_comPort;
    return link->DownloadFile();
  });
}

int CToolJob::DownloadListTcp(const platform::Ipv4Address& address) {
  return RunList(TransferList::kDownloadTcp, [&](std::size_t k) {
    auto link = DownloadLinkFor(m_folder, m_files[k - 1], TransferObserver(k));
    if (!link) return COutcome{OutcomeKind::kRefused};
    return link->DownloadFile(address);
  });
}

int CToolJob::RunList(TransferList list, const std::function<COutcome(std::size_t k)>& transfer) {
  CSkippedFiles skipped;
  for (std::size_t k = 1; k <= m_files.size(); ++k) {
    EndRunIfStopped();
    const COutcome outcome = transfer(k);  // the link is closed and gone when it returns
    const int position = static_cast<int>(k);
    switch (ListStepOf(list, outcome)) {
      case ListStep::kNext: break;
      case ListStep::kPassOver: skipped.Note(position); break;
      case ListStep::kEndAtFile: return position;
      case ListStep::kEndLinkFailed: return kStatusLinkFailed;
      case ListStep::kFallBack:
        if (k >= 2) return position;
        if (m_comPort > 0) return UploadListSerial();
        skipped.Note(position);
        break;
    }
  }
  return skipped.Status();
}

ListStep ListStepOf(TransferList list, const COutcome& outcome) {
  switch (outcome.kind) {
    case OutcomeKind::kDone: return ListStep::kNext;
    // Nothing arrived, no port or connection, a failed call: the link is gone for every file.
    case OutcomeKind::kLinkFailed:
      if (outcome.code == kLinkNoData || outcome.code == kLinkCannotOpen ||
          outcome.code == kLinkCallFailed) {
        return ListStep::kEndLinkFailed;
      }
      break;
    case OutcomeKind::kPcFileFailed:
      // A file to write that cannot be opened stops the list at it. A serial read reports a
      // file it cannot create like a port it cannot open.
      if (outcome.code == kLinkPcFileOpen) return ListStep::kEndAtFile;
      if (outcome.code == kLinkPcFileCreate && list == TransferList::kDownloadSerial) {
        return ListStep::kEndLinkFailed;
      }
      break;
    case OutcomeKind::kNoSuchFile: return ListStep::kEndAtFile;
    case OutcomeKind::kRefused:
    case OutcomeKind::kNameTooLong:
    case OutcomeKind::kStopped: break;
  }
  // Any other outcome costs the file.
  switch (list) {
    case TransferList::kUploadSerial: return ListStep::kPassOver;
    case TransferList::kUploadTcp: return ListStep::kFallBack;
    case TransferList::kDownloadSerial: return ListStep::kEndAtFile;
    case TransferList::kDownloadTcp: return ListStep::kPassOver;
  }
  return ListStep::kEndLinkFailed;
}

}  // namespace cabrix
