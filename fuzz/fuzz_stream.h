// The PC's side of a simulator exchange played by a fuzz input: the simulator's byte stream
// reads the input's records (an empty record is a read that times out), the end of the input is
// the PC closing the connection, and delays take no time.
#pragma once

#include <vector>

#include "fuzz_input.h"
#include "stream.h"

namespace fuzzing {

class FuzzStream : public plcsim::ByteStream {
 public:
  explicit FuzzStream(RecordReader& input) : m_input(input) {}

  std::size_t ReadSome(std::span<std::uint8_t> buffer, plcsim::Millis) override {
    std::size_t count = 0;
    switch (m_input.Read(buffer, count)) {
      case RecordReader::Kind::kData: return count;
      case RecordReader::Kind::kTimeout: return 0;
      case RecordReader::Kind::kEnd: break;
    }
    throw plcsim::StreamClosed("end of the fuzz input");
  }

  void Write(std::span<const std::uint8_t> data) override {
    writes.emplace_back(data.begin(), data.end());
  }

  void Pause(plcsim::Millis) override {}

  std::vector<std::vector<std::uint8_t>> writes;

 private:
  RecordReader& m_input;
};

}  // namespace fuzzing
