#include "stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

namespace {

// The count N after `kind` in "... recv N: AA AA ...", or -1 when the line is not one.
long long UnitBytes(std::string_view line, std::string_view kind) {
  const auto at = line.find(kind);
  if (at == std::string_view::npos) return -1;
  std::size_t i = at + kind.size();
  long long n = 0;
  bool digits = false;
  while (i < line.size() && line[i] >= '0' && line[i] <= '9') {
    n = n * 10 + (line[i] - '0');
    ++i;
    digits = true;
  }
  if (!digits || i >= line.size() || line[i] != ':') return -1;
  return n;
}

}  // namespace

WireCount CountWireBytes(std::string_view log) {
  WireCount count;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t end = log.find('\n', start);
    if (end == std::string_view::npos) end = log.size();
    const std::string_view line = log.substr(start, end - start);
    if (const auto n = UnitBytes(line, " recv "); n >= 0) {
      count.toController += static_cast<std::uint64_t>(n);
      ++count.unitsToController;
    } else if (const auto m = UnitBytes(line, " send "); m >= 0) {
      count.fromController += static_cast<std::uint64_t>(m);
      ++count.unitsFromController;
    }
    start = end + 1;
  }
  return count;
}

double LineSeconds(const WireCount& count, double bytesPerSecond) {
  return double(count.Total()) / bytesPerSecond;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(c));
      out += esc;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

JsonObject& JsonObject::Add(std::string_view key, double value) {
  char text[64];
  if (!std::isfinite(value)) {
    std::snprintf(text, sizeof text, "null");
  } else {
    std::snprintf(text, sizeof text, "%.6g", value);
  }
  return AddRaw(key, text);
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view value) {
  return AddRaw(key, JsonString(value));
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  m_fields.push_back(JsonString(key) + ": " + std::string(json));
  return *this;
}

std::string JsonObject::Text() const {
  std::string out = "{";
  for (std::size_t i = 0; i < m_fields.size(); ++i) {
    out += i ? ", " : "";
    out += m_fields[i];
  }
  return out + "}";
}

}  // namespace bench
