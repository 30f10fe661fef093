// A running plcsim (BuildDir()/bin/plcsim) for whole-program tests. It is started with a store, a
// log file and the given endpoints and arguments, and counts as started once it has printed its
// ready line; it is stopped with SIGTERM and a bounded wait when the object goes.
//
// The link at a pseudo-terminal's path names a device number that the kernel hands to the next
// pseudo-terminal anyone opens once this one is gone; a link left behind would lead a tool that
// opens it later to another test's simulator. plcsim removes its link before it lets go of the
// device when it stops by itself; before a simulator is killed outright, the link is removed
// here.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "process/subprocess.h"
#include "support/temp_dir.h"

namespace cabrix::test {

struct SimOptions {
  std::string tcp;                  // --tcp ADDR[:PORT]; empty: no TCP endpoint
  std::filesystem::path pty;        // --pty PATH; empty: no pseudo-terminal
  std::vector<std::string> args;    // anything else: --fault ..., --baud ..., --info-line ...
  std::filesystem::path store;      // empty: a fresh folder that the SimProcess owns
  std::chrono::milliseconds readyTimeout{10000};
  ProcessOptions process;           // environment changes for the simulator itself
};

class SimProcess {
 public:
  // Throws std::runtime_error (with the simulator's output) when it does not get ready in time.
  explicit SimProcess(SimOptions options);
  ~SimProcess();
  SimProcess(SimProcess&&) noexcept;
  SimProcess& operator=(SimProcess&&) noexcept;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Shorthands: a simulator on ADDR:1200 only, or on a pseudo-terminal linked at `pty` only.
  static SimProcess OnTcp(const std::string& address, std::vector<std::string> args = {});
  static SimProcess OnPty(const std::filesystem::path& pty, std::vector<std::string> args = {});

  const std::string& ReadyLine() const;
  // From the ready line: the TCP address ("127.0.3.4") and port it really listens on.
  std::string TcpAddress() const;
  std::uint16_t TcpPort() const;
  // "/TCP127.0.3.4", the cabrix switch for this simulator.
  std::string TcpSwitch() const;
  std::filesystem::path PtyPath() const;

  const std::filesystem::path& Store() const;
  const std::filesystem::path& LogPath() const;
  // The log as written so far (empty when there is none yet).
  std::string Log() const;
  // Polls the log, at most `timeout`, until it contains `text`.
  bool WaitForLog(std::string_view text, std::chrono::milliseconds timeout) const;

  // SIGTERM, then waits at most `timeout` (then removes the pty link and kills). The first
  // call's result is kept and returned again by later calls.
  ProcessResult Stop(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  bool Running();
  // Sends a signal (SIGKILL, say, to test a crash; the pty link goes first); Stop() then collects
  // the result.
  void Signal(int signo);

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace cabrix::test
