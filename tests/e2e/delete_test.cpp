// The delete action: one line per file, the exchanges, the fall-back and the statuses.
#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

std::string DeletingLine(const std::string& name) {
  return Cp866("удаление файла ") + name + "\r\n";
}

using Delete = OverEachLink;

TEST_P(Delete, DeletesEveryListedFile) {
  SimProcess& sim = StartSim();
  for (const char* n : {"a.txt", "b.txt", "keep.txt"}) test::WriteFileBytes(sim.Store() / n, n);
  // A name that the controller does not have is still a complete exchange.
  const ToolRun r = Run({LinkSwitch(), "/del", "a.txt", "none.txt", "b.txt"});
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe() << sim.Log();
  EXPECT_EQ(r.out, DeletingLine("a.txt") + DeletingLine("none.txt") + DeletingLine("b.txt"));
  EXPECT_FALSE(fs::exists(sim.Store() / "a.txt"));
  EXPECT_FALSE(fs::exists(sim.Store() / "b.txt"));
  EXPECT_TRUE(fs::exists(sim.Store() / "keep.txt"));
}

TEST_P(Delete, ANameTooLongForTheCommandIsRefusedBeforeAnythingIsSent) {
  SimProcess& sim = StartSim();
  // "filedelete " + name may take 249 bytes: names of 238 bytes fit, 239 do not.
  const std::string fits(238, 'f');
  const std::string tooLong(239, 'g');
  const ToolRun r = Run({LinkSwitch(), "/del", tooLong, fits});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, Cp866("Слишком длинное имя файла: ") + tooLong + "\r\n" + DeletingLine(fits));
  const std::string log = sim.Log();
  EXPECT_EQ(log.find("ggg"), std::string::npos) << "the long name never reaches the controller";
  EXPECT_NE(log.find("filedelete " + fits), std::string::npos) << log;
}

TEST_P(Delete, AFailingExchangeStopsTheList) {
  StartSim({"--fault", "close,op=delete,at=reply-frame"});
  for (const char* n : {"a.txt", "b.txt", "c.txt"}) test::WriteFileBytes(Sim().Store() / n, n);
  const ToolRun r = Run({LinkSwitch(), "/del", "a.txt", "b.txt", "c.txt"});
  if (Tcp()) {
    // The failed exchange empties the address; with no serial port the rest has no link.
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_EQ(r.out, DeletingLine("a.txt") + DeletingLine("b.txt") + DeletingLine("c.txt"));
    EXPECT_TRUE(fs::exists(Sim().Store() / "b.txt"));
    EXPECT_TRUE(fs::exists(Sim().Store() / "c.txt"));
  } else {
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_EQ(r.out, DeletingLine("a.txt"));
    EXPECT_TRUE(fs::exists(Sim().Store() / "b.txt"));
  }
}

CABRIX_E2E_OVER_EACH_LINK(Delete);

using DeleteFallBack = E2eTest;

TEST_F(DeleteFallBack, AFailedTcpExchangeMovesTheRestToTheSerialLine) {
  SimProcess& tcp = StartSim(Transport::kTcp, {"--fault", "close,op=delete,at=reply-frame"});
  SimProcess& serial = StartSim(Transport::kSerial);
  for (const char* n : {"a.txt", "b.txt"}) {
    test::WriteFileBytes(tcp.Store() / n, n);
    test::WriteFileBytes(serial.Store() / n, n);
  }
  const ToolRun r = Run({tcp.TcpSwitch(), LinkSwitch(Transport::kSerial), "/del", "a.txt", "b.txt"});
  EXPECT_TRUE(r.ExitedWith(1)) << r.Describe();
  EXPECT_EQ(r.out, DeletingLine("a.txt") + DeletingLine("b.txt"));
  EXPECT_FALSE(fs::exists(serial.Store() / "a.txt"));
  EXPECT_FALSE(fs::exists(serial.Store() / "b.txt"));
  EXPECT_TRUE(fs::exists(tcp.Store() / "b.txt")) << "b.txt went over the serial line only";
  // Only the first file tried TCP.
  EXPECT_EQ(tcp.Log().find("filedelete b.txt"), std::string::npos) << tcp.Log();
}

TEST_F(DeleteFallBack, AnUnreachableControllerWithoutSerialIsAFailure) {
  const ToolRun r = Run({"/TCP" + test::TestAddress(), "/del", "a.txt", "b.txt", "c.txt"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_EQ(r.out, DeletingLine("a.txt") + DeletingLine("b.txt") + DeletingLine("c.txt"));
}

}  // namespace
}  // namespace cabrix::e2e
