// PC files in a temporary folder: exclusive opens, reading in pieces, temporary files.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/pc_file.h"

namespace cabrix::platform {
namespace {

namespace fs = std::filesystem;

class PcFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/cabrix-pcfile-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    m_dir = tmpl;
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string Put(const std::string& name, const std::string& content) {
    const std::string path = (m_dir / name).string();
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  fs::path m_dir;
};

TEST(PcPaths, BackslashesBecomeFolderSeparators) {
  EXPECT_EQ(NativePath("/tmp/x\\sub\\a.txt"), "/tmp/x/sub/a.txt");
  EXPECT_EQ(NativePath("a.txt"), "a.txt");
  EXPECT_EQ(NativePath(""), "");
  EXPECT_EQ(FolderOf("/tmp/x/a.txt"), "/tmp/x/");
  EXPECT_EQ(FolderOf("/a"), "/");
  EXPECT_EQ(FolderOf("a.txt"), "");
}

TEST_F(PcFileTest, ReadsInPiecesUpToTheEnd) {
  const std::string path = Put("a.bin", "0123456789");
  PcFile file;
  ASSERT_TRUE(file.OpenRead(path));
  EXPECT_EQ(file.Length(), 10u);
  std::vector<std::uint8_t> buf(4);
  std::vector<std::size_t> pieces;
  for (int i = 0; i < 4; ++i) pieces.push_back(file.Read(buf).value_or(99));
  EXPECT_EQ(pieces, (std::vector<std::size_t>{4, 4, 2, 0}));
  EXPECT_TRUE(file.Close());
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(PcFileTest, AFileHeldElsewhereDoesNotOpen) {
  const std::string path = Put("held.txt", "x");
  PcFile first;
  ASSERT_TRUE(first.OpenRead(path));
  PcFile second;
  EXPECT_FALSE(second.OpenRead(path));
  first.Close();
  EXPECT_TRUE(second.OpenRead(path));
  second.Close();
  // Held by another program's lock.
  const int other = ::open(path.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  EXPECT_FALSE(second.OpenRead(path));
  ::close(other);
}

TEST_F(PcFileTest, MissingFilesFoldersAndFifosDoNotOpen) {
  PcFile file;
  EXPECT_FALSE(file.OpenRead((m_dir / "missing").string()));
  EXPECT_FALSE(file.OpenRead(m_dir.string()));
  const std::string fifo = (m_dir / "pipe").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_FALSE(file.OpenRead(fifo));  // returns at once instead of waiting for a writer
  EXPECT_FALSE(file.IsOpen());
}

TEST_F(PcFileTest, TemporaryFileIsWrittenThenReplacesTheTarget) {
  const std::string target = Put("a.txt", "old contents");
  PcFile temp;
  std::string tempPath;
  ASSERT_TRUE(temp.CreateTemporary(m_dir.string() + "/", tempPath));
  const std::string name = fs::path(tempPath).filename().string();
  EXPECT_EQ(FolderOf(tempPath), m_dir.string() + "/");
  ASSERT_EQ(name.size(), 10u);
  EXPECT_EQ(name.substr(0, 4), ".cbx");
  for (const char c : name.substr(4)) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)));

  PcFile reader;
  EXPECT_FALSE(reader.OpenRead(tempPath));  // unshared while it is being written

  std::vector<std::uint8_t> data(300000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
  ASSERT_TRUE(temp.Write(data));
  EXPECT_EQ(temp.Length(), data.size());
  ASSERT_TRUE(temp.PutInPlaceOf(target));
  EXPECT_FALSE(fs::exists(tempPath));
  EXPECT_FALSE(reader.OpenRead(target));  // still held until it is closed
  ASSERT_TRUE(temp.Close());
  EXPECT_EQ(Content(target), std::string(data.begin(), data.end()));
}

TEST_F(PcFileTest, TemporaryNamesDifferAndCanBeRemoved) {
  PcFile a, b;
  std::string pathA, pathB;
  ASSERT_TRUE(a.CreateTemporary(m_dir.string(), pathA));  // no trailing slash given
  ASSERT_TRUE(b.CreateTemporary(m_dir.string(), pathB));
  EXPECT_NE(pathA, pathB);
  EXPECT_EQ(FolderOf(pathA), m_dir.string() + "/");
  a.Close();
  b.Close();
  EXPECT_TRUE(RemoveFile(pathA));
  EXPECT_FALSE(fs::exists(pathA));
  EXPECT_FALSE(RemoveFile(pathA));

  std::string unchanged = "before";
  PcFile c;
  EXPECT_FALSE(c.CreateTemporary((m_dir / "no" / "such").string(), unchanged));
  EXPECT_EQ(unchanged, "before");
  EXPECT_FALSE(c.PutInPlaceOf((m_dir / "x").string()));  // no temporary file open
}

TEST_F(PcFileTest, OnlyTemporaryFilesThatNobodyHoldsAreRemoved) {
  PcFile live;
  std::string livePath;
  ASSERT_TRUE(live.CreateTemporary(m_dir.string(), livePath));
  const std::string stale = Put(".cbxAb12Z9", "left by a killed program");
  const std::string heldElsewhere = Put(".cbxHELD00", "x");
  const int other = ::open(heldElsewhere.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(other, LOCK_EX), 0);
  // Not of the temporary naming.
  const std::vector<std::string> kept = {Put(".cbxshort", ""), Put(".cbxABCDEFG", ""),
                                         Put("x.cbxABCDEF", ""), Put(".cbx-ABCDE", "")};
  RemoveStaleTemporaries(m_dir.string());
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(livePath));
  EXPECT_TRUE(fs::exists(heldElsewhere));
  for (const std::string& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  ::close(other);
  RemoveStaleTemporaries(m_dir.string() + "/");
  EXPECT_FALSE(fs::exists(heldElsewhere));
  EXPECT_TRUE(live.Write(std::vector<std::uint8_t>{1, 2, 3}));
  ASSERT_TRUE(live.PutInPlaceOf((m_dir / "done.bin").string()));
  EXPECT_EQ(Content((m_dir / "done.bin").string()), "\x01\x02\x03");
}

}  // namespace
}  // namespace cabrix::platform
