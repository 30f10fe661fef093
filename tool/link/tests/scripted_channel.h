// An in-memory byte channel for the link tests: each Read hands out the next scripted unit (or
// raises the scripted code), and every Write is recorded.
#pragma once

#include <deque>
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

  std::size_t Read(std::span<std::uint8_t> buffer) override {
    ++reads;
    if (m_script.empty()) throw CLinkError(kLinkNoData);
    if (auto* code = std::get_if<int>(&m_script.front())) {
      const int c = *code;
      m_script.pop_front();
      throw CLinkError(c);
    }
    Bytes& unit = std::get<Bytes>(m_script.front());
    const std::size_t n = std::min(unit.size(), buffer.size());
    std::copy_n(unit.begin(), n, buffer.begin());
    unit.erase(unit.begin(), unit.begin() + static_cast<std::ptrdiff_t>(n));
    if (unit.empty()) m_script.pop_front();
    return n;
  }

  void Write(std::span<const std::uint8_t> data) override {
    written.emplace_back(data.begin(), data.end());
  }

  bool Exhausted() const { return m_script.empty(); }

  std::vector<Bytes> written;
  int reads = 0;

 private:
  std::deque<std::variant<Bytes, int>> m_script;
};

}  // namespace cabrix::test
