// The file write: one PC file sent to the controller in segments of 4500 file bytes, each cut
// into frames of at most 128 payload bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "wire/frame.h"
#include "link/plc_link.h"
#include "ops/observer.h"
#include "ops/outcome.h"
#include "platform/pc_file.h"

namespace cabrix {

// The longest name the file-header frame can carry (its name area must leave room after the six
// parameter bytes).
inline constexpr std::size_t kMaxUploadName = 121;

// How a file of L bytes with a name area of A bytes is cut up.
struct UploadPlan {
  std::uint64_t fileLength = 0;  // L
  std::size_t nameArea = 0;      // A
  std::uint64_t segments = 0;    // N; 0 when the whole file fits the file-header frame
  bool wholeInHeader = false;    // 6 + A + L <= 128
  std::size_t headerData = 0;    // D1, file bytes in the file-header frame

  static UploadPlan For(std::uint64_t fileLength, std::size_t nameArea);
  // File bytes of segment s (1-based).
  std::uint64_t SegmentBytes(std::uint64_t s) const;
  // Payload bytes of the block frames of segment s (segment header included).
  std::uint64_t BlockPayload(std::uint64_t s) const;
};

class CUploadLink : public CPlcLink {
 public:
  explicit CUploadLink(COperationObserver& observer);
  ~CUploadLink() override;

  // Writes one file over `channel`, which it opens and closes (`path` in the PC's form; the
  // controller gets the controller form of the name after its last backslash or slash). A name
  // that the frames cannot carry is refused before anything is sent; a transfer that fails has
  // closed the channel and the PC file when it returns. The observer sees the transfer from the
  // moment the link and the PC file are open.
  COutcome Upload(CByteChannel& channel, const std::string& path);

  // The serial and the TCP form that the list loops call by these names: each opens its
  // channel and runs Upload.
  COutcome UploadFile(const std::string& path);                                     // m_port
  COutcome UploadFile(const std::string& path, const platform::Ipv4Address& address);  // TCP

  std::unique_ptr<platform::PcFile> m_file;

 private:
  // `path` is the PC file, `name` its controller name.
  void Transfer(CByteChannel& channel, const std::string& path, const std::string& name);
  void SendFrame(CByteChannel& channel, PlcFrame& frame, bool extended);
  void EndOfSegment(CByteChannel& channel, PlcFrame& block);
  void Closing(CByteChannel& channel);
  void ReadFileData(std::span<std::uint8_t> into);
  void Ended(bool done);

  COperationObserver& m_observer;
  std::string m_name;  // the controller name of a transfer that has started; empty before
};

}  // namespace cabrix
