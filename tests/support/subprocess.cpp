#include "support/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "platform/unique_fd.h"

extern char** environ;

namespace cabrix::test {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// How long to wait for the pipes to reach end-of-file once the child has been reaped: something it
// started may still hold them.
constexpr auto kDrainAfterExit = 2s;
constexpr auto kReapAfterKill = 5s;

using Fd = platform::UniqueFd;

std::pair<Fd, Fd> MakePipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
  }
  return {Fd(fds[0]), Fd(fds[1])};
}

std::vector<std::string> BuildEnvironment(const ProcessOptions& options) {
  std::vector<std::string> env;
  auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
  auto removed = [&](const std::string& name) {
    for (const auto& u : options.unsetEnv) {
      if (u == name) return true;
    }
    for (const auto& [k, v] : options.setEnv) {
      if (k == name) return true;
    }
    return false;
  };
  for (char** e = environ; e && *e; ++e) {
    std::string entry(*e);
    if (!removed(nameOf(entry))) env.push_back(std::move(entry));
  }
  for (const auto& [k, v] : options.setEnv) env.push_back(k + "=" + v);
  return env;
}

std::vector<char*> CStrings(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (auto& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

}  // namespace

std::string ProcessResult::Describe() const {
  std::string s;
  if (exited) {
    s = "exit " + std::to_string(exitCode);
  } else if (signal != 0) {
    s = "signal " + std::to_string(signal);
  } else {
    s = "not ended";
  }
  if (timedOut) s += " (timed out)";
  s += "\n--- stdout ---\n" + out + "\n--- stderr ---\n" + err;
  return s;
}

struct Subprocess::Impl {
  pid_t pid = -1;
  bool reaped = false;
  int status = 0;
  bool timedOut = false;

  mutable std::mutex mutex;
  std::condition_variable changed;
  std::string out;
  std::string err;
  bool outEof = false;
  bool errEof = false;
  std::atomic<bool> stopDraining{false};
  std::thread drainer;

  void Drain(Fd outFd, Fd errFd) {
    char buf[4096];
    while (!stopDraining.load()) {
      pollfd fds[2];
      int n = 0;
      int outIndex = -1;
      int errIndex = -1;
      if (outFd.Get() >= 0) {
        outIndex = n;
        fds[n++] = {outFd.Get(), POLLIN, 0};
      }
      if (errFd.Get() >= 0) {
        errIndex = n;
        fds[n++] = {errFd.Get(), POLLIN, 0};
      }
      if (n == 0) break;
      const int r = ::poll(fds, static_cast<nfds_t>(n), 100);
      if (r < 0 && errno != EINTR) break;
      if (r <= 0) continue;
      auto pump = [&](int index, Fd& fd, std::string& into, bool& eof) {
        if (index < 0 || fds[index].revents == 0) return;
        const ssize_t got = ::read(fd.Get(), buf, sizeof buf);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
        std::lock_guard lock(mutex);
        if (got > 0) {
          into.append(buf, static_cast<std::size_t>(got));
        } else {
          eof = true;
          fd.Reset();
        }
        changed.notify_all();
      };
      pump(outIndex, outFd, out, outEof);
      pump(errIndex, errFd, err, errEof);
    }
    std::lock_guard lock(mutex);
    outEof = errEof = true;
    changed.notify_all();
  }

  bool TryReap() {
    if (reaped) return true;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) reaped = true;
    if (r < 0 && errno == ECHILD) reaped = true;  // not ours any more; nothing to wait for
    return reaped;
  }

  void KillGroup() {
    if (!reaped) ::kill(-pid, SIGKILL);
  }

  void ReapBounded(Clock::duration limit) {
    const auto deadline = Clock::now() + limit;
    while (!TryReap() && Clock::now() < deadline) std::this_thread::sleep_for(2ms);
  }

  void WaitForEof(Clock::duration limit) {
    std::unique_lock lock(mutex);
    changed.wait_for(lock, limit, [&] { return outEof && errEof; });
  }

  void StopDrainer() {
    stopDraining = true;
    if (drainer.joinable()) drainer.join();
  }

  ~Impl() {
    if (pid > 0 && !reaped) {
      KillGroup();
      ReapBounded(kReapAfterKill);
    }
    StopDrainer();
  }
};

Subprocess::Subprocess(const std::vector<std::string>& argv, const ProcessOptions& options)
    : m_impl(std::make_unique<Impl>()) {
  if (argv.empty()) throw std::runtime_error("Subprocess: empty argv");
  auto [outRead, outWrite] = MakePipe();
  auto [errRead, errWrite] = MakePipe();

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outWrite.Get(), 1);
  posix_spawn_file_actions_adddup2(&actions, errWrite.Get(), 2);
  if (!options.workDir.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workDir.c_str());
  }

  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
    sigaddset(&defaults, s);
  }
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                      POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> args = argv;
  std::vector<std::string> env = BuildEnvironment(options);
  auto argvC = CStrings(args);
  auto envC = CStrings(env);
  pid_t pid = -1;
  const int rc = ::posix_spawnp(&pid, argvC[0], &actions, &attr, argvC.data(), envC.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) {
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
  }
  m_impl->pid = pid;
  outWrite.Reset();
  errWrite.Reset();
  m_impl->drainer = std::thread(&Impl::Drain, m_impl.get(), std::move(outRead), std::move(errRead));
}

Subprocess::~Subprocess() = default;
Subprocess::Subprocess(Subprocess&&) noexcept = default;
Subprocess& Subprocess::operator=(Subprocess&&) noexcept = default;

int Subprocess::Pid() const { return m_impl->pid; }

bool Subprocess::Running() { return !m_impl->TryReap(); }

ProcessResult Subprocess::Wait(std::chrono::milliseconds timeout) {
  Impl& p = *m_impl;
  const auto deadline = Clock::now() + timeout;
  while (!p.TryReap() && Clock::now() < deadline) std::this_thread::sleep_for(2ms);
  if (!p.reaped) {
    p.timedOut = true;
    p.KillGroup();
    p.ReapBounded(kReapAfterKill);
  }
  p.WaitForEof(kDrainAfterExit);

  ProcessResult result;
  result.timedOut = p.timedOut;
  if (p.reaped && WIFEXITED(p.status)) {
    result.exited = true;
    result.exitCode = WEXITSTATUS(p.status);
  } else if (p.reaped && WIFSIGNALED(p.status)) {
    result.signal = WTERMSIG(p.status);
  }
  std::lock_guard lock(p.mutex);
  result.out = p.out;
  result.err = p.err;
  return result;
}

void Subprocess::Signal(int signo) {
  if (!m_impl->TryReap()) ::kill(m_impl->pid, signo);
}

std::string Subprocess::Stdout() const {
  std::lock_guard lock(m_impl->mutex);
  return m_impl->out;
}

std::string Subprocess::Stderr() const {
  std::lock_guard lock(m_impl->mutex);
  return m_impl->err;
}

std::optional<std::string> Subprocess::WaitForFirstLine(std::chrono::milliseconds timeout) {
  Impl& p = *m_impl;
  std::unique_lock lock(p.mutex);
  p.changed.wait_for(lock, timeout,
                     [&] { return p.out.find('\n') != std::string::npos || p.outEof; });
  const auto nl = p.out.find('\n');
  if (nl == std::string::npos) return std::nullopt;
  std::string line = p.out.substr(0, nl);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const ProcessOptions& options) {
  Subprocess process(argv, options);
  return process.Wait(timeout);
}

}  // namespace cabrix::test
