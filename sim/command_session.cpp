// The command exchange: request 0x92 with a text, acknowledged; after the PC's go-ahead the reply
// text in frames (the first payload opens with a 7-byte preamble, the last ends with the text's
// zero byte); over TCP a closing unit after the last frame.
#include <string>
#include <string_view>

#include "wire/bytes.h"
#include "wire/frame.h"
#include "sessions.h"

namespace plcsim {

namespace {

constexpr std::size_t kPreambleSize = 7;
constexpr std::string_view kDeleteCommand = "filedelete ";

std::string ReplyForDelete(ExchangeEnv& env, const std::string& name) {
  const NameCheck check = CheckName(name);
  if (check != NameCheck::kOk) {
    env.io.Log().Problem("delete refused: " + std::string(NameCheckText(check)));
    return "ERROR: bad file name\r\n";
  }
  switch (env.store.Delete(name)) {
    case FileStore::DeleteResult::kDeleted:
      env.io.Log().Note("deleted " + name);
      return "OK\r\n";
    case FileStore::DeleteResult::kMissing:
      env.io.Log().Note("delete: no file " + name);
      return "ERROR: file not found\r\n";
    case FileStore::DeleteResult::kFailed:
      break;
  }
  env.io.Log().Problem("delete of " + name + " failed");
  return "ERROR: cannot delete\r\n";
}

std::string DirectoryText(ExchangeEnv& env) {
  std::string text;
  for (const auto& name : env.store.List()) text += name + "\r\n";
  return text;
}

// The reply stream: preamble, text, zero byte. The preamble is the request code, 1, the u16 count
// of text bytes with the terminator, and three zero bytes.
std::vector<std::uint8_t> ReplyStream(const std::string& text) {
  std::vector<std::uint8_t> s(kPreambleSize, 0);
  s[0] = cabrix::kRequestCommand;
  s[1] = 1;
  cabrix::Write16le(s, 2, static_cast<std::uint16_t>(text.size() + 1));
  s.insert(s.end(), text.begin(), text.end());
  s.push_back(0);
  return s;
}

// The PC answers an end marker with its acknowledgement, number + 1, and reads a 6-byte unit.
void FinishAfterEndMarker(ExchangeEnv& env, Operation op) {
  const Unit ack = env.io.Read();
  if (!ack.IsShort()) throw ProtocolError("a frame where the answer to the end marker belongs");
  const SiteRef site{op, Site::kClosingUnit, 1, 0};
  ApplyExitAndDelay(env, site);
  env.io.Send(ClosingUnit());
}

}  // namespace

ExchangeResult ServeCommand(ExchangeEnv& env, const Unit& request) {
  const auto payload = request.Payload();
  // 0x92, four zero bytes, the text, a zero byte.
  std::size_t end = 5;
  while (end < payload.size() && payload[end] != 0) ++end;
  if (payload.size() < 6 || end == payload.size()) {
    throw ProtocolError("command request without a zero-terminated text");
  }
  const std::string text(payload.begin() + 5, payload.begin() + static_cast<std::ptrdiff_t>(end));
  const bool intact = request.ChecksumOk();

  Operation op = Operation::kCommand;
  if (intact && text == "PLCInfo") {
    op = Operation::kInfo;
  } else if (intact && text == "filedir") {
    op = Operation::kDir;
  } else if (intact && text.rfind(kDeleteCommand, 0) == 0) {
    op = Operation::kDelete;
  }
  env.io.Log().Note(std::string("command (") + OperationName(op) + "): \"" + text + "\"");

  std::optional<std::string> reply;
  if (op == Operation::kInfo) reply = env.info;
  if (op == Operation::kDir) reply = DirectoryText(env);
  if (op == Operation::kDelete) reply = ReplyForDelete(env, text.substr(kDeleteCommand.size()));
  if (!intact) env.io.Log().Problem("command request with a wrong checksum");

  // The PC reads this acknowledgement without looking at it.
  const SiteRef ackSite{op, Site::kRequestAck, 1, 1};
  ApplyExitAndDelay(env, ackSite);
  const bool rejected =
      TakeFault(env, ackSite, {FaultKind::kRejectRequest}, "answering code 20") != nullptr;
  env.io.Send(ShortUnit(intact && !rejected ? cabrix::kAckAccepted : cabrix::kAckRejected, 1));

  const Unit goAhead = env.io.Read();
  if (!goAhead.IsShort()) throw ProtocolError("a frame where the go-ahead belongs");

  if (!reply) {
    // An unknown command (or one that arrived damaged) gets an end marker: an empty reply.
    const SiteRef site{op, Site::kReplyFrame, 1, 1};
    ApplyExitAndDelay(env, site);
    env.io.Send(EndMarkerFrame(1));
    FinishAfterEndMarker(env, op);
    return {};
  }

  const auto stream = ReplyStream(*reply);
  if (SendReplyFrames(env, op, 1, stream) == ReplyOutcome::kEndMarker) {
    FinishAfterEndMarker(env, op);
    return {};
  }
  if (env.transport == Transport::kTcp) {
    const SiteRef site{op, Site::kClosingUnit, 1, 0};
    ApplyExitAndDelay(env, site);
    env.io.Send(ClosingUnit());
  }
  return {};
}

}  // namespace plcsim
