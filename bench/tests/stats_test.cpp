// The arithmetic the benchmark's ratios rest on: medians, the wire count from a plcsim log, and
// the JSON text.
#include <gtest/gtest.h>

#include "stats.h"

namespace bench {
namespace {

TEST(Median, OddEvenAndEmpty) {
  EXPECT_DOUBLE_EQ(Median({3, 1, 2}), 2);
  EXPECT_DOUBLE_EQ(Median({4, 1, 3, 2}), 2.5);
  EXPECT_DOUBLE_EQ(Median({}), 0);
}

TEST(CountWireBytes, CountsUnitsEachWayAndIgnoresOtherLines) {
  const std::string log =
      "2024-01-01 10:00:00.000 note read of f.bin, 300 bytes\n"
      "2024-01-01 10:00:00.001 recv 136: AA AA 80 00\n"
      "2024-01-01 10:00:00.002 send 6: 55 55 0A 00 01 00\n"
      "2024-01-01 10:00:00.003 [tcp] recv 6: 55 55 0A 00 00 00\n"
      "2024-01-01 10:00:00.004 PROBLEM a note that says recv 12 without a colon\n"
      "2024-01-01 10:00:00.005 send 10: 55 55 0A 00 01 00 00 00 00 00";  // no final newline
  const WireCount c = CountWireBytes(log);
  EXPECT_EQ(c.toController, 142u);
  EXPECT_EQ(c.unitsToController, 2u);
  EXPECT_EQ(c.fromController, 16u);
  EXPECT_EQ(c.unitsFromController, 2u);
  EXPECT_DOUBLE_EQ(LineSeconds(c, 11520), 158.0 / 11520);
}

TEST(Json, EscapesAndKeepsOrder) {
  JsonObject o;
  o.Add("b", 1.5).Add("a", "x\"y\\z\n").AddRaw("n", JsonObject().Add("k", 2).Text());
  EXPECT_EQ(o.Text(), R"({"b": 1.5, "a": "x\"y\\z\u000a", "n": {"k": 2}})");
}

}  // namespace
}  // namespace bench
