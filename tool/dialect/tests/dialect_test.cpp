#include <gtest/gtest.h>

#include "dialect/dialect.h"
#include "link/link_error.h"
#include "ops/exchange.h"

namespace cabrix::dialect {
namespace {

TEST(DialectCommandLine, ReadsTheFrontEndsFiveCommandLines) {
  auto get = ParseCommandLine({"/TCP10.0.6.10", "/FLDRC:\\Data", "/get", "prog.txt"});
  ASSERT_TRUE(get);
  EXPECT_EQ(get->action, Action::kGet);
  EXPECT_EQ(*get->tcp, (platform::Ipv4Address{10, 0, 6, 10}));
  EXPECT_EQ(get->folder, "C:\\Data\\");
  EXPECT_EQ(get->names, (std::vector<std::string>{"prog.txt"}));

  auto put = ParseCommandLine({"/COM1", "/FLDR/tmp/x", "/up", "a b.txt"});
  ASSERT_TRUE(put);
  EXPECT_EQ(put->comPort, 1);
  EXPECT_FALSE(put->tcp);
  EXPECT_EQ(put->folder, "/tmp/x\\");

  auto del = ParseCommandLine({"/COM3", "/del", "/dir"});  // a name that looks like a switch
  ASSERT_TRUE(del);
  EXPECT_EQ(del->names, (std::vector<std::string>{"/dir"}));
  EXPECT_EQ(ParseCommandLine({"/TCP127.0.0.1", "/dir"})->action, Action::kDir);
  EXPECT_EQ(ParseCommandLine({"/TCP127.0.0.1", "/info"})->action, Action::kInfo);
}

TEST(DialectCommandLine, RefusesWhatItCannotCarryOut) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"/dir"},                              // no link
      {"/TCP1.2.3.4", "/COM2", "/dir"},      // two links
      {"/TCP1.2.3", "/dir"},                 // fewer than four numbers
      {"/COM", "/dir"},
      {"/COM0", "/dir"},
      {"/TCP1.2.3.4"},                       // no action
      {"/TCP1.2.3.4", "/inf"},               // unknown switch
      {"/TCP1.2.3.4", "a.txt"},
      {"/TCP1.2.3.4", "/dir", "a.txt"},      // the listing takes no names
      {"/TCP1.2.3.4", "/get"},               // nothing to read
  };
  for (const auto& args : bad) {
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_FALSE(ParseCommandLine(args).has_value()) << joined;
  }
}

TEST(DialectFileStatus, TheOutcomeOfAFileDecidesTheRun) {
  struct Row {
    COutcome outcome;
    Status expected;
  };
  const Row rows[] = {
      {{OutcomeKind::kDone}, kDone},
      {{OutcomeKind::kNoSuchFile}, kReadFailedOne},
      {{OutcomeKind::kRefused}, kNameTooLong},
      {{OutcomeKind::kNameTooLong}, kNameTooLong},
      {{OutcomeKind::kPcFileFailed, kLinkPcFileCreate}, kPcFileFailed},
      {{OutcomeKind::kPcFileFailed, kTransferPcFileIo}, kPcFileFailed},
      {{OutcomeKind::kLinkFailed, kLinkSetStateFailed}, kLinkFailed},  // a line not to be set up
      {{OutcomeKind::kLinkFailed, kLinkCannotOpen}, kLinkFailed},
      {{OutcomeKind::kLinkFailed, kLinkBadReply}, kReadFailedOne},  // costs the file alone
      {{OutcomeKind::kStopped}, kReadFailedOne},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(FileStatusOf(row.outcome, kReadFailedOne), row.expected)
        << static_cast<int>(row.outcome.kind) << " " << row.outcome.code;
  }
  EXPECT_EQ(FileStatusOf({OutcomeKind::kNoSuchFile}, kWriteFailedOne), kWriteFailedOne);
}

}  // namespace
}  // namespace cabrix::dialect
