#include "process/subprocess.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <optional>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace cabrix::test {
namespace {

using namespace std::chrono_literals;

ProcessResult Sh(const std::string& script, std::chrono::milliseconds timeout = 10s,
                 const ProcessOptions& options = {}) {
  return RunProcess({"sh", "-c", script}, timeout, options);  // found through PATH
}

TEST(Subprocess, ReportsExitStatusAndBothStreams) {
  const ProcessResult r = Sh("printf 'out\\r\\n'; printf err >&2; exit 7");
  EXPECT_TRUE(r.ExitedWith(7)) << r.Describe();
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.out, "out\r\n");
  EXPECT_EQ(r.err, "err");
}

TEST(Subprocess, ReportsTheEndingSignal) {
  const ProcessResult r = Sh("kill -TERM $$");
  EXPECT_FALSE(r.exited);
  EXPECT_EQ(r.signal, SIGTERM);
}

TEST(Subprocess, StandardInputIsEmpty) {
  const ProcessResult r = Sh("cat; echo end");
  EXPECT_TRUE(r.ExitedWith(0));
  EXPECT_EQ(r.out, "end\n");
}

TEST(Subprocess, DrainsMoreOutputThanAPipeHolds) {
  // 1 MiB on each stream: a child whose pipes were not drained would block and time out.
  const ProcessResult r =
      Sh("head -c 1048576 /dev/zero; head -c 1048576 /dev/zero >&2", 20s);
  EXPECT_TRUE(r.ExitedWith(0)) << r.timedOut;
  EXPECT_EQ(r.out.size(), 1048576u);
  EXPECT_EQ(r.err.size(), 1048576u);
}

TEST(Subprocess, SetsAndRemovesEnvironmentVariables) {
  ::setenv("CABRIX_SUBPROCESS_TEST_GONE", "x", 1);
  ProcessOptions o;
  o.setEnv = {{"CABRIX_SUBPROCESS_TEST_NEW", "a b"}, {"HOME", "/nowhere"}};
  o.unsetEnv = {"CABRIX_SUBPROCESS_TEST_GONE"};
  const ProcessResult r = Sh(
      "echo \"[$CABRIX_SUBPROCESS_TEST_NEW][${CABRIX_SUBPROCESS_TEST_GONE-unset}][$HOME]\"", 10s,
      o);
  ::unsetenv("CABRIX_SUBPROCESS_TEST_GONE");
  EXPECT_EQ(r.out, "[a b][unset][/nowhere]\n");
}

TEST(Subprocess, RunsInTheGivenFolder) {
  ProcessOptions o;
  o.workDir = "/";
  EXPECT_EQ(Sh("pwd", 10s, o).out, "/\n");
}

TEST(Subprocess, TimeOutKillsTheWholeProcessGroup) {
  // The shell starts a grandchild and reports its pid; both must be gone after the time-out.
  Subprocess p({"/bin/sh", "-c", "sleep 30 & echo $!; wait"});
  const auto line = p.WaitForFirstLine(10s);
  ASSERT_TRUE(line.has_value());
  const pid_t grandchild = std::stoi(*line);
  const ProcessResult r = p.Wait(300ms);
  EXPECT_TRUE(r.timedOut);
  EXPECT_EQ(r.signal, SIGKILL);
  // The grandchild was reparented; once killed it is reaped by init, so poll briefly.
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) {
    gone = ::kill(grandchild, 0) != 0;
    if (!gone) ::usleep(10000);
  }
  EXPECT_TRUE(gone);
}

TEST(Subprocess, WaitForFirstLineEndsWhenTheProcessEndsWithoutOne) {
  Subprocess p({"/bin/sh", "-c", "printf partial"});
  EXPECT_FALSE(p.WaitForFirstLine(10s).has_value());
  EXPECT_EQ(p.Wait(10s).out, "partial");
}

TEST(Subprocess, DestructionKillsARunningChild) {
  pid_t pid = 0;
  {
    Subprocess p({"/bin/sh", "-c", "exec sleep 30"});
    pid = p.Pid();
    EXPECT_TRUE(p.Running());
  }
  EXPECT_NE(::kill(pid, 0), 0);  // reaped, so no such process
}

TEST(Subprocess, MissingProgramThrows) {
  EXPECT_THROW(Subprocess({"/nonexistent/program"}), std::runtime_error);
  EXPECT_THROW(Subprocess({"cabrix-no-such-program-in-path"}), std::runtime_error);
  ProcessOptions o;
  o.workDir = "/nonexistent/folder";
  EXPECT_THROW(Subprocess({"sh", "-c", "true"}, o), std::runtime_error);
}

TEST(Subprocess, StandardErrorIntoAFileAndWhatTheChildUsed) {
  const TempDir dir("subprocess-test");
  ProcessOptions o;
  o.errPath = (dir / "err.txt").string();
  const ProcessResult r = Sh("printf old >&2; sleep 0.2; printf out", 10s, o);
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(r.out, "out");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFileBytes(dir / "err.txt"), "old");
  EXPECT_GE(r.wallSeconds, 0.2);
  EXPECT_GT(r.maxRssKib, 0);
}

TEST(Subprocess, AChildThatEndsWithItsParentThreadGetsSigterm) {
  std::optional<Subprocess> p;
  std::thread([&] {
    ProcessOptions o;
    o.endWithParentThread = true;
    p.emplace(std::vector<std::string>{"sleep", "30"}, o);
  }).join();
  const ProcessResult r = p->Wait(10s);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.signal, SIGTERM);
}

}  // namespace
}  // namespace cabrix::test
