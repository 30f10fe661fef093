// The simulator's log: every unit received and sent, in hex with direction and time stamp, plus
// notes on exchanges, protocol problems and injected faults. Problems also go to standard error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace plcsim {

class SimLog {
 public:
  SimLog() = default;
  ~SimLog();
  SimLog(const SimLog&) = delete;
  SimLog& operator=(const SimLog&) = delete;

  // Writes the log to `path` (created or emptied). False when it cannot be opened.
  bool Open(const std::string& path);
  // Also keeps every line in `capture` (for tests).
  void CaptureInto(std::string* capture) { m_capture = capture; }
  // Whether problems are echoed to standard error (on by default).
  void EchoProblems(bool on) { m_echo = on; }

  // A short tag put on every line, naming the exchange ("tcp#3", "pty#1").
  void SetTag(std::string tag) { m_tag = std::move(tag); }

  void Received(std::span<const std::uint8_t> bytes);
  void Sent(std::span<const std::uint8_t> bytes);
  void Note(std::string_view text);
  void Problem(std::string_view text);
  void Fault(std::string_view text);

 private:
  void Line(std::string_view kind, std::string_view text, bool echo);

  std::FILE* m_file = nullptr;
  std::string* m_capture = nullptr;
  bool m_echo = true;
  std::string m_tag;
};

// "55 55 0A 00" for the bytes.
std::string Hex(std::span<const std::uint8_t> bytes);

}  // namespace plcsim
