// An in-memory byte channel for the link tests: each Read hands out the next scripted unit (or
// raises the scripted code), and every Write is recorded. What is left of a unit that a read
// took part of has arrived already (ReadAvailable hands it out); a drain drops it, with the
// stray units that follow it.
#pragma once

#include <algorithm>
#include <deque>
#include <set>
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
    drains.push_back(written.size());
    if (m_begun) Pop();
    while (!m_script.empty() && m_stray.count(m_popped) != 0) Pop();
  }

  void Write(std::span<const std::uint8_t> data) override {
    written.emplace_back(data.begin(), data.end());
  }

  bool Exhausted() const { return m_script.empty(); }

  std::vector<Bytes> written;
  std::vector<std::size_t> asked;   // the count of every read
  std::vector<std::size_t> drains;  // for each drain, how many writes had gone out before it
  int reads = 0;

 private:
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
};

}  // namespace cabrix::test
