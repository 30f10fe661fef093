#include "stop_signal.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace plcsim {

namespace {

int g_pipe[2] = {-1, -1};
std::atomic<bool> g_stopped{false};

void OnStop(int) {
  const int saved = errno;
  g_stopped = true;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

int InstallStopSignal() {
  if (g_pipe[0] >= 0) return g_pipe[0];
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
  struct sigaction sa {};
  sa.sa_handler = OnStop;
  sigemptyset(&sa.sa_mask);
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, nullptr);
  return g_pipe[0];
}

bool StopSignalled() { return g_stopped.load(); }

}  // namespace plcsim
