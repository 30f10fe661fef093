// The download: the read request on the wire, the PC files (written whole or not at all), the
// captured progress line, and the statuses of a list.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

std::string ReadingStart(const std::string& name) {
  return Cp866("Чтение файла: ") + name + ": |";
}
std::string ReadingLine(const std::string& name) {
  return ReadingStart(name) + Cp866("успешно считан\r\n");
}

bool HasUnit(const std::string& log, const std::string& bytes) {
  const auto units = ReceivedUnits(log);
  return std::find(units.begin(), units.end(), Hex(bytes)) != units.end();
}

// How many frames the PC answered with code 20.
long Rejections(const std::string& log) {
  const auto units = ReceivedUnits(log);
  return std::count_if(units.begin(), units.end(),
                       [](const std::string& u) { return u.rfind("55 55 14 00", 0) == 0; });
}

using Download = OverEachLink;

TEST_P(Download, OneAndSeveralSegmentsAndAnEmptyFileArriveWhole) {
  SimProcess& sim = StartSim();
  const std::string small = test::PatternBytes(300, 11);
  const std::string big = test::PatternBytes(20000, 12);
  test::WriteFileBytes(sim.Store() / "a.txt", small);
  test::WriteFileBytes(sim.Store() / "big.bin", big);
  test::WriteFileBytes(sim.Store() / "empty.bin", "");
  const ToolRun r =
      Run({LinkSwitch(), FolderSwitch(), "/dn", "a.txt", "big.bin", "empty.bin"}, 60s);
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe() << sim.Log();
  EXPECT_EQ(r.out, ReadingLine("a.txt") + ReadingLine("big.bin") + ReadingLine("empty.bin"));
  EXPECT_TRUE(ShowedBoxes(r, {}));
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), small);
  EXPECT_EQ(test::ReadFileBytes(Pc("big.bin")), big);
  EXPECT_EQ(test::ReadFileBytes(Pc("empty.bin")), "");
  EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
  const std::string log = sim.Log();
  EXPECT_TRUE(HasUnit(log, "\xAA\xAA\x0A\x00\x01\x00\x86\x01\x31\x00\x06\x00" "a.txt\x00"s)) << log;
  // Between the segments of big.bin: the fixed next-segment request.
  const auto units = ReceivedUnits(log);
  EXPECT_EQ(std::count(units.begin(), units.end(), "AA AA 01 00 01 00 89 01 32"), 4)
      << "20000 bytes are five segments";
}

TEST_P(Download, AnExistingPcFileIsReplacedOnlyByAWholeFile) {
  SimProcess& sim = StartSim();
  test::WriteFileBytes(sim.Store() / "a.txt", "new");
  test::WriteFileBytes(Pc("a.txt"), "old and longer");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), "new");
}

TEST_P(Download, AReplacedPcFileKeepsItsPermissions) {
  CABRIX_SKIP_UNDER_WINE("POSIX permissions are the POSIX build's; Windows keeps no mode bits");
  SimProcess& sim = StartSim();
  test::WriteFileBytes(sim.Store() / "a.txt", "new");
  test::WriteFileBytes(Pc("a.txt"), "old");
  fs::permissions(Pc("a.txt"), fs::perms::owner_read | fs::perms::owner_write);
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), "new");
  EXPECT_EQ(fs::status(Pc("a.txt")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
}

TEST_P(Download, AMissingFileEndsTheListAndLeavesThePcFileAlone) {
  SimProcess& sim = StartSim();
  test::WriteFileBytes(sim.Store() / "a.txt", "a");
  test::WriteFileBytes(sim.Store() / "c.txt", "c");
  test::WriteFileBytes(Pc("none.txt"), "the operator's own");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "a.txt", "none.txt", "c.txt"});
  EXPECT_TRUE(r.ExitedWith(2)) << r.Describe();
  EXPECT_EQ(r.out, ReadingLine("a.txt") + ReadingStart("none.txt"));
  EXPECT_EQ(test::ReadFileBytes(Pc("none.txt")), "the operator's own");
  EXPECT_FALSE(fs::exists(Pc("c.txt")));
  EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
}

TEST_P(Download, AnEndMarkerInTheMiddleLeavesNothingBehind) {
  SimProcess& sim = StartSim({"--fault", "end-marker,op=download,segment=2,frame=3"});
  test::WriteFileBytes(sim.Store() / "big.bin", test::PatternBytes(9000));
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "big.bin"});
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe() << sim.Log();
  EXPECT_TRUE(FaultFired(sim, "end-marker,op=download,segment=2,frame=3"));
  EXPECT_FALSE(fs::exists(Pc("big.bin")));
  EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
}

TEST_P(Download, ANameWithAFolderPartIsAskedForWhole) {
  SimProcess& sim = StartSim();
  fs::create_directory(Pc("sub"));
  test::WriteFileBytes(Pc("sub") / "a.txt", "kept");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "sub\\a.txt"});
  // The simulator keeps a flat store and answers such a name as a missing file.
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe();
  EXPECT_EQ(r.out, ReadingStart("sub\\a.txt"));
  EXPECT_TRUE(HasUnit(sim.Log(), WithChecksum("\xAA\xAA\x0E\x00\x01\x00\x00\x01\x31\x00\x0A\x00"
                                              "sub\\a.txt\x00"s)))
      << sim.Log();
  EXPECT_EQ(test::ReadFileBytes(Pc("sub") / "a.txt"), "kept");
  EXPECT_TRUE(TempFilesIn(Pc("sub")).empty());
}

TEST_P(Download, AFolderThatDoesNotExistCannotTakeTheFile) {
  SimProcess& sim = StartSim();
  test::WriteFileBytes(sim.Store() / "a.txt", "a");
  test::WriteFileBytes(sim.Store() / "b.txt", "b");
  const std::string missing = "/FLDR" + (m_pc / "no-such-folder").string();
  const ToolRun r = Run({LinkSwitch(), missing, "/dn", "a.txt", "b.txt"});
  const std::string box = "невозможно создать файл!!!";
  if (Tcp()) {
    // TCP goes on with the next file; the run still ends with the first failed position.
    EXPECT_TRUE(r.ExitedWith(1)) << r.Describe();
    EXPECT_TRUE(ShowedBoxes(r, {box, box}));
    EXPECT_EQ(r.out, ReadingStart("a.txt") + ReadingStart("b.txt"));
  } else {
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_TRUE(ShowedBoxes(r, {box}));
    EXPECT_EQ(r.out, ReadingStart("a.txt"));
  }
}

TEST_P(Download, ANameTooLongForTheRequestIsRefused) {
  SimProcess& sim = StartSim();
  const std::string fits(253, 'f');
  const std::string tooLong(254, 'g');
  test::WriteFileBytes(sim.Store() / fits, "fits");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", tooLong, fits});
  const std::string refused = Cp866("Слишком длинное имя файла: ") + tooLong + "\r\n";
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe();
  if (Tcp()) {
    EXPECT_EQ(r.out, refused + ReadingLine(fits));
    EXPECT_EQ(test::ReadFileBytes(Pc(fits)), "fits");
  } else {
    EXPECT_EQ(r.out, refused);
    EXPECT_FALSE(fs::exists(Pc(fits)));
  }
  EXPECT_EQ(sim.Log().find("67 67 67"), std::string::npos) << "nothing of it was sent";
}

TEST_P(Download, DamagedReplyFramesAreRecovered) {
  SimProcess& sim = StartSim({"--fault", "bad-checksum,op=download,frame=2", "--fault",
                              "code20-header,op=download,frame=3", "--fault",
                              "split-frame,op=download,frame=4", "--fault",
                              "split-frame,op=download,frame=6,bytes=60", "--fault",
                              "bad-checksum,op=download,segment=2,frame=1"});
  const std::string data = test::PatternBytes(9000, 13);
  test::WriteFileBytes(sim.Store() / "a.bin", data);
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "a.bin"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe() << sim.Log();
  EXPECT_EQ(test::ReadFileBytes(Pc("a.bin")), data);
  EXPECT_NE(sim.Log().find("recv 6: 55 55 14 00 02 00"), std::string::npos)
      << "the bad frame is answered with code 20";
  EXPECT_TRUE(FaultFired(sim, "bad-checksum,op=download,frame=2"));
  EXPECT_TRUE(FaultFired(sim, "code20-header,op=download,frame=3"));
  EXPECT_TRUE(FaultFired(sim, "split-frame,op=download,frame=4"));
  EXPECT_TRUE(FaultFired(sim, "split-frame,op=download,frame=6,bytes=60"));
  EXPECT_TRUE(FaultFired(sim, "bad-checksum,op=download,segment=2,frame=1"));
  // The two bad checksums are the only frames rejected: a frame that comes in two pieces, split
  // inside its header or its payload, is read whole at once.
  EXPECT_EQ(Rejections(sim.Log()), 2) << sim.Log();
}

TEST_P(Download, ARefusedNextSegmentRequestIsSentAgain) {
  SimProcess& sim = StartSim({"--fault", "reject-request,op=download,segment=2"});
  const std::string data = test::PatternBytes(9000, 14);
  test::WriteFileBytes(sim.Store() / "a.bin", data);
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "a.bin"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe() << sim.Log();
  EXPECT_EQ(test::ReadFileBytes(Pc("a.bin")), data);
  const auto units = ReceivedUnits(sim.Log());
  EXPECT_EQ(std::count(units.begin(), units.end(), "AA AA 01 00 01 00 89 01 32"), 2);
  EXPECT_TRUE(FaultFired(sim, "reject-request,op=download,segment=2"));
}

TEST_P(Download, AFrameOfAnotherLengthThanItSaysIsRejectedOnceAndTakenAgain) {
  // Frame 2 cut short where its missing half is zeros, so that its sum still matches; frame 3
  // with four bytes too many, frame 5 with so many that they run past 128: each is answered
  // with code 20 once, and its repetition, on a line emptied of the stray bytes, is taken.
  SimProcess& sim = StartSim({"--fault", "truncate,op=download,frame=2", "--fault",
                              "overlong,op=download,frame=3", "--fault",
                              "overlong,op=download,frame=5,bytes=40"});
  std::string data = test::PatternBytes(1000, 15);
  std::fill(data.begin() + 186, data.begin() + 250, '\0');  // the second half of frame 2
  test::WriteFileBytes(sim.Store() / "a.bin", data);
  test::WriteFileBytes(Pc("a.bin"), "old");
  const ToolRun r = Run({LinkSwitch(), FolderSwitch(), "/dn", "a.bin"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe() << sim.Log();
  EXPECT_EQ(test::ReadFileBytes(Pc("a.bin")), data);
  EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
  EXPECT_TRUE(FaultFired(sim, "truncate,op=download,frame=2"));
  EXPECT_TRUE(FaultFired(sim, "overlong,op=download,frame=3"));
  EXPECT_TRUE(FaultFired(sim, "overlong,op=download,frame=5,bytes=40"));
  EXPECT_EQ(Rejections(sim.Log()), 3) << sim.Log();
}

CABRIX_E2E_OVER_EACH_LINK(Download);

using DownloadTcp = E2eTest;

TEST_F(DownloadTcp, ARefusedReadRequestIsSentAgainAtMostThreeTimes) {
  SimProcess& once = StartSim(Transport::kTcp, {"--fault", "reject-request,op=download"});
  test::WriteFileBytes(once.Store() / "a.txt", "a");
  const ToolRun r = Run({once.TcpSwitch(), FolderSwitch(), "/dn", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_TRUE(ShowedBoxes(r, {})) << "no reset prompt over TCP";
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), "a");
  m_tcpSim.reset();

  SimProcess& always = StartSim(Transport::kTcp, {"--fault", "reject-request,op=download,times=always"});
  test::WriteFileBytes(always.Store() / "b.txt", "b");
  const ToolRun f = Run({always.TcpSwitch(), FolderSwitch(), "/dn", "b.txt"});
  EXPECT_TRUE(f.ExitedWith(100)) << f.Describe();
  const auto units = ReceivedUnits(always.Log());
  EXPECT_EQ(std::count_if(units.begin(), units.end(),
                          [](const std::string& u) { return u.rfind("AA AA 0A 00", 0) == 0; }),
            3);
  EXPECT_FALSE(fs::exists(Pc("b.txt")));
}

TEST_F(DownloadTcp, AClosedConnectionIsALinkFailureAndTheTargetStays) {
  SimProcess& sim = StartSim(Transport::kTcp, {"--fault", "close,op=download,at=reply-frame,frame=3"});
  test::WriteFileBytes(sim.Store() / "a.bin", test::PatternBytes(1000));
  test::WriteFileBytes(Pc("a.bin"), "old");
  const ToolRun r = Run({sim.TcpSwitch(), FolderSwitch(), "/dn", "a.bin", "b.bin"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(test::ReadFileBytes(Pc("a.bin")), "old");
  EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
}

TEST_F(DownloadTcp, ASilentControllerEndsTheTransferWithinItsBound) {
  // The one case that waits out the download's long read bound (about 20 s).
  SimProcess& sim = StartSim(Transport::kTcp, {"--fault", "silent,op=download,at=reply-frame,frame=2",
                                               "--idle-timeout", "30"});
  test::WriteFileBytes(sim.Store() / "a.bin", test::PatternBytes(1000));
  const auto start = std::chrono::steady_clock::now();
  const ToolRun r = Run({sim.TcpSwitch(), FolderSwitch(), "/dn", "a.bin"}, 60s);
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_GT(took, 15s);
  EXPECT_LT(took, 40s);
  EXPECT_FALSE(fs::exists(Pc("a.bin")));
  EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
}

TEST_F(DownloadTcp, NoControllerIsALinkFailure) {
  const ToolRun r = Run({"/TCP" + test::TestAddress(), FolderSwitch(), "/dn", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, "");
}

TEST_F(DownloadTcp, AKilledReadsTemporaryFileGoesWithTheNextReadAndAHeldOneStays) {
  CABRIX_SKIP_UNDER_WINE("a signal reaches the launcher, not the Windows program");
  SimProcess& sim =
      StartSim(Transport::kTcp, {"--fault", "silent,op=download,at=reply-frame,frame=3"});
  test::WriteFileBytes(sim.Store() / "big.bin", test::PatternBytes(5000, 4));
  test::WriteFileBytes(sim.Store() / "a.txt", "a");

  test::Subprocess killed = Start({LinkSwitch(Transport::kTcp), FolderSwitch(), "/dn", "big.bin"});
  ASSERT_TRUE(WaitUntil([&] { return !TempFilesIn(m_pc.Path()).empty(); }, 20s)) << sim.Log();
  killed.Signal(SIGKILL);
  killed.Wait(20s);
  const std::vector<std::string> left = TempFilesIn(m_pc.Path());
  ASSERT_EQ(left.size(), 1u) << "a killed tool cannot clean up";

  // One that a live program writes: held by its lock.
  const fs::path held = Pc(".cbxHeLd42");
  test::WriteFileBytes(held, "being written");
  const int fd = ::open(held.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);

  ASSERT_TRUE(sim.WaitForLog("connection closed", 30s)) << sim.Log();
  const ToolRun r = Run({LinkSwitch(Transport::kTcp), FolderSwitch(), "/dn", "a.txt"});
  ::close(fd);
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_FALSE(fs::exists(Pc(left[0])));
  EXPECT_TRUE(fs::exists(held));
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), "a");
}

using DownloadSerial = E2eTest;

TEST_F(DownloadSerial, ARefusedReadRequestAsksTheOperatorToResetTheDevice) {
  // The one slow case of the serial download: the 5 s pause after the prompt.
  SimProcess& sim =
      StartSim(Transport::kSerial, {"--fault", "reject-request,op=download", "--idle-timeout", "15"});
  test::WriteFileBytes(sim.Store() / "a.txt", "a");
  const auto start = std::chrono::steady_clock::now();
  const ToolRun r = Run({LinkSwitch(Transport::kSerial), FolderSwitch(), "/dn", "a.txt"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe() << sim.Log();
  EXPECT_TRUE(ShowedBoxes(r, {"Нажмите reset на приборе!"}));
  EXPECT_EQ(r.out, ReadingLine("a.txt"));
  EXPECT_GE(took, 5s);
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), "a");
}

TEST_F(DownloadSerial, AMissingPortIsALinkFailure) {
  const ToolRun r = Run({UnopenablePortSwitch(), FolderSwitch(), "/dn", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace cabrix::e2e
