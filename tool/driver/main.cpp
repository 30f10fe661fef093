#include <string>
#include <vector>

#include "driver/tool_job.h"
#include "platform/stop_request.h"
#include "platform/tcp_socket.h"

int main(int argc, char** argv) {
  cabrix::platform::InstallStopRequest();
  // There is no application framework to start on these platforms; the socket layer is.
  if (!cabrix::platform::StartSocketLayer()) return 1;
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  int status = cabrix::RunTool(args);
  // Asked to stop: the run has closed what it opened and removed its temporary file.
  if (cabrix::platform::StopRequested()) cabrix::platform::EndByStopRequest();
#ifndef _WIN32
  // A POSIX exit status keeps only eight bits: a file position of 256 would read as success.
  if (status > 255) status = 255;
#endif
  return status;
}
