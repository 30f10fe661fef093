// PC files, the stop event and the console of a captured run, on Windows.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/pc_file.h"
#include "platform/stop_event.h"

namespace cabrix::platform {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A fresh folder under the system's temporary folder, removed with its files at the end.
class PcFileWin : public ::testing::Test {
 protected:
  void SetUp() override {
    char base[MAX_PATH + 1] = {};
    ASSERT_GT(GetTempPathA(MAX_PATH, base), 0u);
    m_folder = std::string(base) + "cbxtest" + std::to_string(GetCurrentProcessId()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "\\";
    ASSERT_TRUE(CreateDirectoryA(m_folder.c_str(), nullptr));
  }

  void TearDown() override {
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((m_folder + "*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = entry.cFileName;
        if (name != "." && name != "..") DeleteFileA((m_folder + name).c_str());
      } while (FindNextFileA(find, &entry));
      FindClose(find);
    }
    RemoveDirectoryA(m_folder.c_str());
  }

  void Make(const std::string& name, const std::string& content) {
    PcFile file;
    std::string temp;
    ASSERT_TRUE(file.CreateTemporary(m_folder, temp));
    ASSERT_TRUE(file.Write(Bytes(content)));
    ASSERT_TRUE(file.PutInPlaceOf(m_folder + name));
    ASSERT_TRUE(file.Close());
  }

  std::string ReadAll(const std::string& path) {
    PcFile file;
    if (!file.OpenRead(path)) return "<cannot open>";
    std::string all;
    std::array<std::uint8_t, 7> piece{};
    for (;;) {
      const auto n = file.Read(piece);
      if (!n) return "<read failed>";
      if (*n == 0) return all;
      all.append(piece.begin(), piece.begin() + *n);
    }
  }

  std::vector<std::string> Entries() {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const HANDLE find = FindFirstFileA((m_folder + "*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
      const std::string name = entry.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
  }

  std::string m_folder;
};

TEST_F(PcFileWin, TemporaryFileHasAShortFixedNameAndReplacesTheTarget) {
  Make("a.txt", "old contents");
  PcFile file;
  std::string temp;
  ASSERT_TRUE(file.CreateTemporary(m_folder, temp));
  ASSERT_EQ(temp.size(), m_folder.size() + 10);
  EXPECT_EQ(temp.substr(0, m_folder.size() + 4), m_folder + ".cbx");
  for (char c : temp.substr(m_folder.size() + 4)) {
    EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) << temp;
  }
  EXPECT_EQ(FolderOf(temp), m_folder);

  ASSERT_TRUE(file.Write(Bytes("new\ncontents\r\n")));
  ASSERT_TRUE(file.PutInPlaceOf(m_folder + "a.txt"));
  EXPECT_EQ(ReadAll(m_folder + "a.txt"), "<cannot open>") << "held until it is closed";
  ASSERT_TRUE(file.Close());
  // Files are binary: no line-end translation either way.
  EXPECT_EQ(ReadAll(m_folder + "a.txt"), "new\ncontents\r\n");
  EXPECT_EQ(Entries(), std::vector<std::string>{"a.txt"});
}

TEST_F(PcFileWin, TwoTemporaryFilesGetDifferentNames) {
  PcFile first;
  PcFile second;
  std::string a;
  std::string b;
  ASSERT_TRUE(first.CreateTemporary(m_folder, a));
  ASSERT_TRUE(second.CreateTemporary(m_folder, b));
  EXPECT_NE(a, b);
}

TEST_F(PcFileWin, TemporaryFileInAMissingFolderFails) {
  PcFile file;
  std::string temp = "untouched";
  EXPECT_FALSE(file.CreateTemporary(m_folder + "missing\\", temp));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(temp, "untouched");
}

TEST_F(PcFileWin, FileOpenForReadingIsNotShared) {
  Make("held.bin", "0123456789");
  PcFile file;
  ASSERT_TRUE(file.OpenRead(m_folder + "held.bin"));
  PcFile other;
  EXPECT_FALSE(other.OpenRead(m_folder + "held.bin"));
  const HANDLE reader = CreateFileA((m_folder + "held.bin").c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    0, nullptr);
  EXPECT_EQ(reader, INVALID_HANDLE_VALUE);
  if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
  // A file that is open cannot be replaced either.
  EXPECT_FALSE(RemoveFile(m_folder + "held.bin"));
  file.Close();
  EXPECT_TRUE(other.OpenRead(m_folder + "held.bin"));
}

TEST_F(PcFileWin, LengthAndReadsInPieces) {
  Make("data.bin", std::string("ab\0cd\x1a\r\nef", 10));
  PcFile file;
  ASSERT_TRUE(file.OpenRead(m_folder + "data.bin"));
  EXPECT_EQ(file.Length(), 10u);
  std::array<std::uint8_t, 6> piece{};
  EXPECT_EQ(file.Read(piece), 6u);
  EXPECT_EQ(file.Read(piece), 4u);
  EXPECT_EQ(piece[3], 'f');
  EXPECT_EQ(file.Read(piece), 0u);
  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.Length().has_value());
  EXPECT_FALSE(file.Read(piece).has_value());
  EXPECT_FALSE(file.Write(piece));
}

TEST_F(PcFileWin, MissingFilesNeitherOpenNorGoAway) {
  PcFile file;
  EXPECT_FALSE(file.OpenRead(m_folder + "none.txt"));
  EXPECT_FALSE(RemoveFile(m_folder + "none.txt"));
  EXPECT_FALSE(file.PutInPlaceOf(m_folder + "b.txt"));
  Make("gone.txt", "x");
  EXPECT_TRUE(RemoveFile(m_folder + "gone.txt"));
  EXPECT_TRUE(Entries().empty());
}

TEST_F(PcFileWin, OnlyTemporaryFilesThatNobodyHoldsAreRemoved) {
  PcFile live;
  std::string livePath;
  ASSERT_TRUE(live.CreateTemporary(m_folder, livePath));
  Make(".cbxab12z9", "left by a killed program");
  Make(".cbxshort", "not of the naming");
  RemoveStaleTemporaries(m_folder);
  auto names = Entries();
  std::sort(names.begin(), names.end());
  const std::string liveName = livePath.substr(m_folder.size());
  std::vector<std::string> expected{".cbxshort", liveName};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
  live.Close();
  RemoveStaleTemporaries(m_folder);
  EXPECT_EQ(Entries(), std::vector<std::string>{".cbxshort"});
}

TEST(PcPathWin, PathsStayAsTheToolBuildsThem) {
  EXPECT_EQ(NativePath("C:\\Data\\sub\\a.txt"), "C:\\Data\\sub\\a.txt");
  EXPECT_EQ(NativePath("sub/a.txt"), "sub/a.txt");
  EXPECT_EQ(FolderOf("C:\\Data\\a.txt"), "C:\\Data\\");
  EXPECT_EQ(FolderOf("C:\\Data\\sub/a.txt"), "C:\\Data\\sub/");
  EXPECT_EQ(FolderOf("C:a.txt"), "C:");
  EXPECT_EQ(FolderOf("a.txt"), "");
  EXPECT_EQ(FolderOf(""), "");
  // Only a drive letter makes a colon a separator.
  EXPECT_EQ(FolderOf("name:stream"), "");
}

TEST(StopEventWin, SignalIsTakenByOneWait) {
  StopEvent event;
  EXPECT_FALSE(event.TryWait());
  event.Set();
  EXPECT_TRUE(event.TryWait());
  EXPECT_FALSE(event.TryWait());
  event.Set();
  event.Reset();
  EXPECT_FALSE(event.TryWait());
}

TEST(ConsoleWin, CapturedOutputIsNoConsole) {
  const DWORD type = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE));
  if (type != FILE_TYPE_PIPE && type != FILE_TYPE_DISK) {
    GTEST_SKIP() << "standard output is not captured";
  }
  const Console console = Console::StandardOutput();
  EXPECT_FALSE(console.IsConsole());
  EXPECT_FALSE(console.CursorPosition().has_value());
  console.WriteAt({3, 4}, "50%");  // does nothing, and does not fail
}

}  // namespace
}  // namespace cabrix::platform
