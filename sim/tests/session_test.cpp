// The sessions against the PC side as the console tool runs it, over an in-memory pipe.
#include <filesystem>
#include <iterator>

#include "wire/bytes.h"
#include "sessions.h"
#include "session_fixture.h"
#include "support/temp_dir.h"

namespace plcsim::testing {
namespace {

namespace fs = std::filesystem;
using cabrix::test::PatternBytes;
using cabrix::test::ReadFileBytes;
using cabrix::test::WriteFileBytes;

class Sessions : public SessionTest, public ::testing::WithParamInterface<Transport> {
 protected:
  Sessions() { transport = GetParam(); }
  fs::path StorePath(const std::string& name) { return dir / "store" / name; }
};

TEST_P(Sessions, CommandsAnswerInfoDirectoryAndDelete) {
  WriteFileBytes(StorePath("b.txt"), "1");
  WriteFileBytes(StorePath("a.txt"), "2");
  fs::create_directory(StorePath("sub"));  // not a file: not listed

  CommandReply reply;
  auto run = Run([&](PcClient& c) { reply = c.Command("PLCInfo"); });
  EXPECT_FALSE(run.pcError);
  EXPECT_EQ(reply.text, info);
  EXPECT_EQ(run.sim.end, ExchangeEnd::kCompleted);

  EXPECT_EQ(Dir(), "a.txt\r\nb.txt\r\n");

  Run([&](PcClient& c) { reply = c.Command("filedelete a.txt"); });
  EXPECT_EQ(reply.text, "OK\r\n");
  EXPECT_FALSE(fs::exists(StorePath("a.txt")));
  Run([&](PcClient& c) { reply = c.Command("filedelete a.txt"); });
  EXPECT_EQ(reply.text, "ERROR: file not found\r\n");
  Run([&](PcClient& c) { reply = c.Command("filedelete ../b.txt"); });
  EXPECT_EQ(reply.text, "ERROR: bad file name\r\n");
  EXPECT_TRUE(fs::exists(StorePath("b.txt")));
}

TEST_P(Sessions, UnknownCommandGetsAnEndMarker) {
  CommandReply reply;
  const auto run = Run([&](PcClient& c) { reply = c.Command("format c:"); });
  EXPECT_FALSE(run.pcError);
  EXPECT_TRUE(reply.endMarker);
  EXPECT_EQ(run.sim.end, ExchangeEnd::kCompleted);
}

TEST_P(Sessions, LongDirectoryReplySpansFramesAndStaysExact) {
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "file_" + std::to_string(100 + i) + ".prg";
    WriteFileBytes(StorePath(name), "x");
    expected += name + "\r\n";
  }
  const auto run = Run([&](PcClient& c) { EXPECT_EQ(c.Command("filedir").text, expected); });
  EXPECT_FALSE(run.pcError);
  // Preamble 7 + text + terminator in frames of at most 128 payload bytes, sent one by one.
  std::size_t frames = 0;
  for (const auto& w : run.simWrites) {
    if (w.size() > 8 && w[0] == 0xAA) {
      ++frames;
      EXPECT_LE(w.size(), 136u);
    }
  }
  EXPECT_EQ(frames, (7 + expected.size() + 1 + 127) / 128);
}

TEST_P(Sessions, FilesOfEverySizeGoThereAndBack) {
  for (const std::size_t size : {0u, 3u, 115u, 116u, 200u, 4500u, 4501u, 9000u, 20000u}) {
    SCOPED_TRACE(size);
    const std::string name = "f" + std::to_string(size) + ".bin";
    const std::string data = PatternBytes(size, static_cast<unsigned>(size));
    auto up = Run([&](PcClient& c) { c.Upload(name, data); });
    ASSERT_FALSE(up.pcError) << cabrix::LinkCodeText(*up.pcError) << "\n" << logText;
    ASSERT_EQ(up.sim.end, ExchangeEnd::kCompleted) << logText;
    EXPECT_EQ(ReadFileBytes(StorePath(name)), data);

    std::optional<std::string> got;
    auto down = Run([&](PcClient& c) { got = c.Download(name); });
    ASSERT_FALSE(down.pcError) << logText;
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(*got, data);
    EXPECT_EQ(lastClient.segmentRequests, size == 0 ? 0 : static_cast<int>((size - 1) / 4500));
  }
  // Temporary files never stay behind.
  for (const auto& e : fs::directory_iterator(dir / "store")) {
    EXPECT_NE(e.path().filename().string().rfind(".plcsim-part-", 0), 0u) << e.path();
  }
}

// After a full segment the write may go on or be over, and only the PC's next step tells: until
// then the name keeps the older file. A PC that breaks off in the next segment leaves it there;
// one that stops after the segment leaves the file as far as that segment, which is all that the
// protocol can tell.
TEST_P(Sessions, TheOlderFileKeepsItsNameUntilTheWriteHasEnded) {
  const std::string data = PatternBytes(9000, 3);
  for (const bool sendsTheNextSegment : {true, false}) {
    SCOPED_TRACE(sendsTheNextSegment);
    WriteFileBytes(StorePath("o.bin"), "older");
    std::string betweenSegments;
    bool begun = false;  // the next segment's first frame went out: the PC stops after it
    beforePcWrite = [&](std::span<const std::uint8_t> unit) {
      if (begun) throw cabrix::CLinkError(cabrix::kLinkNoData);
      if (!IsLaterSegmentStart(unit)) return;
      betweenSegments = ReadFileBytes(StorePath("o.bin"));
      if (!sendsTheNextSegment) throw cabrix::CLinkError(cabrix::kLinkNoData);
      begun = true;
    };
    const auto run = Run([&](PcClient& c) { c.Upload("o.bin", data); });
    EXPECT_TRUE(run.pcError);
    EXPECT_EQ(betweenSegments, "older");
    EXPECT_EQ(ReadFileBytes(StorePath("o.bin")),
              sendsTheNextSegment ? "older" : data.substr(0, 4500))
        << logText;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "store"), fs::directory_iterator()), 1);
    beforePcWrite = nullptr;
  }
}

TEST_P(Sessions, MissingFileIsAnsweredWithAnEndMarker) {
  std::optional<std::string> got = "unset";
  const auto run = Run([&](PcClient& c) { got = c.Download("none.txt"); });
  EXPECT_FALSE(run.pcError);
  EXPECT_FALSE(got.has_value());
}

TEST_P(Sessions, DownloadSegmentHeaderCarriesTheMoreFlag) {
  WriteFileBytes(StorePath("two.bin"), PatternBytes(6000));
  const auto run = Run([&](PcClient& c) { c.Download("two.bin"); });
  ASSERT_FALSE(run.pcError);
  std::vector<std::uint8_t> flags;
  for (const auto& w : run.simWrites) {
    if (w.size() > 14 && w[0] == 0xAA && cabrix::Read16le(w, 4) == 1) flags.push_back(w[8 + 2]);
  }
  EXPECT_EQ(flags, (std::vector<std::uint8_t>{1, 0}));
}

INSTANTIATE_TEST_SUITE_P(Transports, Sessions,
                         ::testing::Values(Transport::kTcp, Transport::kSerial),
                         [](const auto& info) {
                           return info.param == Transport::kTcp ? "Tcp" : "Serial";
                         });

TEST(FrameSizes, NeverLeaveATwoBytePayload) {
  for (std::size_t n = 3; n < 1000; ++n) {  // every stream holds at least 7 bytes
    std::size_t total = 0;
    const auto sizes = FrameSizes(n);
    for (const std::size_t s : sizes) {
      ASSERT_LE(s, 128u);
      ASSERT_NE(s, 2u) << n;
      total += s;
    }
    ASSERT_EQ(total, n);
  }
  EXPECT_EQ(FrameSizes(130), (std::vector<std::size_t>{127, 3}));
}

}  // namespace
}  // namespace plcsim::testing
