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
#include "ops/outcome.h"
#include "platform/pc_file.h"

namespace cabrix {

// What comes before the read request goes out again, when the controller has not accepted it.
enum class RequestRepeat {
  kAtOnce,
  kAfterResetPrompt,  // the operator is asked to reset the device, then given time to
};

class CDownloadLink : public CPlcLink {
 public:
  // `name` is the controller's file name, `path` the PC path (Windows form) of the file.
  CDownloadLink(std::string_view name, std::string_view path, COperationObserver& observer);
  ~CDownloadLink() override;

  // Reads the file over `channel`, which it opens and closes. A name too long for the read
  // request is refused before anything is sent.
  // The data goes to a temporary file beside the target, which replaces the target only when the
  // whole file has arrived; on every failure it is removed and the target stays as it was.
  // Temporary files that earlier programs left in that folder are removed first. The observer
  // sees the transfer from the moment the link is open.
  COutcome Download(CByteChannel& channel, RequestRepeat repeat);

  // The serial and the TCP form that the list loops call by these names: each opens its
  // channel and runs Download. Over the serial line the operator is asked to reset the device
  // before the request is sent again.
  COutcome DownloadFile();                                       // serial, m_port
  COutcome DownloadFile(const platform::Ipv4Address& address);  // TCP

  std::unique_ptr<platform::PcFile> m_file;
  std::vector<std::uint8_t> m_request;
  std::string m_name;
  std::string m_path;
  // The wait that gives the operator time to press reset after the prompt (a stop request cuts
  // it short); tests put a wait of their own in its place.
  std::function<void(std::chrono::milliseconds)> m_pauseAfterReset = DefaultPause;

 private:
  COutcome Transfer(CByteChannel& channel, RequestRepeat repeat);
  void RequestExchange(CByteChannel& channel, ReplyAcks& acks, RequestRepeat repeat);
  void CreatePcFile();
  void WriteData(std::span<const std::uint8_t> data);
  void FinishPcFile();
  void Cleanup();
  void RemoveStaleFiles() const;
  static void DefaultPause(std::chrono::milliseconds wait);

  COperationObserver& m_observer;
  std::string m_tempPath;
  bool m_started = false;  // the observer has been told that the transfer started
};

}  // namespace cabrix
