// Progress for a program that runs a console program hidden (the front end): when it asks by
// CABRIX_PROGRESS=1 in the environment, every transfer is also told as report lines on standard
// error, besides all the console program writes anyway:
//   cabrix-progress: start <k> <n> <size>      file k of the n in the command line begins; size
//                                              in bytes, or "-" when not known in advance (a read)
//   cabrix-progress: bytes <k> <done> <seg>    done bytes of file k have gone, in seg segments
//   cabrix-progress: end <k> ok|failed         file k is over
// Each is one ASCII line ending in CR LF. A file is named by its place in the list, never by its
// name, so no name bytes reach a report. Byte reports come at most every kProgressReportMs; the
// last count of a file is always reported before its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "ops/observer.h"

namespace cabrix {

inline constexpr char kProgressVariable[] = "CABRIX_PROGRESS";
inline constexpr std::int64_t kProgressReportMs = 250;

// True when the environment asks for progress reports (CABRIX_PROGRESS=1, that value alone).
bool ProgressReportsAsked();

// Passes every event on to the observer it wraps and, when enabled, reports it as well.
class CProgressReporter : public COperationObserver {
 public:
  using Sink = std::function<void(std::string_view line)>;
  using Clock = std::function<std::int64_t()>;  // milliseconds, any steady origin

  // count: the files of the command line. An empty sink writes to standard error; an empty
  // clock is the steady clock.
  CProgressReporter(COperationObserver& inner, std::size_t count, bool enabled, Sink sink = {},
                    Clock clock = {});

  // The next transfer is file k (1-based) of the list. Without it, each start is the file after
  // the one before.
  void FileAt(std::size_t k) { m_next = k; }
  // A file that ends without a transfer (a delete): start and end, told at once.
  void FileDone(std::size_t k, bool done);

  void FileStarts(TransferKind kind, std::string_view name) override;
  void Progress(const TransferProgress& progress) override;
  void FileEnds(TransferKind kind, std::string_view name, bool done) override;
  void Message(MessageKind kind, std::string_view textCp1251) override;

 private:
  void Write(const char* format, ...);
  void ReportBytes();
  // The file's start line, once.
  void Start(std::optional<std::uint64_t> size);

  COperationObserver& m_inner;
  std::size_t m_count;
  bool m_enabled;
  Sink m_sink;
  Clock m_clock;
  std::size_t m_next = 1;
  std::size_t m_file = 0;
  std::uint64_t m_done = 0;
  std::uint64_t m_segments = 0;
  bool m_started = false;
  bool m_told = true;  // the last count has been reported
  std::optional<std::int64_t> m_lastMs;
};

}  // namespace cabrix
