#include "ops/download_link.h"

#include <chrono>

#include "link/frame.h"
#include "link/link_error.h"
#include "ops/exchange.h"
#include "platform/console.h"
#include "platform/stop_request.h"
#include "text/console_text.h"
#include "text/messages.h"

namespace cabrix {

namespace {

constexpr int kMaxRequestSendings = 3;
constexpr auto kAfterResetPause = std::chrono::milliseconds(5000);

// Frame 1 of a segment starts with a 6-byte segment header whose byte 2 says whether another
// segment follows; the segment's last frame carries one trailing byte after the data.
constexpr std::size_t kSegmentHeaderSize = 6;
constexpr std::size_t kMoreFlagOffset = 2;

constexpr std::uint8_t kNextSegmentRequest[] = {0xAA, 0xAA, 0x01, 0x00, 0x01,
                                                0x00, 0x89, 0x01, kRequestNextSegment};

constexpr char kSpinner[] = {'|', '\\', '-', '/', '-'};

}  // namespace

std::vector<std::uint8_t> BuildReadRequest(std::string_view name) {
  const std::vector<std::uint8_t> area = BuildNameArea(name);
  std::vector<std::uint8_t> request(12 + area.size(), 0);
  request[0] = kFrameSync;
  request[1] = kFrameSync;
  Write16le(request, frame_offset::kLength, static_cast<std::uint16_t>(4 + area.size()));
  Write16le(request, frame_offset::kNumber, 1);
  request[frame_offset::kLast] = 1;
  request[8] = kRequestReadFile;
  request[9] = 0;
  request[10] = static_cast<std::uint8_t>(area.size());
  request[11] = 0;
  std::copy(area.begin(), area.end(), request.begin() + 12);
  request[frame_offset::kChecksum] = WireChecksum(request);
  return request;
}

CDownloadLink::CDownloadLink(std::string_view name, std::string_view path)
    : m_name(name), m_path(path) {}

CDownloadLink::~CDownloadLink() { Cleanup(); }

void CDownloadLink::StepSpinner() {
  m_spinPhase = (m_spinPhase + 1) % 5;
  m_hConsole.WriteAt(m_cursor, std::string_view(&kSpinner[m_spinPhase], 1));
}

void CDownloadLink::Cleanup() {
  m_hPort.Close();
  if (m_socket.IsOpen()) {
    m_socket.Shutdown();
    m_socket.Close();
  }
  m_file.reset();
  if (!m_tempPath.empty()) {
    platform::RemoveFile(m_tempPath);
    m_tempPath.clear();
  }
  m_request.clear();
}

namespace {

bool RefuseLongName(std::string_view name) {
  if (name.size() <= kMaxDownloadName) return false;
  PrintText(msg::kNameTooLong.str() + std::string(name) + "\n");
  return true;
}

}  // namespace

void CDownloadLink::RemoveStaleFiles() const {
  platform::RemoveStaleTemporaries(platform::FolderOf(platform::NativePath(m_path)));
}

int CDownloadLink::DownloadFile() {
  if (RefuseLongName(m_name)) return kTransferNameTooLong;
  RemoveStaleFiles();
  try {
    m_hPort = OpenSerial(m_port);
    ConfigureFor(*this, m_hPort, kDownloadTimeouts);
    CSerialChannel channel(*this, m_hPort);
    return Transfer(channel, true);
  } catch (const CLinkError& error) {
    Cleanup();
    return error.Code();
  }
}

int CDownloadLink::DownloadFile(const platform::Ipv4Address& address) {
  if (RefuseLongName(m_name)) return kTransferNameTooLong;
  RemoveStaleFiles();
  SetReceiveBound(kDownloadTimeouts.readMultiplier, kDownloadTimeouts.readConstant);
  m_socket = ConnectTcp(PLC_PORT, address);
  if (!m_socket.IsOpen()) return kLinkCannotOpen;
  try {
    CTcpChannel channel(*this, m_socket);
    return Transfer(channel, false);
  } catch (const CLinkError& error) {
    Cleanup();
    return error.Code();
  }
}

void CDownloadLink::RequestExchange(CByteChannel& channel, ReplyAcks& acks, bool serial) {
  int sendings = 0;
  for (;;) {
    if (serial) {
      if (sendings > 0) {
        ShowOperatorMessage(msg::kPressReset.view());
        platform::WaitForStop(kAfterResetPause);  // a stop request cuts it short
      }
      PurgeSerial(m_hPort);
    }
    channel.Write(m_request);
    channel.Read(acks.ack.bytes());
    if (++sendings == kMaxRequestSendings) throw CLinkError(kLinkCallFailed);
    if (acks.ack.code() == kAckAccepted) return;
  }
}

void CDownloadLink::CreatePcFile(bool serial) {
  const std::string target = platform::NativePath(m_path);
  m_file = std::make_unique<platform::PcFile>();
  if (!m_file->CreateTemporary(platform::FolderOf(target), m_tempPath)) {
    m_file.reset();
    m_tempPath.clear();
    m_pcFileFailed = true;
    ShowOperatorMessage(msg::kCannotCreate.view());
    throw CLinkError(serial ? kLinkCannotOpen : kLinkPcFileCreate);
  }
}

void CDownloadLink::WriteData(std::span<const std::uint8_t> data) {
  if (data.empty()) return;
  if (!m_file->Write(data)) throw CLinkError(kTransferPcFileIo);
}

void CDownloadLink::FinishPcFile(bool serial) {
  // On the disk before it takes the target's place: a power cut must not leave an empty file
  // where the old one was. Held until it has taken it: another program's read into this folder
  // removes the temporary files that nobody holds.
  if (!m_file->Sync()) throw CLinkError(kTransferPcFileIo);
  if (!m_file->PutInPlaceOf(platform::NativePath(m_path))) {
    m_pcFileFailed = true;
    ShowOperatorMessage(msg::kCannotCreate.view());
    throw CLinkError(serial ? kLinkCannotOpen : kLinkPcFileCreate);
  }
  m_tempPath.clear();
  // The data are on the disk already: what closing reports changes nothing.
  m_file->Close();
  m_file.reset();
}

int CDownloadLink::Transfer(CByteChannel& channel, bool serial) {
  PrintText(msg::kReading.str() + m_name + ": |");
  if (const auto pos = m_hConsole.CursorPosition()) {
    m_cursor = {static_cast<std::int16_t>(pos->column - 1), pos->row};
  }
  m_request = BuildReadRequest(m_name);

  ReplyAcks acks;
  RequestExchange(channel, acks, serial);
  CreatePcFile(serial);

  for (;;) {
    acks.ack.set_code(kAckAccepted);
    acks.ack.set_number(0);
    channel.Write(acks.ack.bytes());  // go-ahead

    // A segment's frames come numbered from 1, frame 1 with the segment header; a frame sent
    // again is not written again.
    CFrameSequence sequence;
    std::uint8_t more = 0;
    for (;;) {
      StepSpinner();
      const ReceivedFrame frame = ReceiveFrame(channel, acks);
      if (frame.endMarker) {
        // The controller has no such file (or gave up): nothing replaces the target.
        Cleanup();
        return kDownloadEndMarker;
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
      if (frame.last == 1) break;
    }
    if (more != 1) break;

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
      channel.Write(kNextSegmentRequest);
      channel.Read(acks.ack.bytes());
      if (acks.ack.code() == kAckAccepted) break;
      deadline.Check();
    }
  }

  if (!serial) {
    std::uint8_t closing[kAckSize];
    channel.Read(closing);
  }
  m_hPort.Close();
  if (m_socket.IsOpen()) {
    m_socket.Shutdown();
    m_socket.Close();
  }
  FinishPcFile(serial);
  m_request.clear();
  PrintText(msg::kReadDone.view());
  return kDownloadDone;
}

}  // namespace cabrix
