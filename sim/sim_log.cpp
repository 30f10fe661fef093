#include "sim_log.h"

#include <chrono>
#include <ctime>

namespace plcsim {

std::string Hex(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(bytes.size() * 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) s += ' ';
    s += kDigits[bytes[i] >> 4];
    s += kDigits[bytes[i] & 0x0F];
  }
  return s;
}

SimLog::~SimLog() {
  if (m_file) std::fclose(m_file);
}

bool SimLog::Open(const std::string& path) {
  if (m_file) std::fclose(m_file);
  m_file = std::fopen(path.c_str(), "w");
  return m_file != nullptr;
}

// The hex text costs more than the exchange itself: it is made only when a line is kept.
void SimLog::Received(std::span<const std::uint8_t> bytes) {
  if (!m_file && !m_capture) return;
  Line("recv", std::to_string(bytes.size()) + ": " + Hex(bytes), false);
}

void SimLog::Sent(std::span<const std::uint8_t> bytes) {
  if (!m_file && !m_capture) return;
  Line("send", std::to_string(bytes.size()) + ": " + Hex(bytes), false);
}

void SimLog::Note(std::string_view text) { Line("note", text, false); }
void SimLog::Problem(std::string_view text) { Line("PROBLEM", text, m_echo); }
void SimLog::Fault(std::string_view text) { Line("FAULT", text, false); }

void SimLog::Line(std::string_view kind, std::string_view text, bool echo) {
  if (!m_file && !m_capture && !echo) return;
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  std::tm tm{};
  ::localtime_r(&t, &tm);
  char stamp[64];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                static_cast<int>(ms.count()));
  std::string line = stamp;
  line += ' ';
  if (!m_tag.empty()) {
    line += '[';
    line += m_tag;
    line += "] ";
  }
  line += kind;
  line += ' ';
  line += text;
  line += '\n';
  if (m_file) {
    std::fwrite(line.data(), 1, line.size(), m_file);
    std::fflush(m_file);
  }
  if (m_capture) *m_capture += line;
  if (echo) {
    const std::string shortLine = "plcsim: " + std::string(text) + "\n";
    std::fwrite(shortLine.data(), 1, shortLine.size(), stderr);
  }
}

}  // namespace plcsim
