// How a fuzz input plays the peer of a link: a sequence of records, each one length byte and
// that many bytes. A record is one piece that the peer delivers: a read takes at most what the
// current record still holds, and the rest stays for the next read, so the input chooses both
// the bytes and how they are cut into reads. A record of length 0 is a read that gets nothing
// (a time-out). After the last record every read finds the end of the input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

namespace fuzzing {

class RecordReader {
 public:
  explicit RecordReader(std::span<const std::uint8_t> input) : m_input(input) {}

  enum class Kind { kData, kTimeout, kEnd };

  // One read of up to buffer.size() bytes (buffer not empty): kData with the count, kTimeout for
  // an empty record, kEnd when the input is used up.
  Kind Read(std::span<std::uint8_t> buffer, std::size_t& count) {
    count = 0;
    if (m_left == 0) {
      if (m_pos >= m_input.size()) return Kind::kEnd;
      StartRecord();
      if (m_left == 0) return Kind::kTimeout;
    }
    count = std::min(buffer.size(), m_left);
    std::copy_n(m_input.begin() + static_cast<std::ptrdiff_t>(m_pos), count, buffer.begin());
    m_pos += count;
    m_left -= count;
    return Kind::kData;
  }

  // The next whole record as bytes (empty at the end of the input); for inputs that start with
  // a configuration record.
  std::vector<std::uint8_t> TakeRecord() {
    std::vector<std::uint8_t> out;
    if (m_left == 0 && m_pos < m_input.size()) StartRecord();
    out.assign(m_input.begin() + static_cast<std::ptrdiff_t>(m_pos),
               m_input.begin() + static_cast<std::ptrdiff_t>(m_pos + m_left));
    m_pos += m_left;
    m_left = 0;
    return out;
  }

  std::size_t Consumed() const { return m_pos; }
  bool AtEnd() const { return m_left == 0 && m_pos >= m_input.size(); }

 private:
  // Reads the length byte at m_pos; a record cut short by the end of the input keeps what is left.
  void StartRecord() {
    const std::size_t length = m_input[m_pos];
    ++m_pos;
    m_left = std::min(length, m_input.size() - m_pos);
  }

  std::span<const std::uint8_t> m_input;
  std::size_t m_pos = 0;
  std::size_t m_left = 0;  // bytes of the current record not yet read
};

// Splits an input into command-line arguments at zero bytes (a trailing zero adds no argument).
inline std::vector<std::string> SplitArguments(std::span<const std::uint8_t> input) {
  std::vector<std::string> args;
  std::string current;
  bool pending = false;
  for (const std::uint8_t b : input) {
    if (b == 0) {
      args.push_back(current);
      current.clear();
      pending = false;
    } else {
      current.push_back(static_cast<char>(b));
      pending = true;
    }
  }
  if (pending) args.push_back(current);
  return args;
}

// Stops the run with a message when a property of the code under test does not hold; libFuzzer
// records the input that did it.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

#define FUZZ_CHECK(cond)                                  \
  do {                                                    \
    if (!(cond)) ::fuzzing::Fail(__FILE__ ": " #cond);    \
  } while (0)

}  // namespace fuzzing
