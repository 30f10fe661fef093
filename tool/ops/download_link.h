// The file read: one controller file taken in segment by segment into a PC file.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/plc_link.h"
#include "link/receive_frame.h"
#include "ops/observer.h"
#include "platform/pc_file.h"

namespace cabrix {

// Results of a file read besides the link failure codes.
inline constexpr int kDownloadDone = 1;
inline constexpr int kDownloadEndMarker = 7;

class CDownloadLink : public CPlcLink {
 public:
  // `name` is the controller's file name, `path` the PC path (Windows form) of the file.
  CDownloadLink(std::string_view name, std::string_view path, COperationObserver& observer);
  ~CDownloadLink() override;
  int Work() override { return 0; }

  // Reads the file: kDownloadDone, kDownloadEndMarker, or the link failure code that ended it.
  // The data goes to a temporary file beside the target, which replaces the target only when the
  // whole file has arrived; on every failure it is removed and the target stays as it was.
  // Temporary files that earlier programs left in that folder are removed first. The observer
  // sees the transfer from the moment the link is open.
  int DownloadFile();                                       // serial, m_port
  int DownloadFile(const platform::Ipv4Address& address);  // TCP

  platform::SerialPort m_hPort;
  platform::TcpSocket m_socket;
  std::unique_ptr<platform::PcFile> m_file;
  std::vector<std::uint8_t> m_request;
  std::string m_name;
  std::string m_path;
  // The wait that gives the operator time to press reset after the prompt (a stop request cuts
  // it short); tests put a wait of their own in its place.
  std::function<void(std::chrono::milliseconds)> m_pauseAfterReset = DefaultPause;
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
  static void DefaultPause(std::chrono::milliseconds wait);

  COperationObserver& m_observer;
  std::string m_tempPath;
  bool m_started = false;  // the observer has been told that the transfer started
};

}  // namespace cabrix
