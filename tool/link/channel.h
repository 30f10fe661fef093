// The byte channel of one exchange: the transport read and write as the receive procedure and
// the exchanges see them, whatever carries the bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cabrix {

class CByteChannel {
 public:
  virtual ~CByteChannel() = default;

  // One transport read of up to buffer.size() bytes. Returns how many arrived, at least 1; a read
  // that gets nothing raises CLinkError instead of returning 0.
  virtual std::size_t Read(std::span<std::uint8_t> buffer) = 0;

  // One transport write of all of data in one piece; raises CLinkError when that fails.
  virtual void Write(std::span<const std::uint8_t> data) = 0;
};

}  // namespace cabrix
