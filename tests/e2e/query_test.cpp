// The information and directory queries: the reply texts exactly as the controller sends them
// (code page 866, CR CR LF, nothing added), and the fall-backs from TCP to the serial line.
#include <algorithm>

#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

const std::string kNoAction = Cp866("Не указано дествие программы");

using Query = OverEachLink;

TEST_P(Query, InformationAndDirectoryTextsArePrintedExactly) {
  SimProcess& sim = StartSim({"--info-line", "Контроллер: тест", "--info-line", "Свободно: 95%"});
  test::WriteFileBytes(sim.Store() / "b.txt", "x");
  test::WriteFileBytes(sim.Store() / "a%d.txt", "y");

  const std::string info = Cp866("Контроллер: тест\r\r\nСвободно: 95%\r\r\n");
  const std::string dir = "a%d.txt\r\r\nb.txt\r\r\n";

  const ToolRun i = Run({LinkSwitch(), "/inf"});
  EXPECT_TRUE(i.ExitedWith(100)) << i.Describe();
  EXPECT_EQ(i.out, info + kNoAction);

  const ToolRun d = Run({"/dir", LinkSwitch()});
  EXPECT_TRUE(d.ExitedWith(100)) << d.Describe();
  EXPECT_EQ(d.out, dir + kNoAction);

  // Both: the directory follows the information directly; then the action runs.
  const ToolRun both = Run({"/dir", "/inf", LinkSwitch(), "/del"});
  EXPECT_TRUE(both.ExitedWith(1)) << both.Describe();
  EXPECT_EQ(both.out, info + dir);
  EXPECT_TRUE(ShowedBoxes(both, {}));
}

TEST_P(Query, AnEmptyStorePrintsNothing) {
  StartSim();
  const ToolRun d = Run({LinkSwitch(), "/dir"});
  EXPECT_TRUE(d.ExitedWith(100)) << d.Describe();
  EXPECT_EQ(d.out, kNoAction);
}

TEST_P(Query, ARejectedReplyFrameIsTakenOnceWhenRepeated) {
  SimProcess& sim = StartSim({"--fault", "bad-checksum,op=dir,frame=1"});
  test::WriteFileBytes(sim.Store() / "a.txt", "x");
  const ToolRun d = Run({LinkSwitch(), "/dir"});
  EXPECT_EQ(d.out, "a.txt\r\r\n" + kNoAction) << sim.Log();
  EXPECT_NE(sim.Log().find("recv 6: 55 55 14 00 01 00"), std::string::npos)
      << "the bad frame is answered with code 20\n"
      << sim.Log();
}

TEST_P(Query, AReplyFrameInTwoPiecesIsTakenWhole) {
  SimProcess& sim = StartSim({"--fault", "split-frame,op=dir,ms=100"});
  test::WriteFileBytes(sim.Store() / "a.txt", "x");
  const ToolRun d = Run({LinkSwitch(), "/dir"});
  EXPECT_EQ(d.out, "a.txt\r\r\n" + kNoAction) << sim.Log();
  EXPECT_TRUE(FaultFired(sim, "split-frame,op=dir,ms=100"));
}

TEST_P(Query, AFailedInformationQueryPrintsNothingAndStopsTheDirectory) {
  SimProcess& sim = StartSim({"--fault", "close,op=info,at=reply-frame"});
  const ToolRun r = Run({LinkSwitch(), "/inf", "/dir"});
  if (Tcp()) {
    // The failed TCP query empties the address: no link is left for the action.
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_EQ(r.out, Cp866("Не указаны сетевые параметры.\r\n"));
  } else {
    // Over the serial line "close" is silence: the query times out, filedir is not sent.
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_EQ(r.out, kNoAction);
    EXPECT_EQ(sim.Log().find("filedir"), std::string::npos) << sim.Log();
  }
}

CABRIX_E2E_OVER_EACH_LINK(Query);

using QueryFallBack = E2eTest;

TEST_F(QueryFallBack, InformationFallsBackToSerialAndTheDirectoryGoesStraightThere) {
  // TestAddress() has no listener: the connect is refused at once.
  SimProcess& serial = StartSim(Transport::kSerial, {"--info-line", "ok"});
  test::WriteFileBytes(serial.Store() / "a.txt", "x");
  const ToolRun r =
      Run({"/TCP" + test::TestAddress(), LinkSwitch(Transport::kSerial), "/inf", "/dir"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, "ok\r\r\na.txt\r\r\n" + kNoAction);
  const auto units = ReceivedUnits(serial.Log());
  // The serial fall-back sends a complete fresh request.
  EXPECT_NE(std::find(units.begin(), units.end(),
                      Hex("\xAA\xAA\x0D\x00\x01\x00\x60\x01\x92\x00\x00\x00\x00PLCInfo\x00"s)),
            units.end())
      << serial.Log();
}

TEST_F(QueryFallBack, TheDirectoryFallsBackButKeepsTheAddress) {
  SimProcess& serial = StartSim(Transport::kSerial);
  test::WriteFileBytes(serial.Store() / "a.txt", "x");
  const ToolRun r = Run({"/TCP" + test::TestAddress(), LinkSwitch(Transport::kSerial), "/dir"});
  // The address stays, so the action check finds a link.
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, "a.txt\r\r\n" + kNoAction);
}

TEST_F(QueryFallBack, BytesOfAFailedTcpExchangeNeverPrecedeTheSerialReply) {
  // The TCP simulator sends the first frame of a two-frame information reply, then closes.
  std::vector<std::string> lines;
  for (int i = 0; i < 8; ++i) lines.push_back("line " + std::to_string(i) + " of the record");
  std::vector<std::string> tcpArgs{"--fault", "close,op=info,at=reply-frame,frame=2"};
  for (const auto& l : lines) tcpArgs.insert(tcpArgs.end(), {"--info-line", l});
  SimProcess& tcp = StartSim(Transport::kTcp, tcpArgs);
  StartSim(Transport::kSerial, {"--info-line", "serial record"});

  const ToolRun r = Run({tcp.TcpSwitch(), LinkSwitch(Transport::kSerial), "/inf"});
  EXPECT_NE(tcp.Log().find("FAULT close"), std::string::npos) << tcp.Log();
  // The serial port is still a link: the run ends at the missing action.
  EXPECT_EQ(r.out, "serial record\r\r\n" + kNoAction);
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
}

TEST_F(QueryFallBack, AnUnreachableTcpAddressWithoutSerialPrintsNothing) {
  const ToolRun r = Run({"/TCP" + test::TestAddress(), "/inf", "/dir"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, Cp866("Не указаны сетевые параметры.\r\n"));
}

TEST_F(QueryFallBack, ASerialPortThatCannotBeOpenedIsReportedOnce) {
  const ToolRun r = Run({UnopenablePortSwitch(), "/inf", "/dir"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_TRUE(ShowedBoxes(r, {"Порт занят!"}));
  EXPECT_EQ(r.out, kNoAction);
}

TEST_F(QueryFallBack, ABusySerialPortIsReportedAndNothingIsSent) {
  CABRIX_SKIP_UNDER_WINE("the holder's flock(2) on the pty binds POSIX programs only; Wine's "
                         "CreateFileA does not see it");
  SimProcess& serial = StartSim(Transport::kSerial);
  // Another program holds the port: a second open fails like a busy Windows port.
  test::Subprocess holder({"/bin/sh", "-c", "exec 3<>\"$0\"; flock -n 3 && echo held && sleep 20",
                           serial.PtyPath().string()});
  const auto held = holder.WaitForFirstLine(5s);
  if (!held) GTEST_SKIP() << "flock(1) not available";
  const ToolRun r = Run({LinkSwitch(Transport::kSerial), "/inf", "/dir"});
  EXPECT_TRUE(ShowedBoxes(r, {"Порт занят!"}));
  EXPECT_EQ(r.out, kNoAction);
  EXPECT_TRUE(ReceivedUnits(serial.Log()).empty()) << serial.Log();
}

}  // namespace
}  // namespace cabrix::e2e
