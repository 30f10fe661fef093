// The front end's console program run as a process against a real plcsim, over loopback TCP and
// over the simulator's pseudo-terminal, judged by its exit status, its output and the files on
// both sides.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_process.h"
#include "process/subprocess.h"
#include "support/temp_dir.h"
#include "support/test_address.h"
#include "support/tool_command.h"

namespace cabrix::dialect {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::PatternBytes;
using test::ProcessOptions;
using test::ProcessResult;
using test::ReadFileBytes;
using test::SimOptions;
using test::SimProcess;
using test::TempDir;
using test::WriteFileBytes;

constexpr int kCom = 7;

fs::path DialectPath() { return test::BuildDir() / "tollmark" / "cabrix"; }

enum class Link { kTcp, kPty };


class DialectEndToEnd : public ::testing::TestWithParam<Link> {
 protected:
  bool Tcp() const { return GetParam() == Link::kTcp; }

  void SetUp() override {
    StartSim({"--idle-timeout", "5", "--info-line", "Модель 7", "--info-line", "Firmware 2.1"});
  }

  // A simulator on this test's link, in place of the one running.
  void StartSim(std::vector<std::string> args) {
    m_sim.reset();
    SimOptions o;
    if (Tcp()) {
      o.tcp = test::TestAddress();
    } else {
      o.pty = m_xdg.ComLink(kCom);
    }
    o.args = std::move(args);
    m_sim.emplace(std::move(o));
  }

  std::string LinkSwitch() const {
    return Tcp() ? m_sim->TcpSwitch() : "/COM" + std::to_string(kCom);
  }

  ProcessOptions Env() const {
    ProcessOptions options;
    options.setEnv = {m_xdg.Env()};
    return options;
  }

  // The dialect program with the link switch first.
  ProcessResult Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {DialectPath().string(), LinkSwitch()};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunProcess(argv, 60s, Env());
  }

  // The console tool with the same link.
  ProcessResult RunTool(const std::vector<std::string>& args) {
    std::vector<std::string> a = {LinkSwitch()};
    a.insert(a.end(), args.begin(), args.end());
    return test::RunProcess(test::ToolCommand(a), 60s, Env());
  }

  std::string Folder() const { return "/FLDR" + m_pc.Str(); }
  void StoreFile(const std::string& name, const std::string& bytes) {
    WriteFileBytes(m_sim->Store() / name, bytes);
  }
  bool InStore(const std::string& name) const { return fs::exists(m_sim->Store() / name); }

  test::XdgConfigHome m_xdg;
  TempDir m_pc{"dialect-pc"};
  std::optional<SimProcess> m_sim;
};

TEST_P(DialectEndToEnd, DirAndInfoPrintTheControllersOwnLines) {
  StoreFile("b.txt", "b");
  StoreFile("a.txt", "a");

  const ProcessResult dir = Run({"/dir"});
  ASSERT_TRUE(dir.ExitedWith(0)) << dir.Describe();
  EXPECT_EQ(dir.out, "a.txt\r\nb.txt\r\n");

  const ProcessResult info = Run({"/info"});
  ASSERT_TRUE(info.ExitedWith(0)) << info.Describe();
  // "Модель" in Windows-1251, as the controller sends it.
  EXPECT_EQ(info.out, "\xCC\xEE\xE4\xE5\xEB\xFC 7\r\nFirmware 2.1\r\n");
}

// Names holding every byte from 0x80 to 0xFF, and two that differ in their first byte only
// (Ёлка.txt and илка.txt), are listed byte for byte, and each is read and deleted as listed.
TEST_P(DialectEndToEnd, EveryByteOfANameIsListedReadAndDeletedAsTheControllerHasIt) {
  std::vector<std::string> names = {"\xA8\xEB\xEA\xE0.txt", "\xE8\xEB\xEA\xE0.txt"};
  for (int group = 0; group < 8; ++group) {
    std::string name;
    for (int b = 0; b < 16; ++b) name += static_cast<char>(0x80 + group * 16 + b);
    names.push_back(name + ".bin");
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    StoreFile(names[i], "content " + std::to_string(i));
  }

  const ProcessResult dir = Run({"/dir"});
  ASSERT_TRUE(dir.ExitedWith(0)) << dir.Describe();
  std::vector<std::string> listed;
  for (std::size_t at = 0; at < dir.out.size();) {
    const std::size_t end = dir.out.find("\r\n", at);
    ASSERT_NE(end, std::string::npos) << dir.out;
    listed.push_back(dir.out.substr(at, end - at));
    at = end + 2;
  }
  std::vector<std::string> expected = names;
  std::sort(listed.begin(), listed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(listed, expected);

  // Each as listed: the file lands under its name's UTF-8 form.
  std::vector<std::string> get = {Folder(), "/get"};
  get.insert(get.end(), names.begin(), names.end());
  const ProcessResult got = Run(get);
  ASSERT_TRUE(got.ExitedWith(0)) << got.Describe();
  EXPECT_EQ(ReadFileBytes(m_pc / "Ёлка.txt"), "content 0");
  EXPECT_EQ(ReadFileBytes(m_pc / "илка.txt"), "content 1");
  const auto pcFiles = std::distance(fs::directory_iterator(m_pc.Path()), {});
  EXPECT_EQ(pcFiles, static_cast<std::ptrdiff_t>(names.size()));

  const ProcessResult del = Run({"/del", names[0], names[2], names[9]});
  EXPECT_TRUE(del.ExitedWith(0)) << del.Describe();
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(InStore(names[i]), i != 0 && i != 2 && i != 9) << i;
  }
}

TEST_P(DialectEndToEnd, DeleteEndsZeroOnlyWhenTheNamesAreGone) {
  StoreFile("a.txt", "a");
  StoreFile("b.txt", "b");
  StoreFile("c.txt", "c");
  const ProcessResult both = Run({"/del", "a.txt", "b.txt"});
  EXPECT_TRUE(both.ExitedWith(0)) << both.Describe();
  EXPECT_FALSE(InStore("a.txt"));
  EXPECT_FALSE(InStore("b.txt"));
  EXPECT_TRUE(InStore("c.txt"));

  // A name that is not there is not kept either.
  EXPECT_TRUE(Run({"/del", "gone.txt"}).ExitedWith(0));

  // The controller refuses to delete a name with "..": it stays listed.
  StoreFile("x..y.txt", "x");
  const ProcessResult kept = Run({"/del", "c.txt", "x..y.txt"});
  EXPECT_TRUE(kept.ExitedWith(112)) << kept.Describe();
  EXPECT_FALSE(InStore("c.txt"));
  EXPECT_TRUE(InStore("x..y.txt"));
}

TEST_P(DialectEndToEnd, GetReadsEveryFileAndCountsTheMissingOnes) {
  const std::string a = PatternBytes(10000, 3);
  const std::string b = PatternBytes(300, 4);
  StoreFile("a.bin", a);
  StoreFile("b.bin", b);

  const ProcessResult one = Run({Folder(), "/get", "a.bin"});
  ASSERT_TRUE(one.ExitedWith(0)) << one.Describe();
  EXPECT_EQ(ReadFileBytes(m_pc / "a.bin"), a);
  fs::remove(m_pc / "a.bin");

  const ProcessResult several = Run({Folder(), "/get", "a.bin", "b.bin"});
  ASSERT_TRUE(several.ExitedWith(0)) << several.Describe();
  EXPECT_EQ(ReadFileBytes(m_pc / "a.bin"), a);
  EXPECT_EQ(ReadFileBytes(m_pc / "b.bin"), b);

  const ProcessResult missing = Run({Folder(), "/get", "a.bin", "none.bin"});
  EXPECT_TRUE(missing.ExitedWith(120)) << missing.Describe();
  const ProcessResult twoMissing = Run({Folder(), "/get", "none1.bin", "b.bin", "none2.bin"});
  EXPECT_TRUE(twoMissing.ExitedWith(121)) << twoMissing.Describe();
  EXPECT_FALSE(fs::exists(m_pc / "none1.bin"));
  EXPECT_FALSE(fs::exists(m_pc / "none2.bin"));

  const ProcessResult noFolder = Run({"/FLDR" + (m_pc / "no-such").string(), "/get", "a.bin"});
  EXPECT_TRUE(noFolder.ExitedWith(110)) << noFolder.Describe();
  // A target that cannot be written (here a folder) is refused before the read, and stays.
  StoreFile("c.bin", "c");
  fs::create_directory(m_pc / "c.bin");
  const ProcessResult notWritable = Run({Folder(), "/get", "c.bin"});
  EXPECT_TRUE(notWritable.ExitedWith(110)) << notWritable.Describe();
  EXPECT_TRUE(fs::is_directory(m_pc / "c.bin"));
  // Nothing but the files asked for was left in the folder.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(m_pc.Path())) {
    left.push_back(entry.path().filename().string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.bin", "b.bin", "c.bin"}));
}

TEST_P(DialectEndToEnd, UpWritesTheFileAndAMissingOneIsAPcFileFailure) {
  const std::string bytes = PatternBytes(9100, 5);
  WriteFileBytes(m_pc / "up.bin", bytes);
  const ProcessResult up = Run({Folder(), "/up", "up.bin"});
  ASSERT_TRUE(up.ExitedWith(0)) << up.Describe();
  EXPECT_EQ(ReadFileBytes(m_sim->Store() / "up.bin"), bytes);

  const ProcessResult missing = Run({Folder(), "/up", "absent.bin"});
  EXPECT_TRUE(missing.ExitedWith(110)) << missing.Describe();
  EXPECT_FALSE(InStore("absent.bin"));
}

// Asked through the environment, both programs the front end runs report each file's progress
// on standard error, in order, ending with the file's size; what else they write stays as it is.
TEST_P(DialectEndToEnd, ProgressReportsWhenAskedEndWithTheFilesSize) {
  const std::string bytes = PatternBytes(20000, 3);
  StoreFile("r.bin", bytes);
  WriteFileBytes(m_pc / "w.bin", bytes);
  struct Case {
    std::string what;
    std::vector<std::string> args;
    bool tool;  // the console tool rather than the dialect program
    std::string start;
  };
  const Case cases[] = {
      {"read", {Folder(), "/get", "r.bin"}, false, "cabrix-progress: start 1 1 -"},
      {"write", {Folder(), "/up", "w.bin"}, true, "cabrix-progress: start 1 1 20000"},
  };
  for (const Case& c : cases) {
    const ProcessResult plain = c.tool ? RunTool(c.args) : Run(c.args);
    ProcessOptions asked = Env();
    asked.setEnv.push_back({"CABRIX_PROGRESS", "1"});
    std::vector<std::string> argv =
        c.tool ? test::ToolCommand(std::vector<std::string>{LinkSwitch()}) : std::vector<std::string>{DialectPath().string(), LinkSwitch()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const ProcessResult reported = test::RunProcess(argv, 60s, asked);
    ASSERT_TRUE(reported.ExitedWith(0)) << c.what << reported.Describe();
    EXPECT_EQ(reported.out, plain.out) << c.what;
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < reported.err.size();) {
      const std::size_t end = reported.err.find("\r\n", at);
      ASSERT_NE(end, std::string::npos) << reported.err;
      lines.push_back(reported.err.substr(at, end - at));
      at = end + 2;
    }
    ASSERT_GE(lines.size(), 3u) << c.what << reported.err;
    EXPECT_EQ(lines.front(), c.start) << c.what;
    EXPECT_EQ(lines.back(), "cabrix-progress: end 1 ok") << c.what;
    EXPECT_EQ(lines[lines.size() - 2].rfind("cabrix-progress: bytes 1 20000 ", 0), 0u) << c.what;
    std::uint64_t before = 0;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
      ASSERT_EQ(lines[i].rfind("cabrix-progress: bytes 1 ", 0), 0u) << lines[i];
      const std::uint64_t done = std::stoull(lines[i].substr(25));
      EXPECT_GE(done, before) << lines[i];
      before = done;
    }
  }
}

TEST_P(DialectEndToEnd, NamesTooLongForTheFramesAreRefusedBeforeAnyExchange) {
  const std::string longName = std::string(250, 'n') + ".txt";
  WriteFileBytes(m_pc / "Ωmega.txt", "no Windows-1251 form");
  for (const auto& args : std::vector<std::vector<std::string>>{{"/del", longName},
                                                                {Folder(), "/get", longName},
                                                                {Folder(), "/up", longName},
                                                                {Folder(), "/up", "Ωmega.txt"}}) {
    const ProcessResult r = Run(args);
    EXPECT_TRUE(r.ExitedWith(111)) << args.back() << ": " << r.Describe();
  }
  EXPECT_FALSE(m_sim->Log().find("recv") != std::string::npos) << m_sim->Log();
}

TEST_P(DialectEndToEnd, ACyrillicControllerNameLandsUnderItsUtf8Name) {
  const std::string cp1251 = "\xCF\xF0\xE8\xE2\xE5\xF2.txt";  // "Привет.txt"
  StoreFile(cp1251, "hello");
  const ProcessResult get = Run({Folder(), "/get", cp1251});
  ASSERT_TRUE(get.ExitedWith(0)) << get.Describe();
  EXPECT_EQ(ReadFileBytes(m_pc / "Привет.txt"), "hello");
  EXPECT_FALSE(fs::exists(m_pc / cp1251));
}

TEST_P(DialectEndToEnd, GetRefusesANameThatLeavesTheFolderBeforeAnythingIsSent) {
  StoreFile("a.txt", "a");
  fs::create_directory(m_pc / "in");
  const std::string folder = "/FLDR" + (m_pc / "in").string();
  for (const std::vector<std::string>& names :
       {std::vector<std::string>{"../escaped.txt"}, {"..\\esc2.txt"}, {"sub/a.txt"}, {"C:a.txt"},
        {"."}, {".."}, {""}, {"a.txt", "../escaped.txt"}}) {
    std::vector<std::string> args = {folder, "/get"};
    args.insert(args.end(), names.begin(), names.end());
    const ProcessResult r = Run(args);
    EXPECT_TRUE(r.ExitedWith(110)) << names.back() << ": " << r.Describe();
  }
  EXPECT_EQ(m_sim->Log().find(" recv "), std::string::npos) << m_sim->Log();
  std::vector<std::string> written;
  for (const auto& entry : fs::recursive_directory_iterator(m_pc.Path())) {
    written.push_back(entry.path().lexically_relative(m_pc.Path()).string());
  }
  EXPECT_EQ(written, std::vector<std::string>{"in"});
}

// Told to stop while it waits for a reply frame: the temporary file goes, the program ends by
// the signal.
TEST_P(DialectEndToEnd, AStoppedGetEndsBySignalAndLeavesNothingBehind) {
  StartSim({"--idle-timeout", "30", "--fault", "silent,op=download,at=reply-frame,frame=3"});
  StoreFile("big.bin", PatternBytes(5000, 6));
  test::Subprocess get({DialectPath().string(), LinkSwitch(), Folder(), "/get", "big.bin"}, Env());
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (m_sim->Log().find("going silent") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  get.Signal(SIGTERM);
  const ProcessResult r = get.Wait(20s);
  EXPECT_EQ(r.signal, SIGTERM) << r.Describe() << m_sim->Log();
  EXPECT_TRUE(fs::is_empty(m_pc.Path()));
}

TEST_P(DialectEndToEnd, ALinkFaultIsALinkFailure) {
  StartSim({"--idle-timeout", "5", "--fault", "close,op=dir,times=always"});
  StoreFile("a.txt", "a");
  const ProcessResult r = Run({"/dir"});
  EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
  EXPECT_TRUE(r.out.empty()) << r.out;
}

INSTANTIATE_TEST_SUITE_P(Links, DialectEndToEnd, ::testing::Values(Link::kTcp, Link::kPty),
                         [](const auto& info) {
                           return std::string(info.param == Link::kTcp ? "Tcp" : "Pty");
                         });

// Nothing at the other end of the link.
TEST(DialectWithoutController, NoListenerAndNoPortAreLinkFailures) {
  test::XdgConfigHome xdg;
  fs::create_symlink("/nonexistent/tty", xdg.ComLink(9));
  ProcessOptions env;
  env.setEnv = {xdg.Env()};
  for (const std::string& link : {"/TCP" + test::TestAddress(), std::string("/COM9")}) {
    const ProcessResult r = test::RunProcess({DialectPath().string(), link, "/dir"}, 60s, env);
    EXPECT_TRUE(r.ExitedWith(100)) << link << ": " << r.Describe();
  }
}

// A port that opens but is no serial line (its settings cannot be read) is a link failure for
// every action, not a file that could not be read or written.
TEST(DialectWithoutController, APortThatCannotBeSetUpIsALinkFailure) {
  test::XdgConfigHome xdg;
  TempDir pc("dialect-pc");
  WriteFileBytes(pc.Path() / "a.txt", "data");
  fs::create_symlink("/dev/null", xdg.ComLink(9));
  ProcessOptions env;
  env.setEnv = {xdg.Env()};
  const std::string folder = "/FLDR" + pc.Str();
  for (const std::vector<std::string>& action :
       {std::vector<std::string>{"/get", "a.txt"}, {"/up", "a.txt"}, {"/dir"}}) {
    std::vector<std::string> argv = {DialectPath().string(), "/COM9", folder};
    argv.insert(argv.end(), action.begin(), action.end());
    const ProcessResult r = test::RunProcess(argv, 60s, env);
    EXPECT_TRUE(r.ExitedWith(100)) << action[0] << ": " << r.Describe();
  }
  EXPECT_EQ(ReadFileBytes(pc.Path() / "a.txt"), "data");
}

TEST(DialectCommandLineProcess, BadCommandLinesEnd200) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"/dir"},
      {"/TCP127.0.0.2"},
      {"/TCP127.0.0", "/dir"},
      {"/COM", "/dir"},
      {"/", "/dir"},  // the bare slash of a serial link without a port
      {"/TCP127.0.0.2", "/inf"},
      {"/TCP127.0.0.2", "/del"},
  };
  for (const auto& args : bad) {
    std::vector<std::string> argv = {DialectPath().string()};
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult r = test::RunProcess(argv, 30s);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_TRUE(r.ExitedWith(200)) << joined << r.Describe();
  }
}

}  // namespace
}  // namespace cabrix::dialect
