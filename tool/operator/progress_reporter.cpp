#include "operator/progress_reporter.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cabrix {

bool ProgressReportsAsked() {
  const char* value = std::getenv(kProgressVariable);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

CProgressReporter::CProgressReporter(COperationObserver& inner, std::size_t count, bool enabled,
                                     Sink sink, Clock clock)
    : m_inner(inner), m_count(count), m_enabled(enabled), m_sink(std::move(sink)),
      m_clock(std::move(clock)) {
  if (!m_sink) {
    m_sink = [](std::string_view line) {
      std::fwrite(line.data(), 1, line.size(), stderr);
      std::fflush(stderr);
    };
  }
  if (!m_clock) {
    m_clock = [] {
      return std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
          .count();
    };
  }
}

void CProgressReporter::Write(const char* format, ...) {
  char line[128];
  std::va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0 && static_cast<std::size_t>(n) < sizeof line) {
    m_sink(std::string_view(line, static_cast<std::size_t>(n)));
  }
}

void CProgressReporter::FileDone(std::size_t k, bool done) {
  if (!m_enabled) return;
  Write("cabrix-progress: start %zu %zu -\r\n", k, m_count);
  Write("cabrix-progress: end %zu %s\r\n", k, done ? "ok" : "failed");
  m_next = k + 1;
}

void CProgressReporter::FileStarts(TransferKind kind, std::string_view name) {
  m_inner.FileStarts(kind, name);
  m_file = m_next++;
  m_done = 0;
  m_segments = 0;
  m_started = false;
  m_told = true;
  m_lastMs.reset();
  // A write's length comes with its first progress; a read's is not known before its end.
  if (kind == TransferKind::kRead) Start(std::nullopt);
}

void CProgressReporter::Start(std::optional<std::uint64_t> size) {
  if (!m_enabled || m_started) return;
  m_started = true;
  if (size) {
    Write("cabrix-progress: start %zu %zu %llu\r\n", m_file, m_count,
          static_cast<unsigned long long>(*size));
  } else {
    Write("cabrix-progress: start %zu %zu -\r\n", m_file, m_count);
  }
}

void CProgressReporter::Progress(const TransferProgress& progress) {
  m_inner.Progress(progress);
  if (!m_enabled || m_file == 0) return;
  Start(progress.bytesInAll);
  if (progress.bytesDone == m_done && progress.segments == m_segments && m_lastMs) return;
  m_done = progress.bytesDone;
  m_segments = progress.segments;
  const std::int64_t now = m_clock();
  if (m_lastMs && now - *m_lastMs < kProgressReportMs) {
    m_told = false;  // told later, or at the file's end
    return;
  }
  m_lastMs = now;
  ReportBytes();
}

void CProgressReporter::ReportBytes() {
  Write("cabrix-progress: bytes %zu %llu %llu\r\n", m_file, static_cast<unsigned long long>(m_done),
        static_cast<unsigned long long>(m_segments));
  m_told = true;
}

void CProgressReporter::FileEnds(TransferKind kind, std::string_view name, bool done) {
  m_inner.FileEnds(kind, name, done);
  if (!m_enabled || m_file == 0) return;
  Start(std::nullopt);  // a transfer that ended before its first progress
  if (!m_told) ReportBytes();
  Write("cabrix-progress: end %zu %s\r\n", m_file, done ? "ok" : "failed");
  m_file = 0;
}

void CProgressReporter::Message(MessageKind kind, std::string_view textCp1251) {
  m_inner.Message(kind, textCp1251);
}

}  // namespace cabrix
