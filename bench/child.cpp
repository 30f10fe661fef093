#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

extern char** environ;

namespace bench {

namespace {
using Clock = std::chrono::steady_clock;

int MillisLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, left.count()));
}
}  // namespace

std::optional<Child> Child::Start(const std::vector<std::string>& argv,
                                  const std::vector<std::string>& env,
                                  const std::string& errPath) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return std::nullopt;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  for (const auto& e : env) envStrings.push_back(e);
  std::vector<char*> envp;
  for (auto& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  const std::string err = errPath.empty() ? "/dev/null" : errPath;

  Child child;
  child.m_started = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::close(out[0]);
    ::close(out[1]);
    return std::nullopt;
  }
  if (pid == 0) {
    // A benchmark stopped by a signal takes its children with it.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int nullFd = ::open("/dev/null", O_RDONLY);
    if (errFd < 0 || nullFd < 0) ::_exit(127);
    ::dup2(nullFd, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(errFd, STDERR_FILENO);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  child.m_pid = pid;
  child.m_outFd = out[0];
  child.m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  return child;
}

Child::Child(Child&& other) noexcept { *this = std::move(other); }

Child& Child::operator=(Child&& other) noexcept {
  if (this != &other) {
    Reset();
    m_pid = std::exchange(other.m_pid, -1);
    m_pidFd = std::exchange(other.m_pidFd, -1);
    m_outFd = std::exchange(other.m_outFd, -1);
    m_buffered = std::move(other.m_buffered);
    m_started = other.m_started;
  }
  return *this;
}

Child::~Child() { Reset(); }

void Child::Reset() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);  // killed: it ends at once
    m_pid = -1;
  }
  if (m_pidFd >= 0) ::close(m_pidFd);
  if (m_outFd >= 0) ::close(m_outFd);
  m_pidFd = m_outFd = -1;
}

std::optional<std::string> Child::ReadLine(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto nl = m_buffered.find('\n');
    if (nl != std::string::npos) {
      std::string line = m_buffered.substr(0, nl);
      m_buffered.erase(0, nl + 1);
      return line;
    }
    if (m_outFd < 0) return std::nullopt;
    pollfd p{m_outFd, POLLIN, 0};
    const int r = ::poll(&p, 1, MillisLeft(deadline));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return std::nullopt;
    char buf[512];
    const ssize_t n = ::read(m_outFd, buf, sizeof buf);
    if (n <= 0) return std::nullopt;
    m_buffered.append(buf, static_cast<std::size_t>(n));
  }
}

ChildResult Child::Wait(std::chrono::milliseconds limit) {
  ChildResult result;
  if (m_pid <= 0) return result;
  const auto deadline = Clock::now() + limit;
  bool exited = false;
  if (m_pidFd >= 0) {
    for (;;) {
      pollfd p{m_pidFd, POLLIN, 0};
      const int r = ::poll(&p, 1, MillisLeft(deadline));
      if (r < 0 && errno == EINTR) continue;
      exited = r > 0;
      break;
    }
  }
  if (!exited) ::kill(m_pid, SIGKILL);
  int status = 0;
  rusage usage{};
  while (::wait4(m_pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const auto end = Clock::now();
  m_pid = -1;
  result.wallSeconds = std::chrono::duration<double>(end - m_started).count();
  result.exited = exited && WIFEXITED(status);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.userSeconds = double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
  result.systemSeconds = double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
  result.maxRssKib = usage.ru_maxrss;
  Reset();
  return result;
}

ChildResult Child::Stop(std::chrono::milliseconds limit) {
  if (m_pid > 0) ::kill(m_pid, SIGTERM);
  return Wait(limit);
}

ChildResult RunToEnd(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     std::chrono::milliseconds limit) {
  auto child = Child::Start(argv, env);
  if (!child) return {};
  return child->Wait(limit);
}

}  // namespace bench
