// The simulator's serial side: a pseudo-terminal whose device is linked at a path the PC side
// opens as its COM port. The simulator keeps one descriptor of the device open (and never reads
// it), so that the PC may open and close the port between exchanges without the simulator ever
// seeing a hang-up.
#pragma once

#include <string>

#include "unique_fd.h"

namespace plcsim {

class PtyEndpoint {
 public:
  // Creates the pseudo-terminal in raw mode (no echo, no CR/LF mapping, no XON/XOFF) and links its
  // device at `linkPath`, replacing an existing link. Throws std::runtime_error.
  explicit PtyEndpoint(const std::string& linkPath);
  ~PtyEndpoint();  // removes the link when it still points at this device
  PtyEndpoint(const PtyEndpoint&) = delete;
  PtyEndpoint& operator=(const PtyEndpoint&) = delete;

  int MasterFd() const { return m_master.Get(); }
  const std::string& LinkPath() const { return m_link; }
  const std::string& DevicePath() const { return m_device; }

 private:
  UniqueFd m_master;
  UniqueFd m_keepOpen;
  std::string m_device;
  std::string m_link;
};

}  // namespace plcsim
