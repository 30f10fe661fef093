// The progress reports the front end asks for: what an operation's events become on the wire.
#include "operator/progress_reporter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cabrix {
namespace {

// Records what reaches the wrapped observer.
class CSeen : public COperationObserver {
 public:
  void FileStarts(TransferKind, std::string_view name) override { events.push_back("starts " + std::string(name)); }
  void Progress(const TransferProgress& p) override { events.push_back("progress " + std::to_string(p.bytesDone)); }
  void FileEnds(TransferKind, std::string_view, bool done) override { events.push_back(done ? "ends ok" : "ends failed"); }
  void Message(MessageKind, std::string_view text) override { events.push_back("message " + std::string(text)); }
  std::vector<std::string> events;
};

struct Rig {
  explicit Rig(bool enabled, std::size_t count = 2)
      : reporter(seen, count, enabled, [this](std::string_view l) { lines.emplace_back(l); },
                 [this] { return now; }) {}
  void Step(TransferKind kind, std::uint64_t done, std::optional<std::uint64_t> all, std::int64_t atMs,
            std::uint64_t segments = 1) {
    now = atMs;
    TransferProgress p;
    p.kind = kind;
    p.name = "\xD0\xE5\xF6\xE5\xEF\xF2 \"x\".txt";
    p.bytesDone = done;
    p.bytesInAll = all;
    p.segments = segments;
    reporter.Progress(p);
  }
  CSeen seen;
  std::vector<std::string> lines;
  std::int64_t now = 0;
  CProgressReporter reporter;
};

const std::string kName = "\xD0\xE5\xF6\xE5\xEF\xF2 \"x\".txt";

TEST(ProgressReporter, ReportsInOrderRateLimitedEndingWithTheLastCount) {
  Rig rig(true);
  // A write of 1000 bytes, progress every 100 ms: reports 250 ms apart, the last count before the
  // end however soon it came.
  rig.reporter.FileStarts(TransferKind::kWrite, kName);
  for (int i = 1; i <= 10; ++i) rig.Step(TransferKind::kWrite, 100 * i, 1000, 100 * i);
  rig.reporter.FileEnds(TransferKind::kWrite, kName, true);
  // Then a read, placed by the caller at file 2, that fails after one report, and a delete.
  rig.reporter.FileAt(2);
  rig.reporter.FileStarts(TransferKind::kRead, kName);
  rig.Step(TransferKind::kRead, 128, std::nullopt, 5000, 1);
  rig.Step(TransferKind::kRead, 128, std::nullopt, 5010, 1);  // nothing moved: no report
  rig.reporter.FileEnds(TransferKind::kRead, kName, false);
  rig.reporter.FileDone(2, true);
  const std::vector<std::string> expected = {
      "cabrix-progress: start 1 2 1000\r\n", "cabrix-progress: bytes 1 100 1\r\n",
      "cabrix-progress: bytes 1 400 1\r\n",  "cabrix-progress: bytes 1 700 1\r\n",
      "cabrix-progress: bytes 1 1000 1\r\n", "cabrix-progress: end 1 ok\r\n",
      "cabrix-progress: start 2 2 -\r\n",    "cabrix-progress: bytes 2 128 1\r\n",
      "cabrix-progress: end 2 failed\r\n",   "cabrix-progress: start 2 2 -\r\n",
      "cabrix-progress: end 2 ok\r\n"};
  EXPECT_EQ(rig.lines, expected);
  for (const std::string& line : rig.lines) EXPECT_EQ(line.find('\xD0'), std::string::npos) << line;
  // Everything still reaches the wrapped observer.
  EXPECT_EQ(rig.seen.events.size(), 16u);
  EXPECT_EQ(rig.seen.events.front(), "starts " + kName);
}

TEST(ProgressReporter, NotAskedWritesNothingAndPassesEverythingOn) {
  Rig rig(false);
  rig.reporter.FileStarts(TransferKind::kWrite, kName);
  rig.Step(TransferKind::kWrite, 10, 10, 0);
  rig.reporter.Message(MessageKind::kLine, "text");
  rig.reporter.FileEnds(TransferKind::kWrite, kName, true);
  rig.reporter.FileDone(1, true);
  EXPECT_TRUE(rig.lines.empty());
  EXPECT_EQ(rig.seen.events,
            (std::vector<std::string>{"starts " + kName, "progress 10", "message text", "ends ok"}));
}

}  // namespace
}  // namespace cabrix
