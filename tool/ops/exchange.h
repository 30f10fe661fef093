// Pieces shared by the file transfers.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "link/channel.h"
#include "link/link_error.h"
#include "ops/observer.h"
#include "ops/outcome.h"

namespace cabrix {

// The failure code of the file transfers beyond the link's own: reading or writing the PC file
// failed. It travels inside a transfer only; the transfer returns it as its outcome.
inline constexpr int kTransferPcFileIo = 114;

// The time-outs of each kind of exchange (CExchangeTimeouts, link/channel.h).
inline constexpr CExchangeTimeouts kCommandTimeouts{200, 20, 2000, 1, 5000};
inline constexpr CExchangeTimeouts kUploadTimeouts{200, 20, 7000, 1, 5000};
inline constexpr CExchangeTimeouts kDownloadTimeouts{200, 10, 20000, 1, 20000};

// The loops in which the PC polls the controller until it answers "accepted" have no count of
// their own; each is bounded by this much time, after which the transfer fails with code 3.
inline constexpr std::chrono::seconds kPollLoopLimit{30};

class CPollDeadline {
 public:
  CPollDeadline() : m_end(std::chrono::steady_clock::now() + kPollLoopLimit) {}
  void Check() const {
    if (std::chrono::steady_clock::now() > m_end) throw CLinkError(kLinkBadReply);
  }

 private:
  std::chrono::steady_clock::time_point m_end;
};

// The part of a PC path after its last backslash or slash: the name the controller gets.
std::string_view NameOfPath(std::string_view path);

// The controller form of a name in the PC's form (text/pc_name.h). When it has none, the
// operator is told so and the result is nullopt: the name is refused before anything is sent,
// like one too long for the frames.
std::optional<std::string> ControllerNameOrRefusal(std::string_view pcName,
                                                   COperationObserver& observer);

// Tells the operator that `name` is too long for the frames.
void RefuseLongName(std::string_view name, COperationObserver& observer);

}  // namespace cabrix
