// The small pieces of arithmetic and text the benchmark's figures come from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// The median of the values (the mean of the middle two for an even count); 0 for none.
double Median(std::vector<double> values);

// The bytes that crossed the line in one exchange, counted from a plcsim log: its "recv N:" and
// "send N:" lines, one per unit.
struct WireCount {
  std::uint64_t toController = 0;    // frames and acknowledgements the PC sent
  std::uint64_t fromController = 0;  // what the controller sent
  std::uint64_t unitsToController = 0;
  std::uint64_t unitsFromController = 0;
  std::uint64_t Total() const { return toController + fromController; }
};
WireCount CountWireBytes(std::string_view log);

// The time a serial line of `bytesPerSecond` needs for `count` bytes, one direction after the
// other (a stop-and-wait exchange never overlaps them).
double LineSeconds(const WireCount& count, double bytesPerSecond);

// A flat JSON object built field by field, in the order given.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, double value);
  JsonObject& Add(std::string_view key, std::string_view value);
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  std::string Text() const;

 private:
  std::vector<std::string> m_fields;
};

std::string JsonString(std::string_view text);

}  // namespace bench
