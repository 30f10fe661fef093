// An in-memory byte channel for the link and operation tests: each Read hands out the next
// scripted unit (or raises the scripted code: a time-out is kLinkNoData), and every Write is
// recorded. What is left of a unit that a read took part of has arrived already (ReadAvailable
// hands it out); a drain drops it, with the stray units that follow it. The trace tells what the
// PC did, in order: "open", "flush", "drain", "closing" (the closing message read), "close",
// "close!" (without shutdown), and each write as "A<code>/<number>" for a unit in the shape of an
// acknowledgement, "F<number>" for a frame and "W<size>" for anything else.
#pragma once

#include <algorithm>
#include <deque>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "link/channel.h"
#include "link/link_error.h"

namespace cabrix::test {

using Bytes = std::vector<std::uint8_t>;

class ScriptedChannel : public CByteChannel {
 public:
  // A unit that one read returns (cut to the read's count; the rest stays for the next read).
  void Give(Bytes unit) { m_script.emplace_back(std::move(unit)); }
  // A read that fails with this link failure code.
  void Fail(int code) { m_script.emplace_back(code); }
  // Bytes that arrive late, but before the line goes quiet: a read takes them like any unit, a
  // drain drops them.
  void GiveStray(Bytes unit) {
    m_script.emplace_back(std::move(unit));
    m_stray.insert(m_script.size() - 1 + m_popped);
  }

  // The TCP shape: the controller sends a closing message, which ReadClosingMessage reads.
  explicit ScriptedChannel(bool closingMessage = false) : m_closingMessage(closingMessage) {}
  // Open fails with this code.
  void FailOpen(int code) { m_openFailure = code; }

  void Open(const CExchangeTimeouts& timeouts) override {
    trace.push_back("open");
    m_open = !m_openFailure;
    if (m_openFailure) throw CLinkError(*m_openFailure);
    opened = timeouts;
  }
  bool IsOpen() const override { return m_open; }
  void Close() override { Closed("close"); }
  void CloseWithoutShutdown() override { Closed("close!"); }
  void FlushPort() override { trace.push_back("flush"); }
  void ReadClosingMessage() override {
    if (!m_closingMessage) return;
    trace.push_back("closing");
    std::uint8_t closing[6];
    Read(closing);
  }

  std::size_t Read(std::span<std::uint8_t> buffer) override {
    ++reads;
    asked.push_back(buffer.size());
    if (m_script.empty()) throw CLinkError(kLinkNoData);
    if (auto* code = std::get_if<int>(&m_script.front())) {
      const int c = *code;
      Pop();
      throw CLinkError(c);
    }
    return Take(buffer);
  }

  std::size_t ReadAvailable(std::span<std::uint8_t> buffer) override {
    return m_begun ? Take(buffer) : 0;
  }

  void DrainUntilQuiet() override {
    trace.push_back("drain");
    drains.push_back(written.size());
    if (m_begun) Pop();
    while (!m_script.empty() && m_stray.count(m_popped) != 0) Pop();
  }

  void Write(std::span<const std::uint8_t> data) override {
    written.emplace_back(data.begin(), data.end());
    trace.push_back(Describe(data));
  }

  bool Exhausted() const { return m_script.empty(); }

  std::vector<Bytes> written;
  std::vector<std::size_t> asked;   // the count of every read
  std::vector<std::size_t> drains;  // for each drain, how many writes had gone out before it
  int reads = 0;
  std::vector<std::string> trace;
  std::optional<CExchangeTimeouts> opened;  // the time-outs of the last open

 private:
  static std::string Describe(std::span<const std::uint8_t> d) {
    const auto u16 = [&](std::size_t at) { return std::to_string(d[at] | d[at + 1] << 8); };
    if (d.size() == 6 && d[0] == 0x55 && d[1] == 0x55) return "A" + u16(2) + "/" + u16(4);
    if (d.size() >= 8 && d[0] == 0xAA && d[1] == 0xAA) return "F" + u16(4);
    return "W" + std::to_string(d.size());
  }
  void Closed(const char* how) {
    if (!m_open) return;
    trace.push_back(how);
    m_open = false;
  }

  std::size_t Take(std::span<std::uint8_t> buffer) {
    Bytes& unit = std::get<Bytes>(m_script.front());
    const std::size_t n = std::min(unit.size(), buffer.size());
    std::copy_n(unit.begin(), n, buffer.begin());
    unit.erase(unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(n));
    m_begun = !unit.empty();
    if (unit.empty()) Pop();
    return n;
  }
  void Pop() {
    m_script.pop_front();
    ++m_popped;
    m_begun = false;
  }

  std::deque<std::variant<Bytes, int>> m_script;
  std::set<std::size_t> m_stray;  // positions in the whole script
  std::size_t m_popped = 0;
  bool m_begun = false;  // the front unit was partly read
  bool m_closingMessage;
  std::optional<int> m_openFailure;
  bool m_open = true;  // a channel that nobody opens counts as open
};

}  // namespace cabrix::test
