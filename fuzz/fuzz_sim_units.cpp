// The simulator's reader of PC units: whatever arrives, it either ends with one of its own
// exceptions or hands over a unit whose bytes match its kind and announced length.
#include <cstdint>

#include "fuzz_stream.h"
#include "wire/frame.h"
#include "unit_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::RecordReader input({data, size});
  fuzzing::FuzzStream stream(input);
  plcsim::SimLog log;
  log.EchoProblems(false);
  plcsim::UnitIo io(stream, log, plcsim::Millis(1), plcsim::Millis(1));
  try {
    for (;;) {
      const auto unit = io.TryRead(plcsim::Millis(1));
      if (!unit) continue;  // a time-out before a unit began; each one uses up input
      if (unit->IsShort()) {
        FUZZ_CHECK(unit->bytes.size() == cabrix::kAckSize);
        FUZZ_CHECK(unit->bytes[0] == cabrix::kAckSync && unit->bytes[1] == cabrix::kAckSync);
        (void)unit->Code();
        (void)unit->Number();
      } else {
        FUZZ_CHECK(unit->bytes.size() >= cabrix::kFrameHeaderSize);
        FUZZ_CHECK(unit->bytes[0] == cabrix::kFrameSync && unit->bytes[1] == cabrix::kFrameSync);
        FUZZ_CHECK(unit->Length() <= plcsim::kMaxPcPayload);
        FUZZ_CHECK(unit->Payload().size() == unit->Length());
        (void)unit->ChecksumOk();
        (void)unit->RequestCode();
        (void)unit->Last();
      }
      FUZZ_CHECK(io.LastUnit().bytes == unit->bytes);
    }
  } catch (const plcsim::ProtocolError&) {
  } catch (const plcsim::StreamClosed&) {
  }
  return 0;
}
