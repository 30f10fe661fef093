// The controller's side of an exchange played by a fuzz input: the tool's byte channel reads the
// input's records and records what the tool writes.
#pragma once

#include <vector>

#include "fuzz_input.h"
#include "link/channel.h"
#include "link/link_error.h"

namespace fuzzing {

class FuzzChannel : public cabrix::CByteChannel {
 public:
  explicit FuzzChannel(RecordReader& input) : m_input(input) {}

  // A time-out and the end of the input both fail the read as the transports do when nothing
  // arrives in time.
  std::size_t Read(std::span<std::uint8_t> buffer) override {
    std::size_t count = 0;
    if (m_input.Read(buffer, count) != RecordReader::Kind::kData) {
      throw cabrix::CLinkError(cabrix::kLinkNoData);
    }
    reads.emplace_back(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
    return count;
  }

  void Write(std::span<const std::uint8_t> data) override {
    writes.emplace_back(data.begin(), data.end());
  }

  void Forget() {
    reads.clear();
    writes.clear();
  }

  std::vector<std::vector<std::uint8_t>> reads;  // what each successful read returned
  std::vector<std::vector<std::uint8_t>> writes;

 private:
  RecordReader& m_input;
};

}  // namespace fuzzing
