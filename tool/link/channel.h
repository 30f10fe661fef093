// The byte channel of one exchange: the transport read and write as the receive procedure and
// the exchanges see them, whatever carries the bytes, and the few steps in which the serial
// line and a TCP connection differ (opening, the port flush, the closing message, closing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace cabrix {

// The serial time-outs of one kind of exchange, in milliseconds. A TCP receive of the same
// exchange is bounded by the same read total, a TCP send by the same write total.
struct CExchangeTimeouts {
  std::uint32_t readInterval;
  std::uint32_t readMultiplier;
  std::uint32_t readConstant;
  std::uint32_t writeMultiplier;
  std::uint32_t writeConstant;
};

class CByteChannel {
 public:
  virtual ~CByteChannel() = default;

  // Opens the port or makes the connection, with the exchange's time-outs. A port or a
  // connection that cannot be had raises CLinkError with the transport's own code for that (8);
  // a serial line that cannot be set up raises 9, 7 or 6.
  virtual void Open(const CExchangeTimeouts& /*timeouts*/) {}
  virtual bool IsOpen() const { return true; }
  // Ends the exchange's hold on the line: a TCP connection is shut down both ways, then closed.
  // Nothing happens when nothing is open.
  virtual void Close() {}
  // The same without the shutdown: the socket is closed as it is.
  virtual void CloseWithoutShutdown() { Close(); }

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

  // The serial port's flush, at the steps of an exchange that start afresh: drops at once what
  // the driver holds in both directions, without waiting for anything. Nothing to do on TCP.
  virtual void FlushPort() {}

  // The receive procedure's drain, before it rejects a bad frame: drops whatever arrives until
  // the line has been quiet for the read interval, so that what comes next begins a unit. It
  // waits; it is not the port flush.
  virtual void DrainUntilQuiet() {}

  // The message of up to 6 bytes that the controller sends over TCP after a complete reply,
  // before the connection ends; one read, whose count and contents say nothing. A serial line
  // has no such message.
  virtual void ReadClosingMessage() {}
};

}  // namespace cabrix
