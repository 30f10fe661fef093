#include "platform/stop_request.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/deadline_p.h"
#include "platform/stop_request_posix_p.h"

namespace cabrix::platform {

namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t g_signal = 0;  // the first signal that asked for the stop
int g_wakeRead = -1;
int g_wakeWrite = -1;
std::atomic<int> g_socket{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler reads it");

// Only async-signal-safe calls. The program is single-threaded, so the handler runs between two
// steps of the main code and never beside one: a socket it shuts down is the one open now.
void OnStopSignal(int signo) {
  const int savedErrno = errno;
  if (g_signal == 0) g_signal = signo;
  if (g_wakeWrite >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_wakeWrite, &byte, 1);
  }
  // A blocking receive that began just before the signal would wait out its whole bound; a
  // socket shut down ends it at once.
  const int socket = g_socket.load();
  if (socket >= 0) ::shutdown(socket, SHUT_RDWR);
  errno = savedErrno;
}

}  // namespace

void InstallStopRequest() {
  if (g_wakeRead < 0) {
    int fds[2];
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
      g_wakeRead = fds[0];
      g_wakeWrite = fds[1];
    }
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int s : kStopSignals) sigaddset(&action.sa_mask, s);
  // Calls without a time-out of their own go on after the handler; every wait is a poll() or a
  // receive under a time-out, which the signal interrupts anyway.
  action.sa_flags = SA_RESTART;
  for (const int s : kStopSignals) {
    struct sigaction old {};
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(s, &action, nullptr);
  }
}

bool StopRequested() { return g_signal != 0; }

bool WaitForStop(std::chrono::milliseconds wait) {
  const auto deadline = SteadyClock::now() + wait;
  while (!StopRequested()) {
    const int timeout = PollTimeoutMs(deadline);
    if (timeout == 0) break;
    pollfd p{g_wakeRead, POLLIN, 0};  // a negative descriptor is passed over: a plain sleep
    ::poll(&p, 1, timeout);
  }
  return StopRequested();
}

void EndByStopRequest() {
  const int signo = g_signal != 0 ? static_cast<int>(g_signal) : SIGTERM;
  std::signal(signo, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signo);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signo);
  std::_Exit(128 + signo);  // not reached: the default action of these signals ends the process
}

int StopWakeFd() { return g_wakeRead; }

void WatchSocketForStop(int fd) { g_socket.store(fd); }

void UnwatchSocketForStop(int fd) {
  int expected = fd;
  g_socket.compare_exchange_strong(expected, -1);
}

}  // namespace cabrix::platform
