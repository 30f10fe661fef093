#include "wire/frame.h"

#include <algorithm>

namespace cabrix {

std::span<const std::uint8_t> PlcFrame::wire() const {
  const std::size_t size = std::min<std::size_t>(kFrameHeaderSize + length(), kCapacity);
  return std::span(m_bytes).first(size);
}

void InitFrame(PlcFrame& frame) {
  auto b = frame.bytes();
  b[0] = kFrameSync;
  b[1] = kFrameSync;
  frame.set_length(static_cast<std::uint16_t>(kMaxPayload));
  frame.set_number(1);
  frame.set_last(0);
}

void InitFrameExt(PlcFrameExt& frame) {
  InitFrame(frame);
  frame.set_param3(10);
}

std::uint8_t ByteSum16(std::uint16_t value) {
  return static_cast<std::uint8_t>((value >> 8) + (value & 0xFF));
}

namespace {

// 0x54 stands for the two sync bytes: a receiver always counts AA AA.
constexpr unsigned kSyncSum = (kFrameSync + kFrameSync) & 0xFF;

unsigned HeaderSum(const PlcFrame& frame) {
  return kSyncSum + ByteSum16(frame.length()) + ByteSum16(frame.number()) + frame.last();
}

unsigned PayloadSum(std::span<const std::uint8_t> bytes, std::size_t from, int count) {
  unsigned sum = 0;
  const std::size_t end = std::min(bytes.size(), from + static_cast<std::size_t>(std::max(count, 0)));
  for (std::size_t i = from; i < end; ++i) sum += bytes[i];
  return sum;
}

}  // namespace

void SetChecksum(PlcFrame& frame, int count) {
  const unsigned sum = HeaderSum(frame) + PayloadSum(frame.bytes(), frame_offset::kPayload, count);
  frame.set_checksum(static_cast<std::uint8_t>(sum & 0xFF));
}

void SetChecksumExt(PlcFrameExt& frame, int count) {
  const unsigned sum = HeaderSum(frame) + ByteSum16(frame.param1()) + ByteSum16(frame.param2()) +
                       ByteSum16(frame.param3()) +
                       PayloadSum(frame.bytes(), frame_offset::kExtPayload, count);
  frame.set_checksum(static_cast<std::uint8_t>(sum & 0xFF));
}

std::uint8_t WireChecksum(std::span<const std::uint8_t> frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (i != frame_offset::kChecksum) sum += frame[i];
  }
  return static_cast<std::uint8_t>(sum & 0xFF);
}

int CopyFrame(PlcFrame& target, std::span<const std::uint8_t> header,
              std::span<const std::uint8_t> payload, int count) {
  auto b = target.bytes();
  b[0] = header[0];
  b[1] = header[1];
  b[2] = header[2];
  b[3] = header[3];
  b[4] = header[4];
  b[5] = header[5];
  b[7] = header[7];
  const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(count, 0)),
                                              std::min(payload.size(), kMaxPayload));
  std::copy_n(payload.begin(), n, target.payload().begin());
  return count;
}

std::optional<std::vector<std::uint8_t>> BuildCommandRequest(std::string_view text) {
  const std::size_t n = text.size();
  if (n > kMaxCommandText) return std::nullopt;
  std::vector<std::uint8_t> request(n + 14, 0);
  request[0] = kFrameSync;
  request[1] = kFrameSync;
  request[2] = static_cast<std::uint8_t>(n + 6);
  request[3] = 0;
  Write16le(request, frame_offset::kNumber, 1);
  request[frame_offset::kLast] = 1;
  request[8] = kRequestCommand;
  std::copy(text.begin(), text.end(), request.begin() + 13);
  request[13 + n] = 0;
  request[frame_offset::kChecksum] = WireChecksum(request);
  return request;
}

std::vector<std::uint8_t> BuildNameArea(std::string_view name) {
  std::vector<std::uint8_t> area(name.begin(), name.end());
  area.push_back(0);
  if (name.size() % 2 == 0) area.push_back(0xCD);
  return area;
}

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

std::array<std::uint8_t, kFrameHeaderSize + 1> BuildNextSegmentRequest() {
  std::array<std::uint8_t, kFrameHeaderSize + 1> request{kFrameSync, kFrameSync};
  Write16le(request, frame_offset::kLength, 1);
  Write16le(request, frame_offset::kNumber, 1);
  request[frame_offset::kLast] = 1;
  request[frame_offset::kPayload] = kRequestNextSegment;
  request[frame_offset::kChecksum] = WireChecksum(request);
  return request;
}

}  // namespace cabrix
