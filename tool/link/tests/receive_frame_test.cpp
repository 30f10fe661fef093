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
  EXPECT_EQ(ch.drains, (std::vector<std::size_t>{0}));
}

// The payload read and what becomes of the frame, by what the header's length says and what
// arrives. A rejected frame is sent again whole, and that repetition is taken.
struct PayloadCase {
  const char* name;
  std::size_t payload;       // the frame's payload, its length field unless `lengthField` is set
  int lengthField;           // -1: the payload's size
  std::size_t sent;          // how many payload bytes come (more: the rest are 0x5A)
  bool stray;                // 4 more bytes come late, before the line goes quiet
  bool badChecksum;
  std::vector<std::size_t> asked;  // header read, payload read
  enum { kAccepted, kEndMarker, kRejected } outcome;
};

void PrintTo(const PayloadCase& c, std::ostream* os) { *os << c.name; }

class PayloadRead : public ::testing::TestWithParam<PayloadCase> {};

TEST_P(PayloadRead, IsSizedFromTheLengthAndTakesOnlyAWholeFrame) {
  const PayloadCase& c = GetParam();
  Bytes data(c.payload);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i + 1);
  auto [header, payload] = ReplyFrame(5, 0, data);
  if (c.lengthField >= 0) {  // a controller's length that says otherwise, checksum made over it
    header[2] = static_cast<std::uint8_t>(c.lengthField);
    header[3] = static_cast<std::uint8_t>(c.lengthField >> 8);
    header[6] = static_cast<std::uint8_t>(header[6] - ByteSum16(static_cast<std::uint16_t>(c.payload)) +
                                          ByteSum16(static_cast<std::uint16_t>(c.lengthField)));
  }
  Bytes sent = payload;
  sent.resize(c.sent, 0x5A);
  Bytes badHeader = header;
  if (c.badChecksum) badHeader[6] ^= 0x01;
  ScriptedChannel ch;
  ch.Give(badHeader);
  ch.Give(sent);
  if (c.stray) ch.GiveStray({0xAA, 0xAA, 0x10, 0x00});
  const auto [goodHeader, goodPayload] = ReplyFrame(5, 0, Bytes(5, 7));
  ch.Give(goodHeader);
  ch.Give(goodPayload);

  ReplyAcks acks = ControllerAcks();
  const ReceivedFrame frame = ReceiveFrame(ch, acks);
  EXPECT_EQ(std::vector<std::size_t>(ch.asked.begin(), ch.asked.begin() + 2), c.asked);
  switch (c.outcome) {
    case PayloadCase::kAccepted:
      EXPECT_FALSE(frame.endMarker);
      EXPECT_EQ(Bytes(frame.data().begin(), frame.data().end()), data);
      EXPECT_EQ(ch.written, (std::vector<Bytes>{{0x55, 0x55, 10, 0, 5, 0}}));
      EXPECT_TRUE(ch.drains.empty());
      break;
    case PayloadCase::kEndMarker:
      EXPECT_TRUE(frame.endMarker);
      EXPECT_TRUE(ch.written.empty());
      break;
    case PayloadCase::kRejected:
      // The line is drained before the rejection goes out, so the repetition's header is read
      // as a header.
      EXPECT_EQ(frame.size, 5u);
      EXPECT_EQ(ch.written,
                (std::vector<Bytes>{{0x55, 0x55, 20, 0, 5, 0}, {0x55, 0x55, 10, 0, 5, 0}}));
      EXPECT_EQ(ch.drains, (std::vector<std::size_t>{0}));
      EXPECT_TRUE(ch.Exhausted());
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    ReceiveFrame, PayloadRead,
    ::testing::Values(
        PayloadCase{"ShortFrame", 5, -1, 5, false, false, {8, 5}, PayloadCase::kAccepted},
        PayloadCase{"FullFrame", 128, -1, 128, false, false, {8, 128}, PayloadCase::kAccepted},
        PayloadCase{"ThreeBytes", 3, -1, 3, false, false, {8, 3}, PayloadCase::kAccepted},
        // A length of 2 or less could be an end marker's: read as ever.
        PayloadCase{"OneByte", 1, -1, 1, false, false, {8, 128}, PayloadCase::kAccepted},
        PayloadCase{"TwoBytes", 2, -1, 2, false, false, {8, 128}, PayloadCase::kEndMarker},
        PayloadCase{"EndMarkerWithALongLength", 40, -1, 2, false, false, {8, 40},
                    PayloadCase::kEndMarker},
        PayloadCase{"CutShort", 40, -1, 20, false, false, {8, 40}, PayloadCase::kRejected},
        PayloadCase{"MoreThanItsLength", 5, -1, 9, false, false, {8, 5}, PayloadCase::kRejected},
        PayloadCase{"MoreThan128", 128, -1, 140, false, false, {8, 128}, PayloadCase::kRejected},
        PayloadCase{"LengthAbove128", 128, 200, 200, false, false, {8, 128},
                    PayloadCase::kRejected},
        PayloadCase{"LengthZero", 0, -1, 6, false, false, {8, 128}, PayloadCase::kRejected},
        PayloadCase{"BadChecksumWithLateBytes", 5, -1, 5, true, true, {8, 5},
                    PayloadCase::kRejected}),
    [](const ::testing::TestParamInfo<PayloadCase>& info) { return info.param.name; });

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
