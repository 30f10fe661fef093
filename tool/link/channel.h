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

  // A read of one unit: it ends when buffer.size() bytes are in, or when the line has been quiet
  // for the read interval after the first byte. A serial read does that by itself; a stream that
  // may hand a unit over in pieces gathers them. Raises CLinkError like Read.
  virtual std::size_t ReadUnit(std::span<std::uint8_t> buffer) { return Read(buffer); }

  // What has already arrived, up to buffer.size() bytes, without waiting; 0 when nothing has.
  virtual std::size_t ReadAvailable(std::span<std::uint8_t> /*buffer*/) { return 0; }

  // Drops whatever arrives until the line has been quiet for the read interval, so that what
  // comes next begins a unit.
  virtual void Purge() {}
};

}  // namespace cabrix
