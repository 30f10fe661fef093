#include "ops/upload_link.h"

#include <algorithm>

#include "link/link_error.h"
#include "ops/exchange.h"

namespace cabrix {

namespace {

constexpr int kMaxSendings = 4;
constexpr std::size_t kSegmentHeaderSize = 4;  // 30 01 and the segment's byte count
constexpr std::size_t kHeaderFrameRoom = kMaxPayload - 6;  // name area and data after the parameters

std::uint64_t CeilDiv(std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; }

}  // namespace

UploadPlan UploadPlan::For(std::uint64_t fileLength, std::size_t nameArea) {
  UploadPlan plan;
  plan.fileLength = fileLength;
  plan.nameArea = nameArea;
  plan.wholeInHeader = 6 + nameArea + fileLength <= kMaxPayload;
  plan.segments = plan.wholeInHeader ? 0 : CeilDiv(fileLength, kSegmentSize);
  plan.headerData = static_cast<std::size_t>(
      std::min<std::uint64_t>(fileLength, kHeaderFrameRoom - nameArea));
  return plan;
}

std::uint64_t UploadPlan::SegmentBytes(std::uint64_t s) const {
  if (s < segments) return kSegmentSize;
  return fileLength - (segments - 1) * kSegmentSize;
}

std::uint64_t UploadPlan::BlockPayload(std::uint64_t s) const {
  if (s == 1) return std::min<std::uint64_t>(fileLength, kSegmentSize) - headerData;
  return SegmentBytes(s) + kSegmentHeaderSize;
}

CUploadLink::CUploadLink(COperationObserver& observer) : m_observer(observer) {}
CUploadLink::~CUploadLink() = default;

void CUploadLink::Ended(bool done) {
  if (m_name.empty()) return;
  m_observer.FileEnds(TransferKind::kWrite, m_name, done);
  m_name.clear();
}

COutcome CUploadLink::Upload(CByteChannel& channel, const std::string& path) {
  // The name the controller gets for the file at `path`. One that has no controller form, or
  // that the file-header frame cannot carry, is refused before anything is sent.
  const auto name = ControllerNameOrRefusal(NameOfPath(path), m_observer);
  if (!name) return {OutcomeKind::kRefused};
  if (name->size() > kMaxUploadName) {
    RefuseLongName(*name, m_observer);
    return {OutcomeKind::kNameTooLong};
  }
  try {
    channel.Open(kUploadTimeouts);
    Transfer(channel, path, *name);
    channel.Close();
  } catch (const CLinkError& error) {
    channel.Close();
    m_file.reset();
    Ended(false);
    return OutcomeOfCode(error.Code());
  }
  Ended(true);
  return {OutcomeKind::kDone};
}

COutcome CUploadLink::UploadFile(const std::string& path) {
  CSerialChannel channel(*this, m_port);
  return Upload(channel, path);
}

COutcome CUploadLink::UploadFile(const std::string& path, const platform::Ipv4Address& address) {
  CTcpChannel channel(*this, address);
  return Upload(channel, path);
}

void CUploadLink::ReadFileData(std::span<std::uint8_t> into) {
  // The frame's length was fixed from the file's length: a file that gives fewer bytes than
  // that (it shrank, or the read failed) must not be sent with stale bytes in their place.
  std::size_t done = 0;
  while (done < into.size()) {
    const auto got = m_file->Read(into.subspan(done));
    if (!got || *got == 0) throw CLinkError(kTransferPcFileIo);
    done += *got;
  }
}

void CUploadLink::Transfer(CByteChannel& channel, const std::string& path,
                           const std::string& name) {
  m_file = std::make_unique<platform::PcFile>();
  if (!m_file->OpenRead(platform::NativePath(path))) {
    m_file.reset();
    throw CLinkError(kLinkPcFileOpen);
  }
  const auto length = m_file->Length();
  if (!length) throw CLinkError(kTransferPcFileIo);

  m_name = name;
  m_observer.FileStarts(TransferKind::kWrite, name);

  PlcFrameExt header;
  InitFrameExt(header);
  PlcFrame block;
  InitFrame(block);
  const std::uint64_t fileLength = *length;
  const std::vector<std::uint8_t> nameArea = BuildNameArea(name);
  const UploadPlan plan = UploadPlan::For(fileLength, nameArea.size());
  TransferProgress progress{TransferKind::kWrite, m_name, plan.headerData, fileLength, 0,
                            plan.segments};

  const std::uint64_t withHeader = 6 + nameArea.size() + fileLength;
  header.set_length(static_cast<std::uint16_t>(plan.wholeInHeader ? withHeader : kMaxPayload));
  header.set_number(1);
  header.set_last(plan.wholeInHeader ? 1 : 0);
  const bool oneSegment = withHeader <= kSegmentSize;
  header.set_param1(static_cast<std::uint16_t>(kRequestWriteFile | (oneSegment ? 0 : 0x100)));
  header.set_param2(static_cast<std::uint16_t>(oneSegment ? fileLength : kSegmentSize));
  header.set_param3(static_cast<std::uint16_t>(nameArea.size()));
  std::copy(nameArea.begin(), nameArea.end(), header.ext_payload().begin());
  ReadFileData(header.ext_payload().subspan(nameArea.size(), plan.headerData));
  SendFrame(channel, header, true);

  for (std::uint64_t s = 1; s <= plan.segments; ++s) {
    std::uint64_t remaining = plan.BlockPayload(s);
    bool first = true;
    while (remaining > 0) {
      const auto size = static_cast<std::uint16_t>(std::min<std::uint64_t>(remaining, kMaxPayload));
      remaining -= size;
      block.set_number(static_cast<std::uint16_t>(block.number() + 1));
      block.set_length(size);
      block.set_last(remaining == 0 ? 1 : 0);
      auto payload = block.payload();
      const bool segmentHeader = first && s >= 2;
      if (segmentHeader) {
        payload[0] = kRequestWriteSegment;
        payload[1] = 0x01;
        Write16le(payload, 2, static_cast<std::uint16_t>(plan.SegmentBytes(s)));
        ReadFileData(payload.subspan(kSegmentHeaderSize, size - kSegmentHeaderSize));
      } else {
        ReadFileData(payload.first(size));
      }
      first = false;
      SendFrame(channel, block, false);
      ++progress.frames;
      progress.bytesDone += segmentHeader ? size - kSegmentHeaderSize : size;
      m_observer.Progress(progress);
    }
    if (s < plan.segments) EndOfSegment(channel, block);
  }
  Closing(channel);
}

void CUploadLink::SendFrame(CByteChannel& channel, PlcFrame& frame, bool extended) {
  int sendings = 0;
  for (;;) {
    if (extended) {
      SetChecksumExt(static_cast<PlcFrameExt&>(frame), frame.length() - 6);
    } else {
      SetChecksum(frame, frame.length());
    }
    channel.Write(frame.wire());
    PlcAck reply;
    if (channel.Read(reply.bytes()) != kAckSize) throw CLinkError(kLinkBadReply);
    if (++sendings == kMaxSendings) throw CLinkError(kLinkBadReply);
    if (reply.has_sync() && reply.code() == kAckAccepted && reply.number() == frame.number()) {
      return;
    }
  }
}

void CUploadLink::EndOfSegment(CByteChannel& channel, PlcFrame& block) {
  channel.FlushPort();
  block.set_number(0);
  channel.Write(kEndOfDataMessage.bytes());
  std::uint8_t status[8];
  if (channel.Read(status) != 8) throw CLinkError(kLinkBadReply);
  if (channel.Read(std::span(status, 2)) != 2) throw CLinkError(kLinkBadReply);
  const CPollDeadline deadline;
  for (;;) {
    channel.Write(kPollMessage.bytes());
    PlcAck reply;
    if (channel.Read(reply.bytes()) != kAckSize) throw CLinkError(kLinkBadReply);
    if (reply.code() == kAckAccepted) return;
    deadline.Check();
  }
}

void CUploadLink::Closing(CByteChannel& channel) {
  if (!m_file->Close()) {
    m_file.reset();
    throw CLinkError(kTransferPcFileIo);
  }
  m_file.reset();
  channel.Write(kEndOfDataMessage.bytes());
  std::uint8_t status[8];
  if (channel.Read(status) != 8) throw CLinkError(kLinkBadReply);
  channel.Read(status);
  channel.FlushPort();
  // The poll goes out from the buffer the reply comes back into: a reply of fewer than three
  // bytes leaves the poll's own 0A 00 in place and ends the loop.
  PlcAck buffer = kPollMessage;
  const CPollDeadline deadline;
  for (;;) {
    channel.Write(buffer.bytes());
    channel.Read(buffer.bytes());
    if (buffer.bytes()[2] == 0x0A && buffer.bytes()[3] == 0x00) return;
    deadline.Check();
  }
}

}  // namespace cabrix
