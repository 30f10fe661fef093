// The simulator's own parsing: fault specs, command line, addresses, texts and store names.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>

#include "fault_plan.h"
#include "options.h"
#include "store.h"
#include "support/temp_dir.h"
#include "text1251.h"

namespace plcsim {
namespace {

namespace fs = std::filesystem;
using cabrix::test::TempDir;
using cabrix::test::WriteFileBytes;

FaultSpec Parse(const std::string& text) {
  std::string error;
  auto spec = ParseFault(text, error);
  EXPECT_TRUE(spec) << text << ": " << error;
  return spec.value_or(FaultSpec{});
}

std::string ParseError(const std::string& text) {
  std::string error;
  EXPECT_FALSE(ParseFault(text, error)) << text;
  return error;
}

TEST(FaultSpecs, ParseKindAndKeys) {
  const FaultSpec f = Parse("reject,op=upload,segment=2,frame=7,times=3");
  EXPECT_EQ(f.kind, FaultKind::kReject);
  EXPECT_EQ(f.op, Operation::kUpload);
  EXPECT_EQ(f.segment, 2);
  EXPECT_EQ(f.frame, 7);
  EXPECT_EQ(f.times, 3);
  EXPECT_EQ(Parse("delay-ack").ms, 1000);
  EXPECT_EQ(Parse("delay-frame,ms=25").ms, 25);
  EXPECT_EQ(Parse("silent,times=always").times, 0);
  EXPECT_EQ(Parse("silent,at=poll-answer").site, Site::kPollAnswer);
  EXPECT_EQ(Parse("split-frame,bytes=3").bytes, 3);
}

TEST(FaultSpecs, RefuseWhatDoesNotFit) {
  EXPECT_NE(ParseError("nonsense").find("unknown fault"), std::string::npos);
  ParseError("reject,op=format");
  ParseError("reject,frame=0");
  ParseError("reject,times=-1");
  ParseError("reject,colour=red");
  ParseError("reject,frame");
  ParseError("bad-checksum,ms=5");       // no time to take
  ParseError("delay-ack,bytes=5");       // no byte count
  ParseError("bad-checksum,at=any");     // fixed site
  ParseError("reject,at=reply-frame");   // not one of its sites
}

TEST(FaultSpecs, EveryKindIsListedAndParses) {
  const std::string list = FaultListText();
  for (const auto& info : AllFaults()) {
    EXPECT_NE(list.find(std::string(info.name) + "\n"), std::string::npos) << info.name;
    EXPECT_EQ(Parse(info.name).kind, info.kind);
  }
}

TEST(FaultPlans, MatchSitesAndCountFirings) {
  FaultPlan plan;
  plan.Add(Parse("reject,op=upload,segment=2,frame=1,times=2"));
  plan.Add(Parse("silent"));
  const SiteRef seg1{Operation::kUpload, Site::kFrameAck, 1, 1};
  const SiteRef seg2{Operation::kUpload, Site::kFrameAck, 2, 1};
  const SiteRef download{Operation::kDownload, Site::kFrameAck, 2, 1};
  EXPECT_EQ(plan.Take(seg1, {FaultKind::kReject}), nullptr);
  EXPECT_EQ(plan.Take(download, {FaultKind::kReject}), nullptr);
  EXPECT_NE(plan.Take(seg2, {FaultKind::kReject}), nullptr);
  EXPECT_NE(plan.Take(seg2, {FaultKind::kReject}), nullptr);
  EXPECT_EQ(plan.Take(seg2, {FaultKind::kReject}), nullptr);  // used up
  // silent fires at any site, once.
  EXPECT_NE(plan.Take({Operation::kInfo, Site::kClosingUnit}, {FaultKind::kSilent}), nullptr);
  EXPECT_EQ(plan.Take({Operation::kInfo, Site::kClosingUnit}, {FaultKind::kSilent}), nullptr);
  const auto summary = plan.Summary();
  ASSERT_EQ(summary.size(), 2u);
  EXPECT_EQ(summary[0], "fault reject,op=upload,segment=2,frame=1,times=2: fired 2 of 2");
  EXPECT_EQ(summary[1], "fault silent: fired 1 of 1");
}

TEST(FaultPlans, ADefaultSiteIsTheKindsFirst) {
  FaultPlan plan;
  plan.Add(Parse("reject"));
  EXPECT_EQ(plan.Take({Operation::kUpload, Site::kPollAnswer}, {FaultKind::kReject}), nullptr);
  EXPECT_NE(plan.Take({Operation::kUpload, Site::kFrameAck, 1, 4}, {FaultKind::kReject}), nullptr);
}

bool ParseArgs(std::vector<std::string> args, SimConfig& config, std::string& error) {
  return ParseCommandLine(args, config, error);
}

TEST(CommandLine, TakesLoopbackAddressesOnly) {
  SimConfig c;
  std::string error;
  ASSERT_TRUE(ParseArgs({"--store", "s", "--tcp", "127.3.4.5"}, c, error)) << error;
  EXPECT_EQ(FormatTcpAddress(*c.tcp), "127.3.4.5:1200");
  ASSERT_TRUE(ParseArgs({"--store=s", "--tcp=127.0.0.1:0"}, c, error)) << error;
  EXPECT_EQ(c.tcp->port, 0);
  for (const char* bad : {"10.0.6.10", "0.0.0.0", "128.0.0.1", "127.0.0.1:70000", "127.0.0",
                          "127.0.0.1:", "localhost"}) {
    SimConfig d;
    EXPECT_FALSE(ParseArgs({"--store", "s", "--tcp", bad}, d, error)) << bad;
  }
}

TEST(CommandLine, DefaultsAndRequirements) {
  SimConfig c;
  std::string error;
  EXPECT_FALSE(ParseArgs({}, c, error));
  EXPECT_NE(error.find("--store"), std::string::npos);
  ASSERT_TRUE(ParseArgs({"--store", "s"}, c, error));
  EXPECT_EQ(FormatTcpAddress(*c.tcp), "127.0.0.1:1200");
  EXPECT_EQ(c.info, DefaultInfoRecord());
  SimConfig p;
  ASSERT_TRUE(ParseArgs({"--store", "s", "--pty", "/tmp/x"}, p, error));
  EXPECT_FALSE(p.tcp) << "a pty alone listens on no TCP address";
  EXPECT_FALSE(ParseArgs({"--store", "s", "--baud", "0"}, p, error));
  EXPECT_FALSE(ParseArgs({"--store", "s", "--idle-timeout", "x"}, p, error));
  EXPECT_FALSE(ParseArgs({"--store", "s", "--fault", "nonsense"}, p, error));
  EXPECT_FALSE(ParseArgs({"--store", "s", "--bogus"}, p, error));
  EXPECT_FALSE(ParseArgs({"--store"}, p, error));
}

TEST(CommandLine, InfoLinesBecomeWindows1251WithCrLf) {
  SimConfig c;
  std::string error;
  ASSERT_TRUE(ParseArgs({"--store", "s", "--info-line", "Ёж 5%", "--info-line", "b"}, c, error));
  EXPECT_EQ(c.info, "\xA8\xE6 5%\r\nb\r\n");
  EXPECT_FALSE(ParseArgs({"--store", "s", "--info-line", "€"}, c, error));
}

TEST(Text1251, ConvertsCyrillicAndRefusesTheRest) {
  EXPECT_EQ(Utf8To1251("АЯая№ёЁ"), std::string("\xC0\xDF\xE0\xFF\xB9\xB8\xA8"));
  EXPECT_FALSE(Utf8To1251("\xC3"));      // cut short
  EXPECT_FALSE(Utf8To1251("\xFF"));      // not UTF-8
  EXPECT_FALSE(Utf8To1251("\xE2\x82\xAC"));  // € has no Windows-1251 byte here
  const std::string info = DefaultInfoRecord();
  EXPECT_NE(info.find("\xD1\xE2\xEE\xE1\xEE\xE4\xED\xEE: 95%\r\n"), std::string::npos);
  EXPECT_EQ(info.substr(info.size() - 2), "\r\n");
}

TEST(StoreNames, RefuseAnythingThatLeavesTheFolder) {
  EXPECT_EQ(CheckName("a.txt"), NameCheck::kOk);
  EXPECT_EQ(CheckName("\xCF\xF0\xEE\xE3.prg"), NameCheck::kOk);  // Windows-1251 letters
  EXPECT_EQ(CheckName("a b.txt"), NameCheck::kOk);
  EXPECT_EQ(CheckName(""), NameCheck::kEmpty);
  EXPECT_EQ(CheckName("sub/a"), NameCheck::kSeparator);
  EXPECT_EQ(CheckName("sub\\a"), NameCheck::kSeparator);
  EXPECT_EQ(CheckName(".."), NameCheck::kDotDot);
  EXPECT_EQ(CheckName("."), NameCheck::kDotDot);
  EXPECT_EQ(CheckName("a..b"), NameCheck::kDotDot);
  EXPECT_EQ(CheckName("a\tb"), NameCheck::kControl);
  EXPECT_EQ(CheckName(".plcsim-part-abc"), NameCheck::kReserved);
  EXPECT_EQ(CheckName(std::string(253, 'n')), NameCheck::kOk);
  EXPECT_EQ(CheckName(std::string(254, 'n')), NameCheck::kTooLong);
}

TEST(Store, ListsFilesOnlyAndKeepsHalfFilesOutOfSight) {
  TempDir dir("plcsim-store");
  WriteFileBytes(dir / ".plcsim-part-old", "left by a killed run");
  WriteFileBytes(dir / "b", "1");
  WriteFileBytes(dir / "a", "2");
  fs::create_directory(dir / "d");
  fs::create_symlink("/etc/passwd", dir / "link");

  FileStore store(dir.Str());
  EXPECT_FALSE(fs::exists(dir / ".plcsim-part-old")) << "leftovers go at start";
  EXPECT_EQ(store.List(), (std::vector<std::string>{"a", "b"}));
  EXPECT_FALSE(store.OpenForRead("link")) << "links are not followed out of the store";
  EXPECT_FALSE(store.OpenForRead("d"));
  EXPECT_EQ(store.Delete("d"), FileStore::DeleteResult::kMissing);

  {
    auto incoming = store.BeginIncoming();
    ASSERT_TRUE(incoming);
    const std::uint8_t data[] = {'x', 'y'};
    ASSERT_TRUE(incoming->Append(data));
    EXPECT_EQ(store.List().size(), 2u) << "not visible while being written";
  }
  EXPECT_EQ(store.RemoveTemporaries(), 0u) << "an abandoned file is removed at once";

  auto incoming = store.BeginIncoming();
  const std::uint8_t data[] = {'x', 'y'};
  incoming->Append(data);
  ASSERT_TRUE(incoming->Commit("a"));
  EXPECT_EQ(cabrix::test::ReadFileBytes(dir / "a"), "xy");
  EXPECT_EQ(store.List(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(store.Delete("a"), FileStore::DeleteResult::kDeleted);
  EXPECT_EQ(store.Delete("a"), FileStore::DeleteResult::kMissing);
  EXPECT_EQ(store.Delete("../b"), FileStore::DeleteResult::kFailed);
}

// Appended data is gathered and written in one go: the file under a name holds every byte
// appended before its commit, and until then the older file of that name stays whole.
TEST(Store, ANamedFileHoldsEverythingAppendedBeforeIt) {
  TempDir dir("plcsim-store");
  FileStore store(dir.Str());
  WriteFileBytes(dir / "p", "older");
  const std::uint8_t one[] = {'1', '2'}, two[] = {'3'};
  {
    auto incoming = store.BeginIncoming();
    ASSERT_TRUE(incoming);
    ASSERT_TRUE(incoming->Append(one) && incoming->Flush() && incoming->Append(two));
    EXPECT_EQ(cabrix::test::ReadFileBytes(dir / "p"), "older");
  }
  EXPECT_EQ(cabrix::test::ReadFileBytes(dir / "p"), "older") << "an abandoned write";
  {
    auto incoming = store.BeginIncoming();
    ASSERT_TRUE(incoming->Append(one) && incoming->Flush() && incoming->Append(two));
    ASSERT_TRUE(incoming->Commit("p"));
    EXPECT_FALSE(incoming->Commit("p")) << "once only";
  }
  EXPECT_EQ(cabrix::test::ReadFileBytes(dir / "p"), "123");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1)
      << "no temporary file stays";
  const std::vector<std::uint8_t> big(200 * 1024, 0x5A);
  auto incoming = store.BeginIncoming();
  ASSERT_TRUE(incoming->Append(big));
  ASSERT_TRUE(incoming->Append(two));
  ASSERT_TRUE(incoming->Commit("q"));
  EXPECT_EQ(fs::file_size(dir / "q"), big.size() + 1);
}

}  // namespace
}  // namespace plcsim
