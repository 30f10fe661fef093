#include <gtest/gtest.h>

#include "driver/tool_job.h"
#include "link/link_error.h"
#include "ops/exchange.h"

namespace cabrix {
namespace {

CToolJob Read(const std::vector<std::string>& args) {
  CToolJob job("Apr 13 2007  10:37:37");
  ReadArguments(job, args);
  return job;
}

TEST(Arguments, SwitchesMatchExactlyOrByPrefixAndCaseMatters) {
  const CToolJob job =
      Read({"/dir", "/inf", "/TCP10.0.6.10", "/COM2x", "/DIR", "/Up", "/tcp1.2.3.4", "/get", "a"});
  EXPECT_TRUE(job.m_dir);
  EXPECT_TRUE(job.m_info);
  EXPECT_EQ(job.m_tcpArg, "/TCP10.0.6.10");
  EXPECT_EQ(job.m_comPort, 2);
  EXPECT_EQ(job.m_action, ACTION_NONE);
  EXPECT_EQ(job.m_files, (std::vector<std::string>{"/DIR", "/Up", "/tcp1.2.3.4", "/get", "a"}));
}

TEST(Arguments, TheLastOfASwitchWins) {
  const CToolJob job = Read({"/up", "/TCP1.1.1.1", "/dn", "/COM3", "/COM-1", "/TCP"});
  EXPECT_EQ(job.m_action, ACTION_DOWNLOAD);
  EXPECT_EQ(job.m_tcpArg, "/TCP");
  EXPECT_EQ(job.m_comPort, -1);
  EXPECT_EQ(Read({"/dn", "/del"}).m_action, ACTION_DELETE);
  EXPECT_EQ(Read({"/COM0"}).m_comPort, 0);
  EXPECT_EQ(Read({"/COM 7"}).m_comPort, 7);
}

TEST(Arguments, AComSwitchWithoutANumberEndsTheRunAtOnce) {
  for (const char* bad : {"/COM", "/COMx", "/COM-"}) {
    CToolJob job("t");
    try {
      ReadArguments(job, {bad, "/COM5", "/up"});
      FAIL() << bad;
    } catch (const CRunEnd& end) {
      EXPECT_EQ(end.status, kStatusBadCommandLine);
    }
    EXPECT_EQ(job.m_comPort, 0) << "later arguments are not looked at";
    EXPECT_EQ(job.m_action, ACTION_NONE);
  }
}

TEST(Arguments, FolderGetsItsBackslash) {
  EXPECT_EQ(Read({"/FLDRC:\\Data"}).m_folder, "C:\\Data\\");
  EXPECT_EQ(Read({"/FLDRC:"}).m_folder, "C:\\");
  EXPECT_EQ(Read({"/FLDRC:\\Data\\"}).m_folder, "C:\\Data\\");
  EXPECT_EQ(Read({"/FLDR\"/tmp/x\"\""}).m_folder, "/tmp/x\\");
  EXPECT_EQ(Read({"/FLDRC:\\a", "/FLDR"}).m_folder, "C:\\a\\");
  EXPECT_EQ(Read({"/FLDRC:\\a", "/FLDR\"\"\""}).m_folder, "C:\\a\\");
  const CToolJob blank = Read({"/FLDR", "C:\\My Data"});
  EXPECT_EQ(blank.m_folder, "");
  EXPECT_EQ(blank.m_files, (std::vector<std::string>{"C:\\My Data"}));
}

TEST(ListStep, TheOutcomeOfAFileDecidesTheWalk) {
  using enum ListStep;
  struct Row {
    COutcome outcome;
    ListStep uploadSerial, uploadTcp, downloadSerial, downloadTcp;
  };
  const Row rows[] = {
      {{OutcomeKind::kDone}, kNext, kNext, kNext, kNext},
      {{OutcomeKind::kNoSuchFile}, kEndAtFile, kEndAtFile, kEndAtFile, kEndAtFile},
      {{OutcomeKind::kRefused}, kPassOver, kFallBack, kEndAtFile, kPassOver},
      {{OutcomeKind::kNameTooLong}, kPassOver, kFallBack, kEndAtFile, kPassOver},
      {{OutcomeKind::kPcFileFailed, kLinkPcFileOpen}, kEndAtFile, kEndAtFile, kEndAtFile,
       kEndAtFile},
      {{OutcomeKind::kPcFileFailed, kLinkPcFileCreate}, kPassOver, kFallBack, kEndLinkFailed,
       kPassOver},
      {{OutcomeKind::kPcFileFailed, kTransferPcFileIo}, kPassOver, kFallBack, kEndAtFile,
       kPassOver},
      {{OutcomeKind::kLinkFailed, kLinkNoData}, kEndLinkFailed, kEndLinkFailed, kEndLinkFailed,
       kEndLinkFailed},
      {{OutcomeKind::kLinkFailed, kLinkCannotOpen}, kEndLinkFailed, kEndLinkFailed,
       kEndLinkFailed, kEndLinkFailed},
      {{OutcomeKind::kLinkFailed, kLinkCallFailed}, kEndLinkFailed, kEndLinkFailed,
       kEndLinkFailed, kEndLinkFailed},
      {{OutcomeKind::kLinkFailed, kLinkBadReply}, kPassOver, kFallBack, kEndAtFile, kPassOver},
      {{OutcomeKind::kLinkFailed, kLinkSetStateFailed}, kPassOver, kFallBack, kEndAtFile,
       kPassOver},
      {{OutcomeKind::kStopped}, kPassOver, kFallBack, kEndAtFile, kPassOver},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(row.outcome.kind) << " " << row.outcome.code);
    EXPECT_EQ(ListStepOf(TransferList::kUploadSerial, row.outcome), row.uploadSerial);
    EXPECT_EQ(ListStepOf(TransferList::kUploadTcp, row.outcome), row.uploadTcp);
    EXPECT_EQ(ListStepOf(TransferList::kDownloadSerial, row.outcome), row.downloadSerial);
    EXPECT_EQ(ListStepOf(TransferList::kDownloadTcp, row.outcome), row.downloadTcp);
  }
}

}  // namespace
}  // namespace cabrix
