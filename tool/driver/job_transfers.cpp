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

// The failures after which the console tool gives the whole list up with the link failure
// status: nothing arrived, no port or connection, a failed call. The others cost one file.
bool EndsTheList(int code) {
  return code == kLinkNoData || code == kLinkCannotOpen || code == kLinkCallFailed;
}

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
  CSkippedFiles skipped;
  for (std::size_t k = 1; k <= m_files.size(); ++k) {
    EndRunIfStopped();
    auto link = std::make_unique<CUploadLink>(TransferObserver(k));
    link->m_port = m_comPort;
    try {
      link->UploadFile(m_folder + m_files[k - 1]);
    } catch (const CLinkError& error) {
      link.reset();
      if (EndsTheList(error.Code())) return kStatusLinkFailed;
      if (error.Code() == kLinkPcFileOpen) return static_cast<int>(k);
      skipped.Note(static_cast<int>(k));
    }
  }
  return skipped.Status();
}

int CToolJob::UploadListTcp(const platform::Ipv4Address& address) {
  CSkippedFiles skipped;
  for (std::size_t k = 1; k <= m_files.size(); ++k) {
    EndRunIfStopped();
    auto link = std::make_unique<CUploadLink>(TransferObserver(k));
    try {
      link->UploadFile(m_folder + m_files[k - 1], address);
    } catch (const CLinkError& error) {
      link.reset();
      if (EndsTheList(error.Code())) return kStatusLinkFailed;
      if (error.Code() == kLinkPcFileOpen) return static_cast<int>(k);
      if (k >= 2) return static_cast<int>(k);
      if (m_comPort > 0) return UploadListSerial();
      skipped.Note(1);
    }
  }
  return skipped.Status();
}

int CToolJob::RunDownload() {
  if (m_tcpArg.empty()) return m_comPort != 0 ? DownloadListSerial() : 0;
  return DownloadListTcp(TcpAddress());
}

int CToolJob::DownloadListSerial() {
  for (std::size_t k = 1; k <= m_files.size(); ++k) {
    EndRunIfStopped();
    auto link = DownloadLinkFor(m_folder, m_files[k - 1], TransferObserver(k));
    int result = kTransferNameTooLong;
    if (link) {
      link->m_port = m_comPort;
      result = link->DownloadFile();
      link.reset();
    }
    if (EndsTheList(result)) return kStatusLinkFailed;
    if (result != kDownloadDone) return static_cast<int>(k);
  }
  return 0;
}

int CToolJob::DownloadListTcp(const platform::Ipv4Address& address) {
  CSkippedFiles skipped;
  for (std::size_t k = 1; k <= m_files.size(); ++k) {
    EndRunIfStopped();
    auto link = DownloadLinkFor(m_folder, m_files[k - 1], TransferObserver(k));
    const int result = link ? link->DownloadFile(address) : kTransferNameTooLong;
    link.reset();
    if (EndsTheList(result)) return kStatusLinkFailed;
    if (result == kTransferNoSuchFile) return static_cast<int>(k);
    if (result != kDownloadDone) skipped.Note(static_cast<int>(k));
  }
  return skipped.Status();
}

}  // namespace cabrix
