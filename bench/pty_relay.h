// A serial line between the PC's pseudo-terminal and plcsim's: what the PC sends reaches the
// controller at the line's rate (plcsim paces its own direction itself).
#pragma once

#include <atomic>
#include <string>
#include <thread>

namespace bench {

class PtyRelay {
 public:
  // Opens the controller's terminal at `controllerPath`, makes a new pseudo-terminal for the PC
  // and links its device at `pcLinkPath`.
  PtyRelay(const std::string& controllerPath, const std::string& pcLinkPath,
           double bytesPerSecond);
  ~PtyRelay();
  PtyRelay(const PtyRelay&) = delete;
  PtyRelay& operator=(const PtyRelay&) = delete;
  bool Ok() const { return m_ok; }

 private:
  void Run();

  int m_controller = -1;
  int m_master = -1;
  int m_slave = -1;  // kept open: the master reads nothing but errors while no slave is open
  int m_stop[2] = {-1, -1};
  std::string m_link;
  double m_bytesPerSecond;
  bool m_ok = false;
  std::thread m_thread;
};

}  // namespace bench
