// The upload: the frames on the wire, the files in the controller's store, the progress line, and
// the statuses of a list.
#include <algorithm>
#include <chrono>

#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

std::string WritingLine(const std::string& name) {
  return Cp866("Запись файла: ") + name + "   0%\r\n";
}

std::uint16_t U16At(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    (static_cast<unsigned char>(b[at + 1]) << 8));
}

// Frame numbers of the received frames, in order.
std::vector<int> FrameNumbers(const std::string& log) {
  std::vector<int> numbers;
  for (const std::string& f : ReceivedFrames(log)) numbers.push_back(U16At(f, 4));
  return numbers;
}

using Upload = OverEachLink;

TEST_P(Upload, AFileThatFitsTheHeaderFrameTravelsInIt) {
  SimProcess& sim = StartSim();
  test::WriteFileBytes(Pc("a.txt"), "abc");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(r.out, WritingLine("a.txt")) << "no escape sequences when captured";
  EXPECT_TRUE(ShowedBoxes(r, {}));
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "a.txt"), "abc");
  const auto frames = ReceivedFrames(sim.Log());
  ASSERT_EQ(frames.size(), 1u) << sim.Log();
  EXPECT_EQ(Hex(frames[0]),
            "AA AA 0F 00 01 00 B2 01 2F 00 03 00 06 00 61 2E 74 78 74 00 61 62 63");
}

TEST_P(Upload, AnEmptyFileIsAHeaderFrameAlone) {
  SimProcess& sim = StartSim();
  test::WriteFileBytes(Pc("ab.txt"), "");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "ab.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(r.out, WritingLine("ab.txt"));
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "ab.txt"), "");
  const auto frames = ReceivedFrames(sim.Log());
  ASSERT_EQ(frames.size(), 1u) << sim.Log();
  // Even name: the 0xCD pad; length 6 + A, last 1, first-segment size 0.
  EXPECT_EQ(frames[0], WithChecksum("\xAA\xAA\x0E\x00\x01\x00\x00\x01\x2F\x00\x00\x00\x08\x00"
                                    "ab.txt\x00\xCD"s));
}

TEST_P(Upload, OneByteMoreThanTheHeaderFrameHoldsNeedsABlock) {
  SimProcess& sim = StartSim();
  const std::string data = test::PatternBytes(117);  // 6 + 6 + 117 = 129
  test::WriteFileBytes(Pc("a.txt"), data);
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "a.txt"), data);
  const auto frames = ReceivedFrames(sim.Log());
  ASSERT_EQ(frames.size(), 2u) << sim.Log();
  EXPECT_EQ(Hex(frames[0].substr(0, 14)).substr(0, 17), "AA AA 80 00 01 00");
  EXPECT_EQ(frames[0][7], 0) << "not the last frame";
  EXPECT_EQ(frames[0].substr(20), data.substr(0, 116));
  EXPECT_EQ(frames[1], WithChecksum("\xAA\xAA\x01\x00\x02\x00\x00\x01"s + data.substr(116)));
}

TEST_P(Upload, AFullFirstSegmentSetsTheSizeFlag) {
  SimProcess& sim = StartSim();
  const std::string data = test::PatternBytes(4500, 2);
  test::WriteFileBytes(Pc("a.txt"), data);
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(StoredFile(sim, "a.txt"), data);
  const auto frames = ReceivedFrames(sim.Log());
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(Hex(frames[0].substr(8, 6)), "2F 01 94 11 06 00");
  EXPECT_EQ(frames.size(), 1u + 35u);  // 116 bytes in the header, 4384 in 35 blocks
}

// With a five-byte name the parameters and the name area take 12 bytes: from 4489 file bytes on
// the header announces a whole 4500-byte segment, although the file ends before it is full.
// The controller must take such a file whole, and only under its name.
TEST_P(Upload, AFileJustShortOfASegmentIsTakenWhole) {
  SimProcess& sim = StartSim();
  for (const int size : {4488, 4489, 4499}) {
    const std::string data = test::PatternBytes(static_cast<std::size_t>(size), 5);
    test::WriteFileBytes(Pc("a.txt"), data);
    const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.txt"});
    EXPECT_TRUE(r.ExitedWith(0)) << size << ": " << r.Describe();
    EXPECT_EQ(test::ReadFileBytes(sim.Store() / "a.txt"), data) << size;
  }
  const auto frames = ReceivedFrames(sim.Log());
  ASSERT_FALSE(frames.empty());
  EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](const std::string& f) {
    return f.size() > 14 && Hex(f.substr(8, 6)) == "2F 01 94 11 06 00";
  })) << "the size flag was set for 4489 and 4499 bytes";
}

TEST_P(Upload, TheSecondSegmentIsNumberedFromOneAndStartsWithItsHeader) {
  SimProcess& sim = StartSim();
  const std::string data = test::PatternBytes(9000, 3);
  test::WriteFileBytes(Pc("a.txt"), data);
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(StoredFile(sim, "a.txt"), data);
  std::vector<int> expected;
  for (int n = 1; n <= 36; ++n) expected.push_back(n);  // header frame 1, blocks 2..36
  for (int n = 1; n <= 36; ++n) expected.push_back(n);
  EXPECT_EQ(FrameNumbers(sim.Log()), expected);
  const auto frames = ReceivedFrames(sim.Log());
  ASSERT_EQ(frames.size(), 72u);
  EXPECT_EQ(Hex(frames[36].substr(8, 4)), "30 01 94 11");
  EXPECT_EQ(frames[36].substr(12), data.substr(4500, 124));
  EXPECT_EQ(frames[35][7], 1) << "the first segment's last block";
}

TEST_P(Upload, SeveralSegmentsAndSeveralFilesArriveWhole) {
  SimProcess& sim = StartSim();
  const std::string big = test::PatternBytes(50000, 4);
  const std::string small = test::PatternBytes(300, 5);
  test::WriteFileBytes(Pc("big.bin"), big);
  test::WriteFileBytes(Pc("small.bin"), small);
  test::WriteFileBytes(Pc("empty.bin"), "");
  const ToolRun r =
      Run({LinkSwitch(), FolderSwitch(), "/up", "big.bin", "small.bin", "empty.bin"}, 60s);
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(r.out, WritingLine("big.bin") + WritingLine("small.bin") + WritingLine("empty.bin"));
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "big.bin"), big);
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "small.bin"), small);
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "empty.bin"), "");
}

TEST_P(Upload, AMissingPcFileEndsTheListAtItsPosition) {
  SimProcess& sim = StartSim();
  test::WriteFileBytes(Pc("a.txt"), "a");
  test::WriteFileBytes(Pc("c.txt"), "c");
  fs::create_directory(Pc("dir.txt"));
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.txt", "none.txt", "c.txt"});
  EXPECT_TRUE(r.ExitedWith(2)) << r.Describe();
  EXPECT_EQ(r.out, WritingLine("a.txt"));
  EXPECT_TRUE(fs::exists(sim.Store() / "a.txt"));
  EXPECT_FALSE(fs::exists(sim.Store() / "c.txt"));

  // A folder is no file to read.
  const ToolRun d = Run({LinkSwitch(), FolderSwitch(), "/up", "dir.txt", "c.txt"});
  EXPECT_TRUE(d.ExitedWith(1)) << d.Describe();
  EXPECT_FALSE(fs::exists(sim.Store() / "c.txt"));
}

TEST_P(Upload, ThePathIsFolderPlusEntryAndTheNameItsLastPart) {
  SimProcess& sim = StartSim();
  fs::create_directory(Pc("sub"));
  test::WriteFileBytes(Pc("sub") / "a.txt", "from sub");
  test::WriteFileBytes(Pc("b.txt"), "from cwd");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "sub\\a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(r.out, WritingLine("a.txt"));
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "a.txt"), "from sub");
  // Without /FLDR the working folder is the PC folder.
  const ToolRun c = Run({LinkSwitch(), "/up", "b.txt"});
  EXPECT_TRUE(c.ExitedWith(0)) << c.Describe();
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "b.txt"), "from cwd");
}

TEST_P(Upload, ANameTooLongForTheHeaderFrameIsRefusedAndTheListGoesOn) {
  SimProcess& sim = StartSim();
  const std::string fits = std::string(117, 'f') + ".txt";     // 121 bytes
  const std::string tooLong = std::string(118, 'g') + ".txt";  // 122 bytes
  test::WriteFileBytes(Pc(fits), "fits");
  test::WriteFileBytes(Pc(tooLong), "too long");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", tooLong, fits});
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe();
  EXPECT_EQ(r.out, Cp866("Слишком длинное имя файла: ") + tooLong + "\r\n" + WritingLine(fits));
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / fits), "fits");
  EXPECT_EQ(sim.Log().find("67 67 67"), std::string::npos) << "nothing of it was sent";
}

TEST_P(Upload, RejectedAndMisnumberedAcknowledgementsAreAnsweredByResending) {
  SimProcess& sim = StartSim({"--fault", "reject,op=upload,frame=2,times=2", "--fault",
                              "wrong-number,op=upload,frame=3", "--fault",
                              "stale-ack,op=upload,frame=4"});
  const std::string data = test::PatternBytes(1000, 6);
  test::WriteFileBytes(Pc("a.bin"), data);
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.bin"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe() << sim.Log();
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "a.bin"), data);
  const std::vector<int> expected{1, 2, 2, 2, 3, 3, 4, 4, 5, 6, 7, 8};
  EXPECT_EQ(FrameNumbers(sim.Log()), expected) << sim.Log();
}

TEST_P(Upload, AFrameSentFourTimesInVainFailsThatFileAndTheListGoesOn) {
  SimProcess& sim = StartSim({"--fault", "reject,op=upload,frame=2,times=3"});
  const std::string data = test::PatternBytes(1000, 7);
  test::WriteFileBytes(Pc("a.bin"), data);
  test::WriteFileBytes(Pc("b.txt"), "b");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.bin", "b.txt"});
  // The failed file's position, not success, after the rest of the list.
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe();
  EXPECT_EQ(r.out, Cp866("Запись файла: a.bin   0%") + WritingLine("b.txt"));
  EXPECT_FALSE(fs::exists(sim.Store() / "a.bin"));
  EXPECT_EQ(test::ReadFileBytes(sim.Store() / "b.txt"), "b");
  const auto numbers = FrameNumbers(sim.Log());
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 2), 4) << "four sendings of frame 2";
}

TEST_P(Upload, ASilentControllerEndsTheTransferWithinItsBound) {
  // The simulator's own idle limit is longer than the tool's read bound (7120 ms).
  SimProcess& sim =
      StartSim({"--fault", "silent,op=upload,at=frame-ack,frame=3", "--idle-timeout", "20"});
  test::WriteFileBytes(Pc("a.bin"), test::PatternBytes(1000));
  test::WriteFileBytes(Pc("b.txt"), "b");
  const auto start = std::chrono::steady_clock::now();
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/up", "a.bin", "b.txt"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_GT(took, 6s);
  EXPECT_LT(took, 15s);
  EXPECT_FALSE(fs::exists(sim.Store() / "a.bin"));
  EXPECT_FALSE(fs::exists(sim.Store() / "b.txt")) << "the list stops at a link failure";
}

CABRIX_E2E_OVER_EACH_LINK(Upload);

using UploadTcp = E2eTest;

TEST_F(UploadTcp, AClosedConnectionIsALinkFailure) {
  SimProcess& sim = StartSim(Transport::kTcp, {"--fault", "close,op=upload,at=frame-ack,frame=2"});
  test::WriteFileBytes(Pc("a.bin"), test::PatternBytes(1000));
  const ToolRun r = Run({sim.TcpSwitch(), FolderSwitch(), "/up", "a.bin"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_FALSE(fs::exists(sim.Store() / "a.bin"));
}

TEST_F(UploadTcp, NoControllerIsALinkFailure) {
  test::WriteFileBytes(Pc("a.txt"), "abc");
  const ToolRun r = Run({"/TCP" + test::TestAddress(), FolderSwitch(), "/up", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, "");
}

TEST_F(UploadTcp, AFailedFirstFileSendsTheWholeListOverTheSerialLine) {
  SimProcess& tcp = StartSim(Transport::kTcp, {"--fault", "reject,op=upload,frame=2,times=3"});
  SimProcess& serial = StartSim(Transport::kSerial);
  const std::string a = test::PatternBytes(1000, 8);
  test::WriteFileBytes(Pc("a.bin"), a);
  test::WriteFileBytes(Pc("b.txt"), "b");
  const ToolRun r = Run({LinkSwitch(Transport::kSerial), tcp.TcpSwitch(), FolderSwitch(), "/up", "a.bin", "b.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(test::ReadFileBytes(serial.Store() / "a.bin"), a);
  EXPECT_EQ(test::ReadFileBytes(serial.Store() / "b.txt"), "b");
  EXPECT_FALSE(fs::exists(tcp.Store() / "b.txt"));
}

TEST_F(UploadTcp, ALaterFileThatFailsStopsTheListAtItsPosition) {
  SimProcess& tcp = StartSim(Transport::kTcp, {"--fault", "reject,op=upload,frame=2,times=3"});
  test::WriteFileBytes(Pc("a.txt"), "a");
  test::WriteFileBytes(Pc("b.bin"), test::PatternBytes(1000));
  test::WriteFileBytes(Pc("c.txt"), "c");
  const ToolRun r =
      Run({tcp.TcpSwitch(), LinkSwitch(Transport::kSerial), FolderSwitch(), "/up", "a.txt", "b.bin", "c.txt"});
  EXPECT_TRUE(r.ExitedWith(2)) << r.Describe();
  EXPECT_TRUE(fs::exists(tcp.Store() / "a.txt"));
  EXPECT_FALSE(fs::exists(tcp.Store() / "c.txt"));
}

TEST_F(UploadTcp, AClosingPollThatIsNeverAnsweredGivesUp) {
  // The one slow case of the upload: the poll loop's own limit of 30 s.
  SimProcess& tcp = StartSim(Transport::kTcp, {"--fault", "reject,op=upload,at=poll-answer,times=always",
                                               "--idle-timeout", "40"});
  test::WriteFileBytes(Pc("a.txt"), "abc");
  const ToolRun r = Run({tcp.TcpSwitch(), FolderSwitch(), "/up", "a.txt"}, 75s);
  EXPECT_FALSE(r.timedOut) << r.Describe();
  // Code 3 for the first file: skipped (no serial port), the run ends with its position.
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe();
}

}  // namespace
}  // namespace cabrix::e2e
