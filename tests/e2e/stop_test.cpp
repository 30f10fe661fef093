// The tool told to stop by a signal while it waits on the controller: it closes the link, removes
// its temporary file, starts no further file and ends by that signal.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

// How long a stopped tool may take to end. It waits on a controller that stays silent for far
// longer than this (its receive bounds are many seconds); the stop ends the wait at once.
constexpr auto kStopBound = 3s;

struct StopCase {
  const char* name;
  Transport transport;
  const char* action;  // "/dn" or "/up"
  const char* fault;
  // What shows that the tool is waiting: the fault's firing in the log, or, when set, this
  // text on the tool's standard error.
  const char* waitingText;
  int signal;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

class StopWhileWaiting : public E2eTest, public ::testing::WithParamInterface<StopCase> {};

TEST_P(StopWhileWaiting, EndsBySignalAndLeavesNothingBehind) {
  CABRIX_SKIP_UNDER_WINE("a signal reaches the launcher, not the Windows program");
  const StopCase& c = GetParam();
  SimProcess& sim = StartSim(c.transport, {"--fault", c.fault, "--idle-timeout", "30"});
  const bool download = std::string(c.action) == "/dn";
  const std::string data = test::PatternBytes(5000, 3);
  if (download) {
    test::WriteFileBytes(sim.Store() / "big.bin", data);
    test::WriteFileBytes(Pc("big.bin"), "old");
  } else {
    test::WriteFileBytes(Pc("big.bin"), data);
  }
  test::WriteFileBytes(Pc("next.bin"), "n");
  test::WriteFileBytes(sim.Store() / "next.bin", "n");

  test::Subprocess tool =
      Start({LinkSwitch(c.transport), FolderSwitch(), c.action, "big.bin", "next.bin"});
  const bool waiting = WaitUntil(
      [&] {
        if (c.waitingText != nullptr) {
          return tool.Stderr().find(Cp866(c.waitingText)) != std::string::npos;
        }
        return sim.Log().find("FAULT " + std::string(c.fault)) != std::string::npos &&
               (!download || !TempFilesIn(m_pc.Path()).empty());
      },
      20s);
  ASSERT_TRUE(waiting) << tool.Stdout() << tool.Stderr() << sim.Log();

  const auto signalled = std::chrono::steady_clock::now();
  tool.Signal(c.signal);
  const ProcessResult r = tool.Wait(20s);
  const auto took = std::chrono::steady_clock::now() - signalled;
  EXPECT_FALSE(r.exited) << r.Describe();
  EXPECT_EQ(r.signal, c.signal) << r.Describe();
  EXPECT_LT(took, kStopBound);
  EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
  if (download) {
    EXPECT_EQ(test::ReadFileBytes(Pc("big.bin")), "old");
  }
  EXPECT_EQ(sim.Log().find(Hex("next.bin")), std::string::npos) << "no further file";

  // The link is free again: the connection was closed, and the port let go of its
  // exclusivity, which would outlive the program and keep every other user out.
  if (c.transport == Transport::kTcp) {
    EXPECT_TRUE(sim.WaitForLog("connection closed", 10s)) << sim.Log();
    const ToolRun again = Run({LinkSwitch(c.transport), FolderSwitch(), "/dn", "next.bin"});
    EXPECT_TRUE(again.ExitedWith(0)) << again.Describe() << sim.Log();
  } else {
    const int port = ::open(sim.PtyPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(port, 0);
    int exclusive = -1;
    EXPECT_EQ(::ioctl(port, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(port);
  }
}

const StopCase kStopCases[] = {
    {"ReadOverTcp", Transport::kTcp, "/dn", "silent,op=download,at=reply-frame,frame=3", nullptr,
     SIGTERM},
    {"ReadOverTheSerialLine", Transport::kSerial, "/dn",
     "silent,op=download,at=reply-frame,frame=3", nullptr, SIGINT},
    {"PauseAfterTheResetPrompt", Transport::kSerial, "/dn", "reject-request,op=download",
     "Нажмите reset на приборе!", SIGHUP},
    {"WriteOverTcp", Transport::kTcp, "/up", "silent,op=upload,at=frame-ack,frame=3", nullptr,
     SIGTERM},
};

INSTANTIATE_TEST_SUITE_P(Cases, StopWhileWaiting, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace cabrix::e2e
