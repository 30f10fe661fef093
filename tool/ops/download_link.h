// The file read: one controller file taken in segment by segment into a PC file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "link/plc_link.h"
#include "link/receive_frame.h"
#include "platform/pc_file.h"

namespace cabrix {

// The longest name a read request can carry: its name-area length is one byte.
inline constexpr std::size_t kMaxDownloadName = 253;

// Results of a file read besides the link failure codes.
inline constexpr int kDownloadDone = 1;
inline constexpr int kDownloadEndMarker = 7;

// The read request for one file: AA AA, 4 + A, number 1, checksum, last 1, 0x31, 0, A, 0 and the
// name area.
std::vector<std::uint8_t> BuildReadRequest(std::string_view name);

class CDownloadLink : public CPlcLink {
 public:
  // `name` is the controller's file name, `path` the PC path (Windows form) of the file.
  CDownloadLink(std::string_view name, std::string_view path);
  ~CDownloadLink() override;
  int Work() override { return 0; }

  // Reads the file: kDownloadDone, kDownloadEndMarker, or the link failure code that ended it.
  // The data goes to a temporary file beside the target, which replaces the target only when the
  // whole file has arrived; on every failure it is removed and the target stays as it was.
  // Temporary files that earlier programs left in that folder are removed first.
  int DownloadFile();                                       // serial, m_port
  int DownloadFile(const platform::Ipv4Address& address);  // TCP

  // Advances the turning bar by one phase at m_cursor.
  void StepSpinner();

  platform::SerialPort m_hPort;
  platform::TcpSocket m_socket;
  std::unique_ptr<platform::PcFile> m_file;
  std::vector<std::uint8_t> m_request;
  std::string m_name;
  std::string m_path;
  int m_spinPhase = 0;
  // The PC file could not be created or put in place (the serial form reports that with the
  // same code as a port that cannot be opened).
  bool m_pcFileFailed = false;

 private:
  int Transfer(CByteChannel& channel, bool serial);
  void RequestExchange(CByteChannel& channel, ReplyAcks& acks, bool serial);
  void CreatePcFile(bool serial);
  void WriteData(std::span<const std::uint8_t> data);
  void FinishPcFile(bool serial);
  void Cleanup();
  void RemoveStaleFiles() const;

  std::string m_tempPath;
};

}  // namespace cabrix
