// Whole simulator exchanges (commands, file writes, file reads) against a PC side played by the
// input, over TCP or the serial line, with an optional fault from the input. The simulator must
// never crash, must answer only in well-formed units, and must keep every file it writes inside
// its store, with no temporary file left once an exchange is over.
//
// Input: one flags byte (bit 0: serial line, bit 1: the first record is a fault's text), then
// the records of the PC side.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include <stdlib.h>

#include "exchange.h"
#include "fuzz_stream.h"
#include "wire/frame.h"

namespace {

namespace fs = std::filesystem;

// The sandbox holds the store and nothing else; the store is refilled before every input.
struct Sandbox {
  Sandbox() {
    // A file write ends with fsync: in memory that costs next to nothing.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string pattern = (base / "plcsim-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) fuzzing::Fail("cannot create the sandbox");
    root = pattern;
    storePath = root / "store";
    store.emplace(storePath.string());
  }
  ~Sandbox() {
    store.reset();
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  void Refill() {
    for (const auto& entry : fs::directory_iterator(storePath)) fs::remove_all(entry.path());
    std::ofstream(storePath / "a.txt", std::ios::binary) << "hello\r\n";
    // Three segments of a file read: 4500, 4500 and 100 bytes.
    static const std::string big = [] {
      std::string s;
      for (int i = 0; i < 9100; ++i) s.push_back(static_cast<char>(i * 7 + 3));
      return s;
    }();
    std::ofstream(storePath / "prog.txt", std::ios::binary) << big;
  }

  void CheckContained() {
    int entries = 0;
    for (const auto& entry : fs::directory_iterator(root)) {
      FUZZ_CHECK(entry.path().filename() == "store");
      ++entries;
    }
    FUZZ_CHECK(entries == 1);
    for (const auto& entry : fs::directory_iterator(storePath)) {
      FUZZ_CHECK(entry.symlink_status().type() == fs::file_type::regular);
    }
    FUZZ_CHECK(store->RemoveTemporaries() == 0);
  }

  fs::path root;
  fs::path storePath;
  std::optional<plcsim::FileStore> store;
};

Sandbox& TheSandbox() {
  static Sandbox sandbox;
  return sandbox;
}

// Without faults every unit the simulator sends is an acknowledgement-shaped unit (6 bytes, or
// the 8-byte status unit and its 2-byte follower that answer the end of a file write) or an
// intact frame of at most 128 payload bytes.
void CheckWrites(const fuzzing::FuzzStream& stream) {
  for (const auto& w : stream.writes) {
    if (w.size() == 2) {
      FUZZ_CHECK(w[0] == 0x0A && w[1] == 0x00);
      continue;
    }
    FUZZ_CHECK(w.size() >= cabrix::kAckSize);
    if (w[0] == cabrix::kAckSync) {
      FUZZ_CHECK((w.size() == cabrix::kAckSize || w.size() == 8) && w[1] == cabrix::kAckSync);
      continue;
    }
    FUZZ_CHECK(w[0] == cabrix::kFrameSync && w[1] == cabrix::kFrameSync);
    FUZZ_CHECK(w.size() >= cabrix::kFrameHeaderSize);
    const std::size_t length = cabrix::Read16le(w, cabrix::frame_offset::kLength);
    FUZZ_CHECK(length <= cabrix::kMaxPayload);
    FUZZ_CHECK(w.size() == cabrix::kFrameHeaderSize + length);
    FUZZ_CHECK(cabrix::WireChecksum(w) == w[cabrix::frame_offset::kChecksum]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  Sandbox& sandbox = TheSandbox();
  sandbox.Refill();

  const std::uint8_t flags = data[0];
  const auto transport = (flags & 1) ? plcsim::Transport::kSerial : plcsim::Transport::kTcp;
  fuzzing::RecordReader input({data + 1, size - 1});

  plcsim::FaultPlan faults;
  if (flags & 2) {
    const auto text = input.TakeRecord();
    std::string error;
    auto spec = plcsim::ParseFault(std::string(text.begin(), text.end()), error);
    if (!spec) return 0;
    faults.Add(*spec);
  }

  plcsim::SimLog log;
  log.EchoProblems(false);
  fuzzing::FuzzStream stream(input);
  std::optional<plcsim::Unit> next;
  std::size_t stalled = 0;
  // Exchange after exchange as the endpoints serve them: a fresh connection each time over TCP,
  // over the serial line the unit that began the next exchange handed on.
  while (!input.AtEnd() || next) {
    const std::size_t before = input.Consumed();
    plcsim::UnitIo io(stream, log, plcsim::Millis(1), plcsim::Millis(1));
    plcsim::ExchangeEnv env{io, *sandbox.store, faults, transport, "PLC fuzz\r\n"};
    env.continuationWindow = plcsim::Millis(1);
    plcsim::ExchangeResult result = plcsim::ServeExchange(env, std::move(next));
    next = std::move(result.next);
    FUZZ_CHECK(transport == plcsim::Transport::kSerial || !next);
    // A handed-on request that the next exchange hands on again without reading anything
    // would keep the serial endpoint going round for ever.
    stalled = input.Consumed() == before ? stalled + 1 : 0;
    FUZZ_CHECK(stalled < 3);
    sandbox.CheckContained();
    if (result.end == plcsim::ExchangeEnd::kPeerGone) break;
  }
  if (faults.Empty()) CheckWrites(stream);
  return 0;
}
