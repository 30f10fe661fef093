// An in-memory duplex pipe between a simulator session (a plcsim::ByteStream) and a test's PC
// side (a cabrix::CByteChannel). Each write is kept as one piece and a read returns at most what
// one piece still holds, the way one TCP receive returns what one send delivered on loopback.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

#include "link/channel.h"
#include "link/link_error.h"
#include "stream.h"

namespace plcsim::testing {

class MemoryPipe {
 public:
  class SimEnd : public ByteStream {
   public:
    explicit SimEnd(MemoryPipe& pipe) : m_pipe(pipe) {}
    std::size_t ReadSome(std::span<std::uint8_t> buffer, Millis timeout) override;
    void Write(std::span<const std::uint8_t> data) override;
    void Pause(Millis) override {}  // injected delays take no time in memory

   private:
    MemoryPipe& m_pipe;
  };

  class PcEnd : public cabrix::CByteChannel {
   public:
    explicit PcEnd(MemoryPipe& pipe) : m_pipe(pipe) {}
    std::size_t Read(std::span<std::uint8_t> buffer) override;  // CLinkError(5) on time-out
    void Write(std::span<const std::uint8_t> data) override;
    std::chrono::milliseconds timeout{3000};  // how long a read waits for the simulator

   private:
    MemoryPipe& m_pipe;
  };

  SimEnd& Sim() { return m_sim; }
  PcEnd& Pc() { return m_pc; }
  // Ends both directions: blocked and later reads on either end fail.
  void Close();
  // Every piece the simulator wrote.
  std::vector<std::vector<std::uint8_t>> SimWrites();

 private:
  struct Direction {
    std::deque<std::vector<std::uint8_t>> pieces;
  };
  // Returns 0 on time-out, -1 when closed.
  long Take(Direction& d, std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout);
  void Put(Direction& d, std::span<const std::uint8_t> data);

  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_closed = false;
  Direction m_toSim;
  Direction m_toPc;
  std::vector<std::vector<std::uint8_t>> m_simWrites;
  SimEnd m_sim{*this};
  PcEnd m_pc{*this};
};

}  // namespace plcsim::testing
