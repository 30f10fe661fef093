#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>

#include "link/link_error.h"
#include "ops/command_link.h"
#include "ops/download_link.h"
#include "ops/exchange.h"
#include "ops/upload_link.h"
#include "scripted_channel.h"
#include "text/messages.h"

namespace cabrix {
namespace {

using test::Bytes;
using test::ScriptedChannel;
namespace fs = std::filesystem;

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

// The exchanges over the scripted channel. The trace (scripted_channel.h) is what the PC did;
// runs of frames numbered one after the other are shown as F<first>-<last>.

const COutcome kDone{};
COutcome LinkFailed(int code) { return {OutcomeKind::kLinkFailed, code}; }
const COutcome kNameTooLong{OutcomeKind::kNameTooLong};

Bytes Ack(std::uint16_t code, std::uint16_t number) {
  const PlcAck ack(code, number);
  return Bytes(ack.bytes().begin(), ack.bytes().end());
}

// A frame as the controller sends it, header and payload as two units; `length` is the header's
// (the payload's size unless given).
void GiveFrame(ScriptedChannel& ch, std::uint16_t number, std::uint8_t last, const Bytes& payload,
               std::optional<std::size_t> length = std::nullopt) {
  const std::size_t announced = length.value_or(payload.size());
  Bytes frame{0xAA,
              0xAA,
              static_cast<std::uint8_t>(announced),
              0,
              static_cast<std::uint8_t>(number),
              static_cast<std::uint8_t>(number >> 8),
              0,
              last};
  frame.insert(frame.end(), payload.begin(), payload.end());
  frame[6] = WireChecksum(frame);
  ch.Give(Bytes(frame.begin(), frame.begin() + 8));
  ch.Give(Bytes(frame.begin() + 8, frame.end()));
}

void GiveEndMarker(ScriptedChannel& ch) { GiveFrame(ch, 1, 1, {0, 0}); }

std::string Trace(const ScriptedChannel& ch) {
  std::string out;
  std::size_t i = 0;
  const auto frameNumber = [&](std::size_t at) {
    const std::string& e = ch.trace[at];
    return e[0] == 'F' ? std::stoi(e.substr(1)) : -1;
  };
  while (i < ch.trace.size()) {
    std::size_t j = i;
    while (frameNumber(i) >= 0 && j + 1 < ch.trace.size() &&
           frameNumber(j + 1) == frameNumber(j) + 1)
      ++j;
    if (!out.empty()) out += ' ';
    out += ch.trace[i];
    if (j > i + 1) out += "-" + ch.trace[j].substr(1);
    if (j == i + 1) out += " " + ch.trace[j];
    i = j + 1;
  }
  return out;
}

struct RecordingObserver : COperationObserver {
  void FileStarts(TransferKind, std::string_view name) override {
    events.push_back("start " + std::string(name));
  }
  void Progress(const TransferProgress&) override {}
  void FileEnds(TransferKind, std::string_view, bool done) override {
    events.push_back(done ? "end ok" : "end failed");
  }
  void Message(MessageKind kind, std::string_view text) override {
    events.push_back((kind == MessageKind::kAlert ? "alert " : "line ") + std::string(text));
  }
  std::vector<std::string> events;
};

class OpsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("cabrix-ops-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  std::string Path(const std::string& name) const { return (m_dir / name).string(); }
  void Put(const std::string& name, const std::string& data) const {
    std::ofstream(m_dir / name, std::ios::binary) << data;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(m_dir / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::set<std::string> Files() const {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(m_dir)) names.insert(e.path().filename().string());
    return names;
  }

  fs::path m_dir;
};

// The controller's side of the closing exchange of a write: the status after the end of data,
// the second read, and a poll answered ready.
void GiveClosing(ScriptedChannel& ch) {
  ch.Give(Bytes(8, 0));
  ch.Give(Bytes(8, 0));
  ch.Give(Ack(kAckAccepted, 1));
}

void AcceptFrames(ScriptedChannel& ch, int first, int last) {
  for (int n = first; n <= last; ++n) ch.Give(Ack(kAckAccepted, static_cast<std::uint16_t>(n)));
}

TEST_F(OpsTest, UploadFrameByFrame) {
  struct Row {
    const char* what;
    std::string name;
    std::size_t length;
    std::function<void(ScriptedChannel&)> script;
    COutcome outcome;
    std::string trace;
  };
  const std::string longName(kMaxUploadName + 1, 'n');
  const Row rows[] = {
      {"the whole file in the file-header frame", "a.txt", 3,
       [](ScriptedChannel& ch) {
         AcceptFrames(ch, 1, 1);
         GiveClosing(ch);
       },
       kDone, "open F1 A10/0 flush A10/1 close"},
      {"a rejected frame is sent again", "a.txt", 3,
       [](ScriptedChannel& ch) {
         ch.Give(Ack(kAckRejected, 1));
         ch.Give(Bytes{0, 0, 10, 0, 1, 0});  // no sync: no acceptance either
         AcceptFrames(ch, 1, 1);
         GiveClosing(ch);
       },
       kDone, "open F1 F1 F1 A10/0 flush A10/1 close"},
      {"an acceptance of another number uses up an attempt, the fourth sending is the last",
       "a.txt", 3,
       [](ScriptedChannel& ch) {
         for (int i = 0; i < 4; ++i) ch.Give(Ack(kAckAccepted, 2));
       },
       LinkFailed(kLinkBadReply), "open F1 F1 F1 F1 close"},
      {"a reply of 5 bytes ends the write at once", "a.txt", 3,
       [](ScriptedChannel& ch) {
         ch.Give(Bytes{0x55, 0x55, 10, 0, 1});
       },
       LinkFailed(kLinkBadReply), "open F1 close"},
      {"a time-out in the middle of the file", "a.txt", 200,
       [](ScriptedChannel& ch) {
         AcceptFrames(ch, 1, 1);
         ch.Fail(kLinkNoData);
       },
       LinkFailed(kLinkNoData), "open F1 F2 close"},
      {"two segments, the poll repeated until the controller is ready", "a.txt", 4501,
       [](ScriptedChannel& ch) {
         AcceptFrames(ch, 1, 36);
         ch.Give(Bytes(8, 0));
         ch.Give(Bytes(2, 0));
         ch.Give(Ack(kAckRejected, 1));
         ch.Give(Ack(kAckAccepted, 1));
         AcceptFrames(ch, 1, 1);
         GiveClosing(ch);
       },
       kDone, "open F1-36 flush A10/0 A10/1 A10/1 F1 A10/0 flush A10/1 close"},
      {"a short status after the end of data", "a.txt", 3,
       [](ScriptedChannel& ch) {
         AcceptFrames(ch, 1, 1);
         ch.Give(Bytes(7, 0));
       },
       LinkFailed(kLinkBadReply), "open F1 A10/0 close"},
      {"a PC file that cannot be opened", "", 0, [](ScriptedChannel&) {}, COutcome{OutcomeKind::kPcFileFailed, kLinkPcFileOpen},
       "open close"},
      {"a name too long for the file-header frame is refused before anything", longName, 0,
       [](ScriptedChannel&) {}, kNameTooLong, ""},
      {"a port that cannot be had", "a.txt", 3,
       [](ScriptedChannel& ch) { ch.FailOpen(kLinkCannotOpen); }, LinkFailed(kLinkCannotOpen), "open"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string name = row.name.empty() ? "missing.txt" : row.name;
    if (!row.name.empty() && row.length > 0) Put(name, std::string(row.length, 'x'));
    ScriptedChannel ch;
    row.script(ch);
    RecordingObserver observer;
    EXPECT_EQ(CUploadLink(observer).Upload(ch, Path(name)), row.outcome);
    EXPECT_EQ(Trace(ch), row.trace);
    EXPECT_TRUE(ch.Exhausted());
    if (ch.opened) {
      EXPECT_EQ(ch.opened->readConstant, 7000u);
    }
    const bool started = row.trace.find('F') != std::string::npos;
    EXPECT_EQ(observer.events.size(), started ? 2u : row.trace.empty() ? 1u : 0u);
    if (started) {
      EXPECT_EQ(observer.events.back(), row.outcome.Done() ? "end ok" : "end failed");
    }
  }
}

TEST_F(OpsTest, UploadPutsFileAndSegmentBytesWhereTheyBelong) {
  Put("a.txt", "abc");
  ScriptedChannel ch;
  AcceptFrames(ch, 1, 1);
  GiveClosing(ch);
  RecordingObserver observer;
  CUploadLink(observer).Upload(ch, Path("a.txt"));
  EXPECT_EQ(ch.written[0],
            (Bytes{0xAA, 0xAA, 0x0F, 0x00, 0x01, 0x00, 0xB2, 0x01, 0x2F, 0x00, 0x03, 0x00,
                   0x06, 0x00, 0x61, 0x2E, 0x74, 0x78, 0x74, 0x00, 0x61, 0x62, 0x63}));

  std::string data(4501, 0);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  Put("b.txt", data);
  ScriptedChannel two;
  AcceptFrames(two, 1, 36);
  two.Give(Bytes(8, 0));
  two.Give(Bytes(2, 0));
  two.Give(Ack(kAckAccepted, 1));
  AcceptFrames(two, 1, 1);
  GiveClosing(two);
  CUploadLink(observer).Upload(two, Path("b.txt"));
  std::string sent(two.written[0].begin() + 20, two.written[0].end());  // after the name area
  for (int k = 1; k <= 35; ++k) sent.append(two.written[k].begin() + 8, two.written[k].end());
  const Bytes& later = two.written[38];
  EXPECT_EQ(Bytes(later.begin() + 8, later.begin() + 12), (Bytes{0x30, 0x01, 0x01, 0x00}));
  sent.append(later.begin() + 12, later.end());
  EXPECT_EQ(sent, data);
}

// The first frame of a segment: the 6-byte segment header with the more flag, the data and, in
// the segment's last frame, one trailing byte.
Bytes SegmentStart(std::uint8_t more, const std::string& data, bool last) {
  Bytes payload{0, 0, more, 0, 0, 0};
  payload.insert(payload.end(), data.begin(), data.end());
  if (last) payload.push_back(0);
  return payload;
}

TEST_F(OpsTest, DownloadFrameByFrame) {
  struct Row {
    const char* what;
    std::function<void(ScriptedChannel&)> script;
    COutcome result;
    std::string trace;
    std::string file;  // what the target holds afterwards ("-": there is none)
    RequestRepeat repeat = RequestRepeat::kAtOnce;
    std::string name = "a.txt";
  };
  const auto accepted = [](ScriptedChannel& ch) { ch.Give(Ack(kAckAccepted, 1)); };
  const COutcome kPcFileNotCreated{OutcomeKind::kPcFileFailed, kLinkPcFileCreate};
  const Row rows[] = {
      {"one frame",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 1, SegmentStart(0, "abc", true));
       },
       kDone, "open flush F1 A10/0 A10/1 close", "abc"},
      {"two segments, the segment confirmed at the second reply",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 1, SegmentStart(1, "abc", true));
         ch.Give(Ack(kAckRejected, 1));
         ch.Give(Ack(kAckAccepted, 1));
         ch.Give(Ack(kAckAccepted, 1));  // the next-segment request
         GiveFrame(ch, 1, 0, SegmentStart(0, "de", false));
         GiveFrame(ch, 2, 1, {'f', 'g', 0});
       },
       kDone, "open flush F1 A10/0 A10/1 A10/1 F1 A10/0 A10/1 A10/2 close", "abcdefg"},
      {"the request sent again after the reset prompt",
       [&](ScriptedChannel& ch) {
         ch.Give(Ack(kAckRejected, 0));
         accepted(ch);
         GiveFrame(ch, 1, 1, SegmentStart(0, "abc", true));
       },
       kDone, "open flush F1 flush F1 A10/0 A10/1 close", "abc",
       RequestRepeat::kAfterResetPrompt},
      {"a request never accepted: the third reply is not examined",
       [](ScriptedChannel& ch) {
         for (int i = 0; i < 3; ++i) ch.Give(Ack(i < 2 ? kAckRejected : kAckAccepted, 0));
       },
       LinkFailed(kLinkCallFailed), "open flush F1 flush F1 flush F1 close", "-"},
      {"the end marker: no such file",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveEndMarker(ch);
       },
       COutcome{OutcomeKind::kNoSuchFile}, "open flush F1 A10/0 close", "-"},
      {"a frame shorter than its length is rejected and its repetition taken",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 1, SegmentStart(0, "abc", true), 11);
         GiveFrame(ch, 1, 1, SegmentStart(0, "abc", true));
       },
       kDone, "open flush F1 A10/0 drain A20/1 A10/1 close", "abc"},
      {"a frame longer than its length likewise",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 1, SegmentStart(0, "abc", true), 9);
         GiveFrame(ch, 1, 1, SegmentStart(0, "abc", true));
       },
       kDone, "open flush F1 A10/0 drain A20/1 A10/1 close", "abc"},
      {"a time-out in the middle of the file",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 0, SegmentStart(0, "abc", false));
         ch.Fail(kLinkNoData);
       },
       LinkFailed(kLinkNoData), "open flush F1 A10/0 A10/1 close", "-"},
      {"a first frame too short for its segment header",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 1, {0, 0, 0, 0, 0, 0});
       },
       LinkFailed(kLinkCallFailed), "open flush F1 A10/0 A10/1 close", "-"},
      {"a frame out of its order",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 0, SegmentStart(0, "abc", false));
         GiveFrame(ch, 3, 1, {'x', 'y', 0});
       },
       LinkFailed(kLinkCallFailed), "open flush F1 A10/0 A10/1 A10/3 close", "-"},
      {"a PC file that cannot be created", [&](ScriptedChannel& ch) { accepted(ch); },
       kPcFileNotCreated, "open flush F1 close", "-", RequestRepeat::kAtOnce,
       "no\\such\\folder.txt"},
      {"a port that cannot be had", [](ScriptedChannel& ch) { ch.FailOpen(kLinkCannotOpen); },
       LinkFailed(kLinkCannotOpen), "open", "-"},
      {"a name too long for the read request", [](ScriptedChannel&) {}, kNameTooLong, "",
       "-", RequestRepeat::kAtOnce, std::string(kMaxReadName + 1, 'n')},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (const bool tcp : {false, true}) {
      fs::remove_all(m_dir);
      fs::create_directories(m_dir);
      ScriptedChannel ch(tcp);
      row.script(ch);
      const bool closes = row.result.Done();
      if (tcp && closes) ch.Give(Ack(kAckAccepted, 0));  // the closing message
      RecordingObserver observer;
      std::vector<std::chrono::milliseconds> pauses;
      CDownloadLink link(row.name, Path(row.name), observer);
      link.m_pauseAfterReset = [&](std::chrono::milliseconds wait) { pauses.push_back(wait); };
      EXPECT_EQ(link.Download(ch, row.repeat), row.result);
      std::string trace = row.trace;
      if (tcp && closes) trace.insert(trace.size() - 6, " closing");
      EXPECT_EQ(Trace(ch), trace);
      EXPECT_TRUE(ch.Exhausted());
      if (ch.opened) {
        EXPECT_EQ(ch.opened->readConstant, 20000u);
      }
      if (row.file == "-") {
        EXPECT_EQ(Files(), std::set<std::string>{}) << "no target, no temporary file";
      } else {
        EXPECT_EQ(Get(row.name), row.file);
        EXPECT_EQ(Files(), std::set<std::string>{row.name});
      }
      const bool prompted = row.repeat == RequestRepeat::kAfterResetPrompt;
      EXPECT_EQ(pauses.size(), prompted ? 1u : 0u);
      const auto alerts =
          std::count_if(observer.events.begin(), observer.events.end(),
                        [](const std::string& e) { return e.starts_with("alert"); });
      EXPECT_EQ(alerts, prompted || row.result == kPcFileNotCreated ? 1 : 0);
    }
  }
}

TEST_F(OpsTest, CommandFrameByFrame) {
  struct Row {
    const char* what;
    std::function<void(ScriptedChannel&)> script;
    COutcome outcome;
    std::string trace;
    std::string text;
  };
  const auto accepted = [](ScriptedChannel& ch) { ch.Give(Ack(kAckAccepted, 1)); };
  const Bytes preamble(7, 'p');
  const auto withPreamble = [&](const std::string& text) {
    Bytes payload = preamble;
    payload.insert(payload.end(), text.begin(), text.end());
    return payload;
  };
  const Row rows[] = {
      {"a reply of one frame",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 1, withPreamble(std::string("abc\0", 4)));
       },
       kDone, "open flush F1 flush A10/0 A10/1 close", std::string("abc\0", 4)},
      {"two frames, the last one without its terminator",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 0, withPreamble("ab"));
         GiveFrame(ch, 2, 1, {'c', 'd', 0});
       },
       kDone, "open flush F1 flush A10/0 A10/1 A10/2 close", "abcd"},
      {"a bad checksum is rejected, the repetition adds its text once",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         ch.Give(Bytes{0xAA, 0xAA, 10, 0, 1, 0, 0x00, 1});
         ch.Give(withPreamble(std::string("ab\0", 3)));
         GiveFrame(ch, 1, 1, withPreamble(std::string("ab\0", 3)));
       },
       kDone, "open flush F1 flush A10/0 drain A20/1 A10/1 close", std::string("ab\0", 3)},
      {"a frame the controller sent again adds no text",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveFrame(ch, 1, 0, withPreamble("ab"));
         GiveFrame(ch, 1, 0, withPreamble("ab"));
         GiveFrame(ch, 2, 1, {'c', 'd', 0});
       },
       kDone, "open flush F1 flush A10/0 A10/1 A10/1 A10/2 close", "abcd"},
      {"a rejection where a header belongs repeats the last acknowledgement",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         ch.Give(Ack(kAckRejected, 0));
         GiveFrame(ch, 1, 1, withPreamble("x"));
       },
       kDone, "open flush F1 flush A10/0 A10/0 A10/1 close", "x"},
      {"the end marker",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         GiveEndMarker(ch);
         ch.Give(Ack(10, 1));
       },
       kDone, "open flush F1 flush A10/0 A10/1 close!", ""},
      {"a time-out before the reply: the channel is left to the caller",
       [&](ScriptedChannel& ch) {
         accepted(ch);
         ch.Fail(kLinkNoData);
       },
       LinkFailed(kLinkNoData), "open flush F1 flush A10/0", ""},
      {"a port that cannot be had", [](ScriptedChannel& ch) { ch.FailOpen(kLinkCannotOpen); },
       LinkFailed(kLinkCannotOpen), "open", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    for (const bool tcp : {false, true}) {
      ScriptedChannel ch(tcp);
      row.script(ch);
      const bool closing = tcp && row.trace.ends_with(" close");
      if (closing) ch.Give(Ack(kAckAccepted, 0));
      RecordingObserver observer;
      CCommandLink link(observer);
      ASSERT_TRUE(link.BuildCommandFrame("PLCInfo"));
      EXPECT_EQ(link.Run(ch), row.outcome);
      std::string trace = row.trace;
      if (closing) trace.insert(trace.size() - 6, " closing");
      EXPECT_EQ(Trace(ch), trace);
      EXPECT_TRUE(ch.Exhausted());
      EXPECT_EQ(link.m_text, row.text);
      EXPECT_TRUE(link.m_request.empty()) << "released on every path";
      EXPECT_TRUE(observer.events.empty());
    }
  }
}

}  // namespace
}  // namespace cabrix
