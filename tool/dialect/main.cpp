#include <string>
#include <vector>

#include "dialect/dialect.h"
#include "platform/console.h"
#include "platform/stop_request.h"
#include "platform/tcp_socket.h"

int main(int argc, char** argv) {
  using namespace cabrix;
  platform::InstallStopRequest();
  if (!platform::StartSocketLayer()) return dialect::kInternalError;
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const auto job = dialect::ParseCommandLine(args);
  const int status = job ? dialect::Run(*job) : dialect::kBadCommandLine;
  platform::FlushConsoleText();
  // Asked to stop: what was open is closed and the temporary file removed.
  if (platform::StopRequested()) platform::EndByStopRequest();
  return status;
}
