// One exchange of the simulator: a request from the PC and everything up to the end of its
// reply. The PC opens a TCP connection (or a serial port session) per exchange; the simulator
// serves exchanges one after the other.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "fault_plan.h"
#include "store.h"
#include "unit_io.h"

namespace plcsim {

enum class Transport { kTcp, kSerial };

// How many units in a row the simulator bears from a PC that makes no headway: frames that it
// rejects for their checksum, frames that it has taken already sent again, its own intact frames
// rejected, an acknowledgement repeated where a request belongs. As many as the console tool bears
// rejections of its own frames.
inline constexpr int kRepeatLimit = 20;

// Counts such units. Past the limit, or once such a run has lasted longer than the idle limit
// (a PC may repeat slowly), the exchange ends. A repetition that an injected fault asks for is
// not counted: the PC is right to repeat then, and its own limits end it.
class RepeatCounter {
 public:
  // One more unit without headway; throws ProtocolError past the limits.
  void Count(const std::string& what, Millis idle);
  // The PC made headway: the run is over.
  void Reset() { m_count = 0; }

 private:
  int m_count = 0;
  std::chrono::steady_clock::time_point m_since{};
};

// What the sessions need besides the stream.
struct ExchangeEnv {
  UnitIo& io;
  FileStore& store;
  FaultPlan& faults;
  Transport transport;
  std::string info;  // the information record ("PLCInfo"), Windows-1251 lines ending CR LF
  // Over the serial line, how long to wait after a file's 4500-byte segment for the PC to go on
  // with another segment before the file counts as complete. (It bears its name meanwhile, and a
  // new request ends the wait at once.)
  Millis continuationWindow{5000};
  // Set by a session that has already read the request of the next exchange.
  std::optional<Unit> nextRequest{};
  RepeatCounter repeats{};

  // Shorthand for repeats.Count with the stream's idle limit.
  void Repeated(const std::string& what) { repeats.Count(what, io.Idle()); }
};

// How an exchange ended, for the endpoint to close or drain accordingly.
enum class ExchangeEnd {
  kCompleted,  // the reply went out as it should
  kSilent,     // a fault made the simulator stop answering: wait for the PC to give up
  kClose,      // a fault asks for the connection to be closed at once
  kProblem,    // the PC sent something wrong, or went quiet: logged
  kPeerGone,   // the PC closed the connection
};

struct ExchangeResult {
  ExchangeEnd end = ExchangeEnd::kCompleted;
  // Over the serial line: a unit read after the exchange that begins the next one.
  std::optional<Unit> next;
};

// Reads a request (or takes `first`) and serves it. Never throws but StopRequested.
ExchangeResult ServeExchange(ExchangeEnv& env, std::optional<Unit> first = std::nullopt);

// The faults' way out of an exchange.
class FaultSilent : public std::runtime_error {
 public:
  FaultSilent() : std::runtime_error("silent") {}
};
class FaultClose : public std::runtime_error {
 public:
  FaultClose() : std::runtime_error("close") {}
};

}  // namespace plcsim
