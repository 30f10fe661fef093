#include <gtest/gtest.h>

#include "ops/download_link.h"
#include "ops/exchange.h"
#include "ops/upload_link.h"

namespace cabrix {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint64_t Blocks(const UploadPlan& plan) {
  std::uint64_t blocks = 0;
  for (std::uint64_t s = 1; s <= plan.segments; ++s) blocks += (plan.BlockPayload(s) + 127) / 128;
  return blocks;
}

TEST(UploadPlan, SmallFilesTravelInTheHeaderFrame) {
  const UploadPlan abc = UploadPlan::For(3, 6);  // a.txt
  EXPECT_TRUE(abc.wholeInHeader);
  EXPECT_EQ(abc.segments, 0u);
  EXPECT_EQ(abc.headerData, 3u);
  EXPECT_TRUE(UploadPlan::For(0, 6).wholeInHeader);
  EXPECT_TRUE(UploadPlan::For(116, 6).wholeInHeader);  // 6 + 6 + 116 = 128
  const UploadPlan oneMore = UploadPlan::For(117, 6);
  EXPECT_FALSE(oneMore.wholeInHeader);
  EXPECT_EQ(oneMore.segments, 1u);
  EXPECT_EQ(oneMore.headerData, 116u);
  EXPECT_EQ(oneMore.BlockPayload(1), 1u);
}

TEST(UploadPlan, SegmentsOf4500Bytes) {
  const UploadPlan plan = UploadPlan::For(9000, 6);
  EXPECT_EQ(plan.segments, 2u);
  EXPECT_EQ(plan.BlockPayload(1), 4384u);  // 35 blocks, numbered 2 to 36
  EXPECT_EQ((plan.BlockPayload(1) + 127) / 128, 35u);
  EXPECT_EQ(plan.SegmentBytes(2), 4500u);
  EXPECT_EQ(plan.BlockPayload(2), 4504u);  // 36 blocks behind the 30 01 94 11 header
  EXPECT_EQ(Blocks(plan), 71u);
  EXPECT_EQ(UploadPlan::For(4500, 6).segments, 1u);
  EXPECT_EQ(UploadPlan::For(4501, 6).SegmentBytes(2), 1u);
}

TEST(UploadPlan, ManySegmentsOvershootTheProgressTotal) {
  const UploadPlan plan = UploadPlan::For(10 * 4500, 6);
  EXPECT_EQ(Blocks(plan), 359u);
  EXPECT_EQ(plan.fileLength / 128 + 1, 352u);
}

TEST(NameOfPath, CutsAtTheLastBackslashOrSlash) {
  EXPECT_EQ(NameOfPath("C:\\Data\\a.txt"), "a.txt");
  EXPECT_EQ(NameOfPath("/tmp/x\\sub/b.bin"), "b.bin");
  EXPECT_EQ(NameOfPath("plain"), "plain");
}

}  // namespace
}  // namespace cabrix
