// A child process for the whole-program tests and the benchmark: argv with a changed
// environment, standard input from /dev/null, standard output (and standard error, unless it
// goes to a file) captured through pipes and drained while it runs, and every wait bounded. The
// child leads a process group of its own, so a time-out or the destructor kills it together with
// anything it started (a launcher such as wine, say). Its end is seen at once, with the
// processor time and memory it used.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace cabrix::test {

struct ProcessOptions {
  std::vector<std::pair<std::string, std::string>> setEnv;  // added or replaced
  std::vector<std::string> unsetEnv;                        // removed
  std::string workDir;                                      // empty: the caller's own
  std::string errPath;  // standard error into this file (created or emptied); empty: captured
  // The child gets SIGTERM when the thread that started it ends, so that a run stopped by a
  // signal takes its children with it. Only for children started by a thread that outlives them.
  bool endWithParentThread = false;
};

// How a child ended.
struct ProcessResult {
  bool timedOut = false;  // the wait ran out; the process group was killed
  bool exited = false;    // it called exit: exitCode holds the status
  int exitCode = -1;
  int signal = 0;         // it was ended by this signal (SIGKILL after a time-out)
  std::string out;        // everything it wrote to standard output
  std::string err;        // everything it wrote to standard error (when captured)
  double wallSeconds = 0;    // from its start to its end
  double userSeconds = 0;    // processor time it used, its own children's not included
  double systemSeconds = 0;
  long maxRssKib = 0;        // its largest resident set

  bool ExitedWith(int code) const { return exited && exitCode == code; }
  // A one-line account for test messages: "exit 0", "signal 9 (timed out)", plus the output.
  std::string Describe() const;
};

class Subprocess {
 public:
  // Starts argv[0] (searched in PATH when it has no slash). Throws std::runtime_error when the
  // program cannot be started.
  explicit Subprocess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
  ~Subprocess();  // kills the process group if still running, reaps, stops draining
  Subprocess(Subprocess&&) noexcept;
  Subprocess& operator=(Subprocess&&) noexcept;
  Subprocess(const Subprocess&) = delete;
  Subprocess& operator=(const Subprocess&) = delete;

  int Pid() const;
  bool Running();

  // Waits at most `timeout` for the process to end. On time-out kills its process group and
  // reports timedOut. Output written up to the end is included. Calling Wait again returns the
  // same result.
  ProcessResult Wait(std::chrono::milliseconds timeout);

  // Sends a signal to the process (not its group).
  void Signal(int signo);

  // Output captured so far.
  std::string Stdout() const;
  std::string Stderr() const;

  // Waits at most `timeout` until standard output holds a complete first line; returns it without
  // its line end, or nullopt when none came (the process ended or the time ran out).
  std::optional<std::string> WaitForFirstLine(std::chrono::milliseconds timeout);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Runs argv to its end, at most `timeout`.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout,
                         const ProcessOptions& options = {});

}  // namespace cabrix::test
