// The simulator's main loop: waits on its endpoints and serves one exchange at a time.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fault_plan.h"
#include "fd_stream.h"
#include "options.h"
#include "pty_endpoint.h"
#include "sim_log.h"
#include "store.h"
#include "tcp_endpoint.h"

namespace plcsim {

class Server {
 public:
  // Opens the store and the endpoints. Throws std::runtime_error.
  Server(const SimConfig& config, SimLog& log, int stopFd);

  // "plcsim ready: tcp 127.0.0.5:1200 pty /tmp/x/com3"
  std::string ReadyLine() const;

  // Serves until the stop descriptor becomes readable.
  void Run();

  // At exit: removes temporary files; the fault summary lines.
  std::vector<std::string> Finish();

 private:
  void ServeTcpConnection();
  void ServeSerial();

  const SimConfig& m_config;
  SimLog& m_log;
  int m_stopFd;
  FileStore m_store;
  FaultPlan m_faults;
  std::optional<TcpListener> m_tcp;
  std::unique_ptr<PtyEndpoint> m_pty;
  std::unique_ptr<FdStream> m_ptyStream;
  int m_tcpCount = 0;
  int m_serialCount = 0;
};

}  // namespace plcsim
