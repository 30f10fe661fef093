// plcsim: a substitute controller on a loopback TCP address and/or a pseudo-terminal.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "options.h"
#include "server.h"
#include "stop_signal.h"

int main(int argc, char** argv) {
  using namespace plcsim;
  const std::vector<std::string> args(argv + 1, argv + argc);
  SimConfig config;
  std::string error;
  if (!ParseCommandLine(args, config, error)) {
    std::fprintf(stderr, "plcsim: %s\n", error.c_str());
    return 2;
  }
  if (config.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (config.listFaults) {
    std::fputs(FaultListText().c_str(), stdout);
    return 0;
  }

  const int stopFd = InstallStopSignal();
  if (stopFd < 0) {
    std::fprintf(stderr, "plcsim: cannot set up signal handling\n");
    return 1;
  }
  SimLog log;
  if (!config.logPath.empty() && !log.Open(config.logPath)) {
    std::fprintf(stderr, "plcsim: cannot write the log %s\n", config.logPath.c_str());
    return 1;
  }
  try {
    Server server(config, log, stopFd);
    std::printf("%s\n", server.ReadyLine().c_str());
    std::fflush(stdout);
    server.Run();
    log.Note("stopping");
    for (const auto& line : server.Finish()) std::fprintf(stderr, "plcsim: %s\n", line.c_str());
  } catch (const std::exception& e) {
    log.Problem(e.what());
    return 1;
  }
  return 0;
}
