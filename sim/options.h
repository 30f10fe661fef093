// The simulator's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fault_plan.h"
#include "tcp_endpoint.h"

namespace plcsim {

struct SimConfig {
  std::string store;
  std::optional<TcpAddress> tcp;  // set by --tcp, or 127.0.0.1:1200 when neither endpoint is given
  std::string pty;
  unsigned baud = 0;
  std::string logPath;
  std::vector<FaultSpec> faults;
  std::string info;  // Windows-1251, lines ending CR LF
  int idleSeconds = 30;
  bool help = false;
  bool listFaults = false;
};

// Parses argv[1..]. False with `error` set on a bad command line.
bool ParseCommandLine(const std::vector<std::string>& args, SimConfig& config, std::string& error);

std::string HelpText();

}  // namespace plcsim
