// Injected faults, and bad input from the PC, over the in-memory pipe.
#include <filesystem>
#include <functional>
#include <thread>

#include "wire/bytes.h"
#include "wire/frame.h"
#include "session_fixture.h"
#include "support/temp_dir.h"

namespace plcsim::testing {
namespace {

namespace fs = std::filesystem;
using cabrix::test::PatternBytes;
using cabrix::test::ReadFileBytes;
using cabrix::test::WriteFileBytes;

class Faults : public SessionTest {
 protected:
  fs::path StorePath(const std::string& name) { return dir / "store" / name; }
  std::size_t StoreEntries() {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir / "store")) ++n;
    return n;
  }
  int Firings() const {
    int n = 0;
    for (std::size_t at = 0; (at = logText.find("FAULT ", at)) != std::string::npos; ++at) ++n;
    return n;
  }
};

TEST_F(Faults, BadChecksumFrameIsRejectedAndItsTextTakenOnce) {
  AddFault("bad-checksum,op=info,frame=1");
  CommandReply reply;
  const auto run = Run([&](PcClient& c) { reply = c.Command("PLCInfo"); });
  EXPECT_FALSE(run.pcError);
  EXPECT_EQ(reply.text, info);
  EXPECT_EQ(lastClient.rejects, 1);
  EXPECT_EQ(Firings(), 1);
  // Once by default: the next exchange is clean.
  Run([&](PcClient& c) { c.Command("PLCInfo"); });
  EXPECT_EQ(lastClient.rejects, 0);
}

TEST_F(Faults, RestrictedToAnotherOperationTheFaultNeverFires) {
  AddFault("bad-checksum,op=download");
  Run([&](PcClient& c) { c.Command("filedir"); });
  EXPECT_EQ(Firings(), 0);
  EXPECT_EQ(faults.Summary().front(), "fault bad-checksum,op=download: fired 0 of 1");
}

TEST_F(Faults, RejectedWriteFrameIsSentAgainAndStoredOnce) {
  AddFault("reject,op=upload,frame=3");
  const std::string data = PatternBytes(1000);
  const auto run = Run([&](PcClient& c) { c.Upload("r.bin", data); });
  ASSERT_FALSE(run.pcError) << logText;
  EXPECT_EQ(ReadFileBytes(StorePath("r.bin")), data);
  EXPECT_EQ(lastClient.frameSendings, 1 + 7 + 1);  // header, 7 blocks, one repeat
}

TEST_F(Faults, FourRejectionsMakeThePcGiveUpAndLeaveNoFile) {
  AddFault("reject,op=upload,segment=2,frame=1,times=4");
  const auto run = Run([&](PcClient& c) { c.Upload("big.bin", PatternBytes(9000)); });
  EXPECT_EQ(run.pcError, cabrix::kLinkBadReply);
  EXPECT_EQ(StoreEntries(), 0u) << "neither the file nor its temporary copy";
}

TEST_F(Faults, WrongNumberAndStaleAckAreNotTaken) {
  AddFault("wrong-number,op=upload,frame=2");
  AddFault("stale-ack,op=upload,frame=4");
  const std::string data = PatternBytes(700);
  const auto run = Run([&](PcClient& c) { c.Upload("w.bin", data); });
  ASSERT_FALSE(run.pcError) << logText;
  EXPECT_EQ(ReadFileBytes(StorePath("w.bin")), data);
  EXPECT_EQ(lastClient.frameSendings, 1 + 5 + 2);
  EXPECT_EQ(Firings(), 2);
}

TEST_F(Faults, RejectedPollIsPolledAgain) {
  AddFault("reject,at=poll-answer");
  const auto run = Run([&](PcClient& c) { c.Upload("p.txt", "abc"); });
  EXPECT_FALSE(run.pcError);
  EXPECT_EQ(ReadFileBytes(StorePath("p.txt")), "abc");
  EXPECT_EQ(Firings(), 1);
}

TEST_F(Faults, RejectedReadRequestIsSentAgainWithinThePcsLimit) {
  WriteFileBytes(StorePath("d.bin"), PatternBytes(5000));
  AddFault("reject-request,op=download");
  AddFault("reject-request,op=download,segment=2");
  std::optional<std::string> got;
  auto run = Run([&](PcClient& c) { got = c.Download("d.bin"); });
  ASSERT_FALSE(run.pcError) << logText;
  EXPECT_EQ(*got, PatternBytes(5000));
  EXPECT_EQ(lastClient.segmentRequests, 2);

  AddFault("reject-request,op=download,segment=1,times=3");
  run = Run([&](PcClient& c) { c.Download("d.bin"); });
  EXPECT_EQ(run.pcError, cabrix::kLinkCallFailed);
}

TEST_F(Faults, Code20InPlaceOfAHeaderMakesThePcRepeatItsAck) {
  WriteFileBytes(StorePath("c.bin"), PatternBytes(600));
  AddFault("code20-header,op=download,frame=3");
  std::optional<std::string> got;
  const auto run = Run([&](PcClient& c) { got = c.Download("c.bin"); });
  ASSERT_FALSE(run.pcError) << logText;
  EXPECT_EQ(*got, PatternBytes(600));

  // Twice in a row uses up the PC's header attempts.
  AddFault("code20-header,op=dir,times=2");
  EXPECT_EQ(Run([&](PcClient& c) { c.Command("filedir"); }).pcError, cabrix::kLinkCallFailed);
}

TEST_F(Faults, EndMarkerEndsARead) {
  WriteFileBytes(StorePath("e.bin"), PatternBytes(600));
  AddFault("end-marker,op=download,frame=2");
  std::optional<std::string> got = "unset";
  const auto run = Run([&](PcClient& c) { got = c.Download("e.bin"); });
  EXPECT_FALSE(run.pcError);
  EXPECT_FALSE(got.has_value());
  EXPECT_EQ(run.sim.end, ExchangeEnd::kCompleted);
}

TEST_F(Faults, TruncatedAndSplitFramesAreRejectedThenRepeated) {
  WriteFileBytes(StorePath("t.bin"), PatternBytes(300));
  AddFault("truncate,op=download,frame=2");
  AddFault("split-frame,op=download,frame=3,bytes=8");  // header, then payload: arrives whole
  std::optional<std::string> got;
  const auto run = Run([&](PcClient& c) { got = c.Download("t.bin"); });
  ASSERT_FALSE(run.pcError) << logText;
  EXPECT_EQ(*got, PatternBytes(300));
  EXPECT_EQ(lastClient.rejects, 1);
  EXPECT_EQ(Firings(), 2);
}

TEST_F(Faults, SilentAndCloseEndTheExchangeAndThePcTimesOut) {
  pcTimeout = std::chrono::milliseconds(200);
  AddFault("silent,op=upload,at=frame-ack,frame=2");
  auto run = Run([&](PcClient& c) { c.Upload("s.bin", PatternBytes(500)); });
  EXPECT_EQ(run.pcError, cabrix::kLinkNoData);
  EXPECT_EQ(run.sim.end, ExchangeEnd::kSilent);
  EXPECT_EQ(StoreEntries(), 0u);

  AddFault("close,op=info");
  run = Run([&](PcClient& c) { c.Command("PLCInfo"); });
  EXPECT_EQ(run.sim.end, ExchangeEnd::kClose);
  EXPECT_TRUE(run.pcError);
}

TEST_F(Faults, DelaysAreLoggedAndHarmless) {
  AddFault("delay-ack,op=upload,at=frame-ack,ms=50");
  AddFault("delay-frame,op=dir,ms=50");
  EXPECT_FALSE(Run([&](PcClient& c) { c.Upload("x.txt", "x"); }).pcError);
  EXPECT_EQ(Dir(), "x.txt\r\n");
  EXPECT_NE(logText.find("waiting 50 ms"), std::string::npos);
  EXPECT_EQ(Firings(), 2);
}

// The PC side driven by hand, for input a well-behaved PC never sends.
class BadInput : public Faults {
 protected:
  ExchangeRun Raw(const std::function<void(cabrix::CByteChannel&)>& pc,
                  std::chrono::milliseconds unitGap = std::chrono::milliseconds(100)) {
    MemoryPipe pipe;
    pipe.Pc().timeout = std::chrono::milliseconds(500);
    ExchangeRun run;
    std::thread sim([&] {
      UnitIo io(pipe.Sim(), log, simIdle, unitGap);
      ExchangeEnv env{io, store, faults, transport, info};
      run.sim = ServeExchange(env);
    });
    try {
      pc(pipe.Pc());
    } catch (const cabrix::CLinkError& e) {
      run.pcError = e.Code();
    }
    pipe.Close();
    sim.join();
    run.simWrites = pipe.SimWrites();
    return run;
  }

  static std::vector<std::uint8_t> HeaderFrame(const std::string& name, const std::string& data) {
    const auto area = cabrix::BuildNameArea(name);
    std::vector<std::uint8_t> f{0xAA, 0xAA, 0, 0, 1, 0, 0, 1, 0x2F, 0, 0, 0, 0, 0};
    cabrix::Write16le(f, 10, static_cast<std::uint16_t>(data.size()));
    cabrix::Write16le(f, 12, static_cast<std::uint16_t>(area.size()));
    f.insert(f.end(), area.begin(), area.end());
    f.insert(f.end(), data.begin(), data.end());
    cabrix::Write16le(f, 2, static_cast<std::uint16_t>(f.size() - 8));
    f[6] = cabrix::WireChecksum(f);
    return f;
  }

  static std::vector<std::uint8_t> ReadRequest(const std::string& name) {
    const auto area = cabrix::BuildNameArea(name);
    std::vector<std::uint8_t> r{0xAA, 0xAA, static_cast<std::uint8_t>(4 + area.size()), 0, 1, 0,
                                0, 1, 0x31, 0, static_cast<std::uint8_t>(area.size()), 0};
    r.insert(r.end(), area.begin(), area.end());
    r[6] = cabrix::WireChecksum(r);
    return r;
  }

  static std::vector<std::uint8_t> Damaged(std::vector<std::uint8_t> frame) {
    frame[6] ^= 0x5A;
    return frame;
  }

  // Writes `unit` again and again, each time reading the simulator's answer (`answerSize` bytes),
  // until no answer comes; returns how many came.
  static int Repeat(cabrix::CByteChannel& ch, const std::vector<std::uint8_t>& unit,
                    std::size_t answerSize, std::chrono::milliseconds pause = {}) {
    std::vector<std::uint8_t> answer(answerSize);
    for (int answers = 0; answers < 3 * kRepeatLimit; ++answers) {
      std::this_thread::sleep_for(pause);
      try {
        ch.Write(unit);
        ch.Read(answer);
      } catch (const cabrix::CLinkError&) {
        return answers;
      }
    }
    return -1;
  }
};

// A PC that makes no headway gets as many answers as the console tool would bear of rejections,
// then the exchange ends and the simulator is free for the next client.
TEST_F(BadInput, APcThatMakesNoHeadwayIsCutOff) {
  WriteFileBytes(StorePath("d.bin"), PatternBytes(5000));
  const std::vector<std::uint8_t> goAhead{0x55, 0x55, 0x0A, 0, 0, 0};
  const std::vector<std::uint8_t> reject1{0x55, 0x55, 0x14, 0, 1, 0};
  struct Row {
    const char* what;
    std::function<int(cabrix::CByteChannel&)> pc;
  };
  const std::vector<Row> rows{
      {"a file-header frame with a wrong checksum",
       [&](cabrix::CByteChannel& ch) { return Repeat(ch, Damaged(HeaderFrame("h.bin", "x")), 6); }},
      {"a block that was taken, sent again",
       [&](cabrix::CByteChannel& ch) {
         auto header = HeaderFrame("b.bin", "");
         cabrix::Write16le(header, 10, 10);
         header[7] = 0;
         header[6] = cabrix::WireChecksum(header);
         std::vector<std::uint8_t> block{0xAA, 0xAA, 5, 0, 2, 0, 0, 0, 'a', 'b', 'c', 'd', 'e'};
         block[6] = cabrix::WireChecksum(block);
         std::uint8_t ack[6];
         ch.Write(header);
         ch.Read(ack);
         return Repeat(ch, block, 6) - 1;  // the first sending is taken
       }},
      {"a read request with a wrong checksum",
       [&](cabrix::CByteChannel& ch) { return Repeat(ch, Damaged(ReadRequest("d.bin")), 6); }},
      {"an intact reply frame rejected",
       [&](cabrix::CByteChannel& ch) {
         std::uint8_t ack[6];
         ch.Write(*cabrix::BuildCommandRequest("PLCInfo"));
         ch.Read(ack);
         std::vector<std::uint8_t> frame(8 + 128);
         ch.Write(goAhead);
         ch.Read(frame);
         return Repeat(ch, reject1, frame.size());
       }},
      {"the last acknowledgement repeated between segments",
       [&](cabrix::CByteChannel& ch) {
         std::uint8_t ack[6];
         ch.Write(ReadRequest("d.bin"));
         ch.Read(ack);
         ch.Write(goAhead);
         std::vector<std::uint8_t> frame(8 + 128);
         std::vector<std::uint8_t> lastAck;
         for (std::uint16_t n = 1;; ++n) {  // the first segment, every frame taken
           ch.Read(frame);
           lastAck = {0x55, 0x55, 0x0A, 0, static_cast<std::uint8_t>(n), 0};
           ch.Write(lastAck);
           if (frame[7] == 1) break;
         }
         ch.Read(ack);  // the unit between segments
         return Repeat(ch, lastAck, 6);
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    logText.clear();
    int answers = 0;
    const auto run = Raw([&](cabrix::CByteChannel& ch) { answers = row.pc(ch); });
    EXPECT_EQ(answers, kRepeatLimit) << logText;
    EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem);
    EXPECT_NE(logText.find("21 units in a row without headway"), std::string::npos) << logText;
  }
  EXPECT_EQ(StoreEntries(), 1u) << "no file from the cut-off writes";
}

// Slowness is no way round the limits: repeats that each come within the idle time end the
// exchange once they have gone on for longer, and so does a unit that trickles in.
TEST_F(BadInput, SlowRepeatsAndTricklingUnitsAreCutOffAfterTheIdleTime) {
  simIdle = std::chrono::milliseconds(2000);
  const auto header = Damaged(HeaderFrame("slow.bin", "x"));
  int answers = 0;
  auto run = Raw([&](cabrix::CByteChannel& ch) {
    answers = Repeat(ch, header, 6, std::chrono::milliseconds(600));
  });
  EXPECT_LT(answers, kRepeatLimit);
  EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem);
  EXPECT_NE(logText.find("no headway for over 2 s"), std::string::npos) << logText;

  // A byte every 300 ms, each well within the gap allowed inside a unit; 9 of them take longer
  // than the idle time.
  const auto frame = HeaderFrame("trickle.bin", std::string(40, 't'));
  run = Raw(
      [&](cabrix::CByteChannel& ch) {
        for (std::size_t i = 0; i < 9; ++i) {
          ch.Write(std::span(frame).subspan(i, 1));
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
      },
      std::chrono::milliseconds(1000));
  EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem);
  EXPECT_NE(logText.find("a unit still not whole after 2 s"), std::string::npos) << logText;
  EXPECT_EQ(StoreEntries(), 0u);
}

TEST_F(BadInput, GarbageAndOverlongFramesEndTheExchange) {
  const std::vector<std::uint8_t> garbage{1, 2, 3, 4, 5, 6, 7, 8};
  auto run = Raw([&](cabrix::CByteChannel& ch) { ch.Write(garbage); });
  EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem) << logText;
  EXPECT_NE(logText.find("garbage"), std::string::npos);

  const std::vector<std::uint8_t> huge{0xAA, 0xAA, 0x00, 0x10, 1, 0, 0, 1};
  run = Raw([&](cabrix::CByteChannel& ch) { ch.Write(huge); });
  EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem);
  EXPECT_NE(logText.find("over the limit"), std::string::npos);

  // A frame that stops midway: the PC waits for an answer that never comes.
  const std::vector<std::uint8_t> cut{0xAA, 0xAA, 0x20, 0x00, 1, 0, 0, 1, 0x92};
  run = Raw([&](cabrix::CByteChannel& ch) {
    ch.Write(cut);
    std::uint8_t ack[6];
    ch.Read(ack);
  });
  EXPECT_EQ(run.pcError, cabrix::kLinkNoData);
  EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem);
  EXPECT_NE(logText.find("a unit stopped after 9 bytes"), std::string::npos);
}

TEST_F(BadInput, NamesWithPathsAreRefused) {
  for (const std::string& name : std::vector<std::string>{"../evil", "a/b", "a\\b", ".."}) {
    SCOPED_TRACE(name);
    const auto run = Raw([&](cabrix::CByteChannel& ch) { ch.Write(HeaderFrame(name, "x")); });
    EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem);
    EXPECT_TRUE(run.simWrites.empty()) << "not even acknowledged";
  }
  EXPECT_EQ(StoreEntries(), 0u);
  EXPECT_FALSE(fs::exists(dir / "evil"));

  // A read of such a name is answered like one for a missing file.
  WriteFileBytes(dir / "outside", "secret");
  std::optional<std::string> got = "unset";
  Run([&](PcClient& c) { got = c.Download("../outside"); });
  EXPECT_FALSE(got.has_value());
}

TEST_F(BadInput, RepeatedFrameIsAcknowledgedButNotStoredTwice) {
  // A 200-byte file: header frame with 116 bytes, then one block of 84, which the PC sends twice.
  const std::string data = PatternBytes(200);
  const auto area = cabrix::BuildNameArea("rep.bin");
  std::vector<std::uint8_t> header{0xAA, 0xAA, 128, 0, 1, 0, 0, 0, 0x2F, 0, 200, 0,
                                   static_cast<std::uint8_t>(area.size()), 0};
  header.insert(header.end(), area.begin(), area.end());
  const std::size_t d1 = 122 - area.size();
  header.insert(header.end(), data.begin(), data.begin() + static_cast<std::ptrdiff_t>(d1));
  header[6] = cabrix::WireChecksum(header);
  std::vector<std::uint8_t> block{0xAA, 0xAA, static_cast<std::uint8_t>(200 - d1), 0, 2, 0, 0, 1};
  block.insert(block.end(), data.begin() + static_cast<std::ptrdiff_t>(d1), data.end());
  block[6] = cabrix::WireChecksum(block);

  const auto run = Raw([&](cabrix::CByteChannel& ch) {
    std::uint8_t buf[8];
    ch.Write(header);
    ch.Read(std::span(buf, 6));
    for (int i = 0; i < 2; ++i) {
      ch.Write(block);
      ASSERT_EQ(ch.Read(std::span(buf, 6)), 6u);
      EXPECT_EQ(buf[2], 10);
      EXPECT_EQ(buf[4], 2);
    }
    const std::uint8_t eod[6] = {0x55, 0x55, 0x0A, 0, 0, 0};
    ch.Write(eod);
    ch.Read(std::span(buf, 8));
    ch.Read(std::span(buf, 8));
    const std::uint8_t poll[6] = {0x55, 0x55, 0x0A, 0, 1, 0};
    ch.Write(poll);
    ch.Read(std::span(buf, 6));
  });
  EXPECT_EQ(run.sim.end, ExchangeEnd::kCompleted) << logText;
  EXPECT_EQ(ReadFileBytes(StorePath("rep.bin")), data);
}

TEST_F(BadInput, UploadBrokenOffLeavesNothingInTheStore) {
  WriteFileBytes(StorePath("keep.bin"), "old");
  const auto run = Raw([&](cabrix::CByteChannel& ch) {
    auto frame = HeaderFrame("keep.bin", "");
    frame[7] = 0;  // more to come, then the PC vanishes
    frame[6] = cabrix::WireChecksum(frame);
    std::uint8_t ack[6];
    ch.Write(frame);
    ch.Read(ack);
  });
  EXPECT_NE(run.sim.end, ExchangeEnd::kCompleted);
  EXPECT_EQ(ReadFileBytes(StorePath("keep.bin")), "old");
  EXPECT_EQ(StoreEntries(), 1u);
}

TEST_F(BadInput, OnTheSerialLineANewRequestEndsAnAbandonedExchange) {
  // The PC gives up on a read after three code-20 answers and asks for another file: that request
  // is not taken for a repeat of the first, it is handed on as the next exchange.
  transport = Transport::kSerial;
  AddFault("reject-request,times=3");
  const auto request = ReadRequest;
  const auto run = Raw([&](cabrix::CByteChannel& ch) {
    std::uint8_t ack[6];
    for (int i = 0; i < 3; ++i) {
      ch.Write(request("a.bin"));
      ch.Read(ack);
      EXPECT_EQ(ack[2], 20);
    }
    ch.Write(request("b.bin"));
    ch.Read(ack);  // nothing comes: the exchange has ended
  });
  EXPECT_EQ(run.pcError, cabrix::kLinkNoData);
  ASSERT_TRUE(run.sim.next.has_value());
  EXPECT_EQ(run.sim.next->bytes, request("b.bin"));
}

TEST_F(BadInput, ContentsThatContradictTheHeaderAreRefused) {
  // The header says 3 bytes, the frame carries 5.
  auto frame = HeaderFrame("c.bin", "abcde");
  frame[10] = 3;
  frame[6] = cabrix::WireChecksum(frame);
  const auto run = Raw([&](cabrix::CByteChannel& ch) { ch.Write(frame); });
  EXPECT_EQ(run.sim.end, ExchangeEnd::kProblem);
  EXPECT_EQ(StoreEntries(), 0u);
}

}  // namespace
}  // namespace plcsim::testing
