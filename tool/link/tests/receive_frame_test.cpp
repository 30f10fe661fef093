#include <gtest/gtest.h>

#include "link/link_error.h"
#include "link/receive_frame.h"
#include "scripted_channel.h"

namespace cabrix {
namespace {

using test::Bytes;
using test::ScriptedChannel;

// A reply frame as the controller sends it: header (checksum over AA AA) and payload.
std::pair<Bytes, Bytes> ReplyFrame(std::uint16_t number, std::uint8_t last, Bytes payload,
                                   std::uint8_t sync = 0xAA) {
  Bytes frame{0xAA, 0xAA, static_cast<std::uint8_t>(payload.size()), 0,
              static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8), 0, last};
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame[6] = WireChecksum(frame);
  frame[0] = sync;
  frame[1] = sync;
  return {Bytes(frame.begin(), frame.begin() + 8), Bytes(frame.begin() + 8, frame.end())};
}

ReplyAcks ControllerAcks() {
  ReplyAcks acks;
  acks.ack = PlcAck(kAckAccepted, 1);
  return acks;
}

TEST(ReceiveFrame, AcceptsAGoodFrameAndAcknowledgesItsNumber) {
  ScriptedChannel ch;
  auto [header, payload] = ReplyFrame(3, 1, {'a', 'b', 'c', 0});
  ch.Give(header);
  ch.Give(payload);
  ReplyAcks acks = ControllerAcks();
  const ReceivedFrame frame = ReceiveFrame(ch, acks);
  EXPECT_FALSE(frame.endMarker);
  EXPECT_EQ(frame.number, 3);
  EXPECT_EQ(frame.last, 1);
  EXPECT_EQ(Bytes(frame.data().begin(), frame.data().end()), (Bytes{'a', 'b', 'c', 0}));
  ASSERT_EQ(ch.written.size(), 1u);
  EXPECT_EQ(ch.written[0], (Bytes{0x55, 0x55, 10, 0, 3, 0}));
  EXPECT_EQ(acks.lastFrameAck, acks.ack);
}

TEST(ReceiveFrame, CountsAaAaWhateverSyncArrived) {
  ScriptedChannel ch;
  auto [header, payload] = ReplyFrame(1, 0, {1, 2, 3, 4, 5}, 0x00);
  ch.Give(header);
  ch.Give(payload);
  ReplyAcks acks = ControllerAcks();
  ReceiveFrame(ch, acks);
  EXPECT_EQ(ch.written.back()[2], 10);
}

TEST(ReceiveFrame, RejectsABadChecksumAndTakesTheRepetitionOnce) {
  ScriptedChannel ch;
  auto [header, payload] = ReplyFrame(2, 0, {'x', 'y', 'z'});
  Bytes bad = header;
  bad[6] ^= 0xFF;
  ch.Give(bad);
  ch.Give(payload);
  ch.Give(header);
  ch.Give(payload);
  ReplyAcks acks = ControllerAcks();
  const ReceivedFrame frame = ReceiveFrame(ch, acks);
  EXPECT_EQ(frame.size, 3u);
  ASSERT_EQ(ch.written.size(), 2u);
  EXPECT_EQ(ch.written[0], (Bytes{0x55, 0x55, 20, 0, 2, 0}));
  EXPECT_EQ(ch.written[1], (Bytes{0x55, 0x55, 10, 0, 2, 0}));
  EXPECT_TRUE(ch.Exhausted());
}

// The payload read stopped early and the bytes that did not come were zeros: the sum over what
// arrived matches, but the header's length does not, so the frame is not taken.
TEST(ReceiveFrame, AFrameCutShortIsRejectedEvenWhenItsSumMatches) {
  ScriptedChannel ch;
  auto [header, payload] = ReplyFrame(4, 1, {'d', 'a', 't', 'a', 0, 0, 0, 0});
  ch.Give(header);
  ch.Give(Bytes(payload.begin(), payload.begin() + 4));
  ch.Give(header);
  ch.Give(payload);
  ReplyAcks acks = ControllerAcks();
  const ReceivedFrame frame = ReceiveFrame(ch, acks);
  EXPECT_EQ(frame.size, 8u);
  ASSERT_EQ(ch.written.size(), 2u);
  EXPECT_EQ(ch.written[0], (Bytes{0x55, 0x55, 20, 0, 4, 0}));
  EXPECT_EQ(ch.written[1], (Bytes{0x55, 0x55, 10, 0, 4, 0}));
}

TEST(ReceiveFrame, AFrameThatNeverPassesItsChecksumEndsTheExchange) {
  ScriptedChannel ch;
  auto [header, payload] = ReplyFrame(1, 0, {'x', 'y', 'z'});
  header[6] ^= 0x01;
  for (int i = 0; i < 25; ++i) {
    ch.Give(header);
    ch.Give(payload);
  }
  ReplyAcks acks = ControllerAcks();
  try {
    ReceiveFrame(ch, acks);
    FAIL();
  } catch (const CLinkError& e) {
    EXPECT_EQ(e.Code(), kLinkCallFailed);
  }
  EXPECT_EQ(ch.written.size(), 20u);  // twenty rejections, then the receiver gives up
}

TEST(ReceiveFrame, TwoBytePayloadIsAnEndMarkerWithoutAnyAnswer) {
  ScriptedChannel ch;
  auto [header, payload] = ReplyFrame(1, 1, {0, 0});  // its checksum would even match
  ch.Give(header);
  ch.Give(payload);
  ReplyAcks acks = ControllerAcks();
  const ReceivedFrame frame = ReceiveFrame(ch, acks);
  EXPECT_TRUE(frame.endMarker);
  EXPECT_TRUE(ch.written.empty());
}

TEST(ReceiveFrame, CodeTwentyInPlaceOfAHeaderRepeatsTheLastAcknowledgement) {
  ScriptedChannel ch;
  ReplyAcks acks = ControllerAcks();
  acks.ack.set_number(7);
  ch.Give({0x55, 0x55, 20, 0, 7, 0});
  auto [header, payload] = ReplyFrame(8, 0, {9, 9, 9});
  ch.Give(header);
  ch.Give(payload);
  ReceiveFrame(ch, acks);
  ASSERT_EQ(ch.written.size(), 2u);
  EXPECT_EQ(ch.written[0], (Bytes{0x55, 0x55, 10, 0, 7, 0}));
}

TEST(ReceiveFrame, OtherShortUnitsUseUpAnAttempt) {
  ScriptedChannel ch;
  ch.Give({0x55, 0x55, 10, 0, 1, 0});  // code 10: ignored
  ch.Give({1, 2, 3});
  ch.Give({4, 5, 6, 7, 8, 9, 10, 11});  // a third read is made, and is one too many
  ReplyAcks acks = ControllerAcks();
  try {
    ReceiveFrame(ch, acks);
    FAIL() << "no failure";
  } catch (const CLinkError& e) {
    EXPECT_EQ(e.Code(), kLinkCallFailed);
  }
  EXPECT_TRUE(ch.written.empty());
}

TEST(ReceiveFrame, AGoodHeaderOnTheThirdReadIsTooLate) {
  ScriptedChannel ch;
  ch.Give({1});
  ch.Give({0x55, 0x55, 20, 0, 0, 0});
  auto [header, payload] = ReplyFrame(1, 1, {1, 2, 3, 4, 5, 6, 7, 0});
  ch.Give(header);
  ch.Give(payload);
  ReplyAcks acks = ControllerAcks();
  EXPECT_THROW(ReceiveFrame(ch, acks), CLinkError);
  // The re-send request on the second read was still answered.
  EXPECT_EQ(ch.written.size(), 1u);
}

TEST(ReceiveFrame, ATimeOutPassesItsCodeThrough) {
  ScriptedChannel ch;
  ch.Fail(kLinkNoData);
  ReplyAcks acks = ControllerAcks();
  try {
    ReceiveFrame(ch, acks);
    FAIL();
  } catch (const CLinkError& e) {
    EXPECT_EQ(e.Code(), kLinkNoData);
  }
}

}  // namespace
}  // namespace cabrix
