#include <gtest/gtest.h>

#include <vector>

#include "wire/frame.h"

namespace cabrix {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Frame, CommandRequestsMatchTheWorkedExamples) {
  EXPECT_EQ(*BuildCommandRequest("PLCInfo"),
            (Bytes{0xAA, 0xAA, 0x0D, 0x00, 0x01, 0x00, 0x60, 0x01, 0x92, 0x00, 0x00, 0x00, 0x00,
                   0x50, 0x4C, 0x43, 0x49, 0x6E, 0x66, 0x6F, 0x00}));
  EXPECT_EQ(*BuildCommandRequest("filedir"),
            (Bytes{0xAA, 0xAA, 0x0D, 0x00, 0x01, 0x00, 0xD4, 0x01, 0x92, 0x00, 0x00, 0x00, 0x00,
                   0x66, 0x69, 0x6C, 0x65, 0x64, 0x69, 0x72, 0x00}));
  const Bytes del = *BuildCommandRequest("filedelete a.txt");
  EXPECT_EQ(del.size(), 30u);
  EXPECT_EQ(del[2], 22);
  EXPECT_EQ(del[3], 0);
  EXPECT_EQ(del[6], 0x20);
}

TEST(Frame, CommandTextLimitIsTheLengthByte) {
  EXPECT_TRUE(BuildCommandRequest(std::string(249, 'x')).has_value());
  EXPECT_EQ(BuildCommandRequest(std::string(249, 'x'))->at(2), 255);
  EXPECT_FALSE(BuildCommandRequest(std::string(250, 'x')).has_value());
}

TEST(Frame, ChecksumOfFieldsEqualsTheSumOfTheWireBytes) {
  EXPECT_EQ(ByteSum16(0x1234), 0x46);
  PlcFrame frame;
  InitFrame(frame);
  EXPECT_EQ(frame.length(), 128);
  EXPECT_EQ(frame.number(), 1);
  EXPECT_EQ(frame.last(), 0);
  frame.set_number(0x1FF);
  frame.set_length(100);
  frame.set_last(1);
  for (int i = 0; i < 100; ++i) frame.payload()[i] = static_cast<std::uint8_t>(i * 7 + 3);
  SetChecksum(frame, 100);
  EXPECT_EQ(frame.checksum(), WireChecksum(frame.wire()));

  PlcFrameExt ext;
  InitFrameExt(ext);
  EXPECT_EQ(ext.param3(), 10);
  ext.set_length(20);
  ext.set_param1(0x012F);
  ext.set_param2(4500);
  for (int i = 0; i < 14; ++i) ext.ext_payload()[i] = static_cast<std::uint8_t>(0xF0 + i);
  SetChecksumExt(ext, 14);
  EXPECT_EQ(ext.checksum(), WireChecksum(ext.wire()));
}

TEST(Frame, CopyFrameKeepsTheWorkingChecksum) {
  const std::uint8_t header[8] = {0x11, 0x22, 3, 0, 7, 0, 0x99, 1};
  const std::uint8_t payload[3] = {'a', 'b', 'c'};
  PlcFrame target;
  target.set_checksum(0x42);
  EXPECT_EQ(CopyFrame(target, header, payload, 3), 3);
  EXPECT_EQ(target.checksum(), 0x42);
  EXPECT_EQ(target.bytes()[0], 0x11);
  EXPECT_EQ(target.length(), 3);
  EXPECT_EQ(target.number(), 7);
  EXPECT_EQ(target.last(), 1);
  EXPECT_EQ(target.payload()[2], 'c');
}

TEST(Frame, FileRequestsMatchTheWorkedExamples) {
  EXPECT_EQ(BuildReadRequest("a.txt"), (Bytes{0xAA, 0xAA, 0x0A, 0x00, 0x01, 0x00, 0x86, 0x01, 0x31,
                                              0x00, 0x06, 0x00, 0x61, 0x2E, 0x74, 0x78, 0x74, 0x00}));
  EXPECT_EQ(BuildReadRequest("ab.txt"),
            (Bytes{0xAA, 0xAA, 0x0C, 0x00, 0x01, 0x00, 0xB9, 0x01, 0x31, 0x00, 0x08, 0x00, 0x61,
                   0x62, 0x2E, 0x74, 0x78, 0x74, 0x00, 0xCD}));
  EXPECT_EQ(BuildReadRequest(std::string(kMaxReadName, 'n'))[10], 254);
  const auto next = BuildNextSegmentRequest();
  EXPECT_EQ(Bytes(next.begin(), next.end()),
            (Bytes{0xAA, 0xAA, 0x01, 0x00, 0x01, 0x00, 0x89, 0x01, 0x32}));
}

TEST(Frame, NameAreaIsPaddedToAnEvenLength) {
  EXPECT_EQ(BuildNameArea("ab.txt"), (Bytes{0x61, 0x62, 0x2E, 0x74, 0x78, 0x74, 0x00, 0xCD}));
  EXPECT_EQ(BuildNameArea("a.txt"), (Bytes{0x61, 0x2E, 0x74, 0x78, 0x74, 0x00}));
}

}  // namespace
}  // namespace cabrix
