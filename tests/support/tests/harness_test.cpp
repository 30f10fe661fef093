#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>

#include "support/temp_dir.h"
#include "support/test_address.h"
#include "support/tool_command.h"

namespace cabrix::test {
namespace {

namespace fs = std::filesystem;

TEST(TempDir, IsRemovedWithItsContents) {
  fs::path kept;
  {
    TempDir d("harness");
    kept = d.Path();
    fs::create_directories(d / "sub");
    WriteFileBytes(d / "sub" / "f", "x");
    EXPECT_TRUE(fs::is_directory(kept));
    TempDir moved = std::move(d);
    EXPECT_EQ(moved.Path(), kept);
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(XdgConfigHome, HoldsTheDeviceMapFolder) {
  XdgConfigHome xdg;
  EXPECT_TRUE(fs::is_directory(xdg.DosDevices()));
  EXPECT_EQ(xdg.ComLink(3), xdg.Path() / "cabrix" / "dosdevices" / "com3");
  EXPECT_EQ(xdg.Env().first, "XDG_CONFIG_HOME");
  EXPECT_EQ(xdg.Env().second, xdg.Path().string());
}

TEST(PatternBytes, IsRepeatableAndCoversEveryByteValue) {
  const std::string a = PatternBytes(20000, 3);
  EXPECT_EQ(a, PatternBytes(20000, 3));
  EXPECT_NE(a, PatternBytes(20000, 4));
  std::set<unsigned char> seen(a.begin(), a.end());
  EXPECT_EQ(seen.size(), 256u);
}

TEST(LoopbackAddress, IsFixedPerNameAndStaysInTheLoopbackNet) {
  EXPECT_EQ(LoopbackAddressFor("Suite.Test"), LoopbackAddressFor("Suite.Test"));
  std::set<std::string> seen;
  for (int i = 0; i < 2000; ++i) {
    const std::string a = LoopbackAddressFor("Suite.Test" + std::to_string(i));
    ASSERT_EQ(a.rfind("127.", 0), 0u) << a;
    ASSERT_NE(a, "127.0.0.1");
    const auto lastDot = a.rfind('.');
    const int last = std::stoi(a.substr(lastDot + 1));
    ASSERT_GT(last, 0);
    ASSERT_LT(last, 255);
    seen.insert(a);
  }
  EXPECT_GT(seen.size(), 1990u);  // collisions are rare
}

TEST(LoopbackAddress, TestAddressFollowsTheRunningTest) {
  const char* salt = std::getenv("CABRIX_TEST_ADDRESS_SALT");
  EXPECT_EQ(TestAddress(), LoopbackAddressFor(std::string(salt != nullptr ? salt : "") +
                                              "LoopbackAddress.TestAddressFollowsTheRunningTest"));
}

// Restores an environment variable on scope exit.
class EnvGuard {
 public:
  explicit EnvGuard(const char* name) : m_name(name) {
    if (const char* v = std::getenv(name)) m_old = v;
  }
  ~EnvGuard() {
    if (m_old) {
      ::setenv(m_name, m_old->c_str(), 1);
    } else {
      ::unsetenv(m_name);
    }
  }

 private:
  const char* m_name;
  std::optional<std::string> m_old;
};

TEST(ToolCommand, DefaultsToTheBuiltToolAndHonoursTheLauncher) {
  EnvGuard a("CABRIX_TOOL"), b("CABRIX_TOOL_LAUNCHER"), c("CABRIX_BUILD_DIR");
  ::setenv("CABRIX_BUILD_DIR", "/b", 1);
  ::unsetenv("CABRIX_TOOL");
  ::unsetenv("CABRIX_TOOL_LAUNCHER");
  EXPECT_EQ(ToolCommand(), std::vector<std::string>{"/b/bin/cabrix"});
  EXPECT_EQ(SimPath(), fs::path("/b/bin/plcsim"));

  ::setenv("CABRIX_TOOL", "/w/cabrix.exe", 1);
  ::setenv("CABRIX_TOOL_LAUNCHER", "  wine  --flag ", 1);
  EXPECT_EQ(ToolCommand({"/dir"}),
            (std::vector<std::string>{"wine", "--flag", "/w/cabrix.exe", "/dir"}));
}

}  // namespace
}  // namespace cabrix::test
