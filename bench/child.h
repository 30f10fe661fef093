// A child process started by the benchmark: its standard output is a pipe we read, and it is
// waited for with a time limit, its resource usage taken from wait4.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace bench {

struct ChildResult {
  bool exited = false;      // false: killed at the time limit
  int status = -1;          // exit status when exited
  double wallSeconds = 0;   // from start to exit
  double userSeconds = 0;
  double systemSeconds = 0;
  long maxRssKib = 0;
};

class Child {
 public:
  Child() = default;
  // Starts `argv` with `env` added to the environment; standard output goes to a pipe
  // (read with ReadLine), standard error to `errPath` (or /dev/null when empty).
  static std::optional<Child> Start(const std::vector<std::string>& argv,
                                    const std::vector<std::string>& env,
                                    const std::string& errPath = "");
  Child(Child&& other) noexcept;
  Child& operator=(Child&& other) noexcept;
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child();  // a child still running is killed and reaped

  // One line of standard output within `limit`; nullopt at end of output or time-out.
  std::optional<std::string> ReadLine(std::chrono::milliseconds limit);
  // Waits at most `limit` for the child's exit; kills it past that. Reaps it.
  ChildResult Wait(std::chrono::milliseconds limit);
  // SIGTERM, then Wait.
  ChildResult Stop(std::chrono::milliseconds limit);
  int Pid() const { return m_pid; }

 private:
  void Reset();

  int m_pid = -1;
  int m_pidFd = -1;
  int m_outFd = -1;
  std::string m_buffered;
  std::chrono::steady_clock::time_point m_started;
};

// Runs `argv` to its end with output discarded, bounded by `limit`.
ChildResult RunToEnd(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     std::chrono::milliseconds limit);

}  // namespace bench
