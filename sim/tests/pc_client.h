// The PC's side of the three exchanges, as the console tool runs them (read sizes, retries and
// closing reads included), for testing the simulator without the tool. Failures raise
// cabrix::CLinkError with the tool's link failure codes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "link/channel.h"

namespace plcsim::testing {

// A PC-side channel, with the flush of the port that the serial exchanges do at their steps
// (the receive procedure's DrainUntilQuiet, which waits for a quiet line, is another thing).
class PcChannel : public cabrix::CByteChannel {
 public:
  virtual void Flush() {}
};

// Adapts any channel (the memory pipe's PC end) to a PcChannel without purging.
class PlainPcChannel : public PcChannel {
 public:
  explicit PlainPcChannel(cabrix::CByteChannel& inner) : m_inner(inner) {}
  std::size_t Read(std::span<std::uint8_t> b) override { return m_inner.Read(b); }
  void Write(std::span<const std::uint8_t> d) override { m_inner.Write(d); }

 private:
  cabrix::CByteChannel& m_inner;
};

// Wraps a channel and shows the test every write before it goes out; `beforeWrite` may throw a
// CLinkError to make the PC stop there.
class HookedPcChannel : public PcChannel {
 public:
  using Hook = std::function<void(std::span<const std::uint8_t>)>;
  HookedPcChannel(PcChannel& inner, Hook beforeWrite)
      : m_inner(inner), m_beforeWrite(std::move(beforeWrite)) {}
  std::size_t Read(std::span<std::uint8_t> b) override { return m_inner.Read(b); }
  void Write(std::span<const std::uint8_t> d) override {
    if (m_beforeWrite) m_beforeWrite(d);
    m_inner.Write(d);
  }
  std::size_t ReadUnit(std::span<std::uint8_t> b) override { return m_inner.ReadUnit(b); }
  void Flush() override { m_inner.Flush(); }
  void DrainUntilQuiet() override { m_inner.DrainUntilQuiet(); }

 private:
  PcChannel& m_inner;
  Hook m_beforeWrite;
};

// Whether `unit` is the first frame of an upload's segment 2 or later (number 1, 30 01).
inline bool IsLaterSegmentStart(std::span<const std::uint8_t> unit) {
  return unit.size() > 10 && unit[0] == 0xAA && unit[4] == 1 && unit[5] == 0 && unit[8] == 0x30 &&
         unit[9] == 1;
}

struct CommandReply {
  bool endMarker = false;
  std::string text;  // up to the first zero byte, as the tool prints it
};

class PcClient {
 public:
  // `tcp`: the TCP forms of the exchanges (closing reads, no purges).
  PcClient(PcChannel& channel, bool tcp) : m_ch(channel), m_tcp(tcp) {}
  PcClient(const PcClient&) = delete;
  PcClient& operator=(const PcClient&) = delete;

  CommandReply Command(const std::string& text);
  void Upload(const std::string& name, const std::string& data);
  // nullopt: the controller answered with an end marker.
  std::optional<std::string> Download(const std::string& name);

  // Counts over the client's life.
  int RejectsSent() const { return m_ch.rejects; }  // reply frames answered with code 20
  int frameSendings = 0;                             // upload frames written, repeats included
  int segmentRequests = 0;                           // next-segment requests written

 private:
  // Counts the code-20 acknowledgements the PC writes.
  struct Counting : PcChannel {
    explicit Counting(PcChannel& c) : inner(c) {}
    std::size_t Read(std::span<std::uint8_t> b) override { return inner.Read(b); }
    void Write(std::span<const std::uint8_t> d) override {
      if (d.size() == 6 && d[0] == 0x55 && d[2] == 20 && d[3] == 0) ++rejects;
      inner.Write(d);
    }
    std::size_t ReadUnit(std::span<std::uint8_t> b) override { return inner.ReadUnit(b); }
    void Flush() override { inner.Flush(); }
    void DrainUntilQuiet() override { inner.DrainUntilQuiet(); }
    PcChannel& inner;
    int rejects = 0;
  };

  Counting m_ch;
  bool m_tcp;
};

}  // namespace plcsim::testing
