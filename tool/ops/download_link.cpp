#include "ops/download_link.h"

#include <chrono>

#include "wire/frame.h"
#include "link/link_error.h"
#include "ops/exchange.h"
#include "platform/stop_request.h"
#include "text/messages.h"

namespace cabrix {

namespace {

constexpr int kMaxRequestSendings = 3;
constexpr auto kAfterResetPause = std::chrono::milliseconds(5000);

// Frame 1 of a segment starts with a 6-byte segment header whose byte 2 says whether another
// segment follows; the segment's last frame carries one trailing byte after the data.
constexpr std::size_t kSegmentHeaderSize = 6;
constexpr std::size_t kMoreFlagOffset = 2;

}  // namespace

CDownloadLink::CDownloadLink(std::string_view name, std::string_view path,
                             COperationObserver& observer)
    : m_name(name), m_path(path), m_observer(observer) {}

CDownloadLink::~CDownloadLink() { Cleanup(); }

void CDownloadLink::DefaultPause(std::chrono::milliseconds wait) { platform::WaitForStop(wait); }

void CDownloadLink::Cleanup() {
  m_file.reset();
  if (!m_tempPath.empty()) {
    platform::RemoveFile(m_tempPath);
    m_tempPath.clear();
  }
  m_request.clear();
}

void CDownloadLink::RemoveStaleFiles() const {
  platform::RemoveStaleTemporaries(platform::FolderOf(platform::NativePath(m_path)));
}

COutcome CDownloadLink::Download(CByteChannel& channel, RequestRepeat repeat) {
  if (m_name.size() > kMaxReadName) {
    RefuseLongName(m_name, m_observer);
    return {OutcomeKind::kNameTooLong};
  }
  RemoveStaleFiles();
  COutcome outcome;
  try {
    channel.Open(kDownloadTimeouts);
    outcome = Transfer(channel, repeat);
  } catch (const CLinkError& error) {
    channel.Close();
    Cleanup();
    outcome = OutcomeOfCode(error.Code());
  }
  if (m_started) m_observer.FileEnds(TransferKind::kRead, m_name, outcome.Done());
  return outcome;
}

COutcome CDownloadLink::DownloadFile() {
  CSerialChannel channel(*this, m_port);
  return Download(channel, RequestRepeat::kAfterResetPrompt);
}

COutcome CDownloadLink::DownloadFile(const platform::Ipv4Address& address) {
  CTcpChannel channel(*this, address);
  return Download(channel, RequestRepeat::kAtOnce);
}

void CDownloadLink::RequestExchange(CByteChannel& channel, ReplyAcks& acks,
                                    RequestRepeat repeat) {
  int sendings = 0;
  for (;;) {
    if (sendings > 0 && repeat == RequestRepeat::kAfterResetPrompt) {
      m_observer.Message(MessageKind::kAlert, msg::kPressReset.view());
      m_pauseAfterReset(kAfterResetPause);
    }
    channel.FlushPort();
    channel.Write(m_request);
    channel.Read(acks.ack.bytes());
    if (++sendings == kMaxRequestSendings) throw CLinkError(kLinkCallFailed);
    if (acks.ack.code() == kAckAccepted) return;
  }
}

void CDownloadLink::CreatePcFile() {
  // A target that the user may not write is refused here, before any of the file has come.
  m_file = std::make_unique<platform::PcFile>();
  if (!m_file->CreateReplacement(platform::NativePath(m_path), m_tempPath)) {
    m_file.reset();
    m_tempPath.clear();
    m_observer.Message(MessageKind::kAlert, msg::kCannotCreate.view());
    throw CLinkError(kLinkPcFileCreate);
  }
}

void CDownloadLink::WriteData(std::span<const std::uint8_t> data) {
  if (data.empty()) return;
  if (!m_file->Write(data)) throw CLinkError(kTransferPcFileIo);
}

void CDownloadLink::FinishPcFile() {
  // On the disk before it takes the target's place: a power cut must not leave an empty file
  // where the old one was. Held until it has taken it: another program's read into this folder
  // removes the temporary files that nobody holds.
  if (!m_file->Sync()) throw CLinkError(kTransferPcFileIo);
  if (!m_file->PutInPlace()) {
    m_observer.Message(MessageKind::kAlert, msg::kCannotCreate.view());
    throw CLinkError(kLinkPcFileCreate);
  }
  m_tempPath.clear();
  // The data are on the disk already: what closing reports changes nothing.
  m_file->Close();
  m_file.reset();
}

COutcome CDownloadLink::Transfer(CByteChannel& channel, RequestRepeat repeat) {
  m_started = true;
  m_observer.FileStarts(TransferKind::kRead, m_name);
  TransferProgress progress{TransferKind::kRead, m_name, 0, std::nullopt, 0, 0};
  m_request = BuildReadRequest(m_name);

  ReplyAcks acks;
  RequestExchange(channel, acks, repeat);
  CreatePcFile();

  for (;;) {
    acks.ack.set_code(kAckAccepted);
    acks.ack.set_number(0);
    channel.Write(acks.ack.bytes());  // go-ahead
    ++progress.segments;

    // A segment's frames come numbered from 1, frame 1 with the segment header; a frame sent
    // again is not written again.
    CFrameSequence sequence;
    std::uint8_t more = 0;
    for (;;) {
      ++progress.frames;
      m_observer.Progress(progress);
      const ReceivedFrame frame = ReceiveFrame(channel, acks);
      if (frame.endMarker) {
        // The controller has no such file (or gave up): nothing replaces the target.
        channel.Close();
        Cleanup();
        return {OutcomeKind::kNoSuchFile};
      }
      if (!sequence.Take(frame.number)) continue;
      auto data = frame.data();
      const std::size_t trailer = frame.last == 1 ? 1 : 0;
      if (frame.number == 1) {
        if (data.size() < kSegmentHeaderSize + trailer) throw CLinkError(kLinkCallFailed);
        more = data[kMoreFlagOffset];
        data = data.subspan(kSegmentHeaderSize);
      }
      WriteData(data.first(data.size() - trailer));
      progress.bytesDone += data.size() - trailer;
      if (frame.last == 1) break;
    }
    if (more != 1) {
      // The last frame is in: the read's length is known, and told once more.
      progress.bytesInAll = progress.bytesDone;
      m_observer.Progress(progress);
      break;
    }

    // Between segments: the controller confirms the segment, then takes the next-segment
    // request.
    const CPollDeadline deadline;
    for (;;) {
      channel.Read(acks.ack.bytes());
      if (acks.ack.code() == kAckAccepted) break;
      channel.Write(acks.lastFrameAck.bytes());
      deadline.Check();
    }
    for (;;) {
      channel.Write(BuildNextSegmentRequest());
      channel.Read(acks.ack.bytes());
      if (acks.ack.code() == kAckAccepted) break;
      deadline.Check();
    }
  }

  channel.ReadClosingMessage();
  channel.Close();
  FinishPcFile();
  m_request.clear();
  return {OutcomeKind::kDone};
}

}  // namespace cabrix
