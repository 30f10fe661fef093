#include "process/subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
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

// argv[0] as execve takes it: as given when it holds a slash, otherwise the first executable of
// that name in PATH. Empty when there is none.
std::string ProgramPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = std::getenv("PATH");
  const std::string dirs = path != nullptr && *path != '\0' ? path : "/usr/local/bin:/usr/bin:/bin";
  for (std::size_t at = 0; at <= dirs.size();) {
    std::size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end > at ? dirs.substr(at, end - at) : ".";
    const std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return {};
}

double Seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

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
  Fd pidFd;  // readable once the process has ended; invalid where the system has none
  Clock::time_point started;
  Clock::time_point ended;
  rusage usage{};
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
    const pid_t r = ::wait4(pid, &status, WNOHANG, &usage);
    if (r == pid) reaped = true;
    if (r < 0 && errno == ECHILD) reaped = true;  // not ours any more; nothing to wait for
    if (reaped) ended = Clock::now();
    return reaped;
  }

  // Sleeps until the process has ended or `deadline` has come, whichever is first.
  void AwaitEnd(Clock::time_point deadline) {
    while (!TryReap()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return;
      if (pidFd.Valid()) {
        pollfd p{pidFd.Get(), POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left.count()));
      } else {
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(left, 2ms));
      }
    }
  }

  void KillGroup() {
    if (!reaped) ::kill(-pid, SIGKILL);
  }

  void ReapBounded(Clock::duration limit) { AwaitEnd(Clock::now() + limit); }

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
  const std::string program = ProgramPath(argv[0]);
  if (program.empty()) {
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(ENOENT));
  }
  auto [outRead, outWrite] = MakePipe();
  Fd errRead, errWrite;
  if (options.errPath.empty()) std::tie(errRead, errWrite) = MakePipe();
  auto [reportRead, reportWrite] = MakePipe();  // the child's errno when it cannot start

  // Everything the child needs is made here: between fork and exec only plain system calls.
  std::vector<std::string> args = argv;
  std::vector<std::string> env = BuildEnvironment(options);
  auto argvC = CStrings(args);
  auto envC = CStrings(env);
  const char* workDir = options.workDir.empty() ? nullptr : options.workDir.c_str();
  const char* errPath = options.errPath.empty() ? nullptr : options.errPath.c_str();
  const pid_t parent = ::getpid();

  m_impl->started = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (pid == 0) {
    auto fail = [&] {
      const int e = errno;
      [[maybe_unused]] const ssize_t n = ::write(reportWrite.Get(), &e, sizeof e);
      ::_exit(127);
    };
    ::setpgid(0, 0);
    if (options.endWithParentThread) {
      if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0) fail();
      if (::getppid() != parent) ::_exit(127);  // the parent went before the request took hold
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGALRM, SIGUSR1, SIGUSR2}) {
      ::signal(s, SIG_DFL);
    }
    const int in = ::open("/dev/null", O_RDONLY);
    const int err = errPath != nullptr ? ::open(errPath, O_WRONLY | O_CREAT | O_TRUNC, 0644)
                                       : errWrite.Get();
    if (in < 0 || err < 0) fail();
    if (::dup2(in, 0) < 0 || ::dup2(outWrite.Get(), 1) < 0 || ::dup2(err, 2) < 0) fail();
    if (workDir != nullptr && ::chdir(workDir) != 0) fail();
    ::execve(program.c_str(), argvC.data(), envC.data());
    fail();
  }
  // Also in the parent, so that a kill of the group right after the start cannot miss it.
  ::setpgid(pid, pid);
  m_impl->pid = pid;
  m_impl->pidFd = Fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
  outWrite.Reset();
  errWrite.Reset();
  reportWrite.Reset();
  int childErrno = 0;
  ssize_t n;
  do {
    n = ::read(reportRead.Get(), &childErrno, sizeof childErrno);
  } while (n < 0 && errno == EINTR);
  if (n == static_cast<ssize_t>(sizeof childErrno)) {
    m_impl->ReapBounded(kReapAfterKill);
    throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(childErrno));
  }
  if (!options.errPath.empty()) m_impl->errEof = true;
  m_impl->drainer = std::thread(&Impl::Drain, m_impl.get(), std::move(outRead), std::move(errRead));
}

Subprocess::~Subprocess() = default;
Subprocess::Subprocess(Subprocess&&) noexcept = default;
Subprocess& Subprocess::operator=(Subprocess&&) noexcept = default;

int Subprocess::Pid() const { return m_impl->pid; }

bool Subprocess::Running() { return !m_impl->TryReap(); }

ProcessResult Subprocess::Wait(std::chrono::milliseconds timeout) {
  Impl& p = *m_impl;
  p.AwaitEnd(Clock::now() + timeout);
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
  if (p.reaped) {
    result.wallSeconds = std::chrono::duration<double>(p.ended - p.started).count();
    result.userSeconds = Seconds(p.usage.ru_utime);
    result.systemSeconds = Seconds(p.usage.ru_stime);
    result.maxRssKib = p.usage.ru_maxrss;
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
