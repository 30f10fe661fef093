#include "exchange.h"

#include "wire/frame.h"
#include "sessions.h"

namespace plcsim {

namespace {

ExchangeResult Dispatch(ExchangeEnv& env, const Unit& request) {
  if (!request.IsFrame()) throw ProtocolError("a 6-byte unit where a request belongs");
  switch (request.RequestCode()) {
    case cabrix::kRequestCommand: return ServeCommand(env, request);
    case cabrix::kRequestWriteFile: return ServeUpload(env, request);
    case cabrix::kRequestReadFile: return ServeDownload(env, request);
    default: break;
  }
  throw ProtocolError("unknown request code " + std::to_string(request.RequestCode()));
}

}  // namespace

void RepeatCounter::Count(const std::string& what, Millis idle) {
  const auto now = std::chrono::steady_clock::now();
  if (m_count++ == 0) m_since = now;
  if (m_count > kRepeatLimit) {
    throw ProtocolError(what + ": " + std::to_string(m_count) + " units in a row without headway");
  }
  if (now - m_since > idle) {
    throw ProtocolError(what + ": no headway for over " + std::to_string(idle.count() / 1000) +
                        " s");
  }
}

ExchangeResult ServeExchange(ExchangeEnv& env, std::optional<Unit> first) {
  SimLog& log = env.io.Log();
  ExchangeResult result;
  std::uint64_t requestIndex = env.io.UnitsRead() + 1;
  try {
    if (first) requestIndex = env.io.UnitsRead();
    const Unit request = first ? std::move(*first) : env.io.Read();
    result = Dispatch(env, request);
    if (env.nextRequest) result.next = std::move(env.nextRequest);
    log.Note("exchange complete");
    return result;
  } catch (const FaultSilent&) {
    result.end = ExchangeEnd::kSilent;
  } catch (const FaultClose&) {
    result.end = ExchangeEnd::kClose;
  } catch (const ProtocolError& e) {
    log.Problem(e.what());
    result.end = ExchangeEnd::kProblem;
    // Over the serial line a PC that gave up on an exchange may already have begun the next one.
    if (env.transport == Transport::kSerial && env.io.UnitsRead() > requestIndex &&
        IsRequest(env.io.LastUnit())) {
      log.Note("the unit is a new request: serving it");
      result.next = env.io.LastUnit();
    }
  } catch (const IdleTimeout& e) {
    log.Problem(std::string(e.what()) + "; exchange abandoned");
    result.end = ExchangeEnd::kProblem;
  } catch (const StreamClosed& e) {
    log.Note(std::string("the PC closed the connection: ") + e.what());
    result.end = ExchangeEnd::kPeerGone;
  }
  return result;
}

}  // namespace plcsim
