#include <gtest/gtest.h>

#include "cmdline/switches.h"

namespace cabrix {
namespace {

using A = platform::Ipv4Address;

TEST(TcpArg, ReadsFourNumbersLikeScanf) {
  EXPECT_EQ(ParseTcpArg("/TCP10.0.6.10"), (A{10, 0, 6, 10}));
  EXPECT_EQ(ParseTcpArg("/TCP10.0.6.10:1200"), (A{10, 0, 6, 10}));
  EXPECT_EQ(ParseTcpArg("/TCP300.1.2.3"), (A{44, 1, 2, 3}));
  EXPECT_EQ(ParseTcpArg("/TCP 127. 0.0.-1"), (A{127, 0, 0, 255}));
  for (const char* bad : {"/TCP", "/TCP10.0.6", "/TCP10..6.10", "/TCPx", "/TCP10 .0.6.10"}) {
    EXPECT_FALSE(ParseTcpArg(bad).has_value()) << bad;
  }
}

TEST(ScanDecimal, ReadsLikeTheCLibrary) {
  std::size_t pos = 0;
  EXPECT_EQ(ScanDecimal("12x", pos), 12);
  EXPECT_EQ(pos, 2u);
  pos = 0;
  EXPECT_EQ(ScanDecimal("  -1", pos), -1);
  pos = 0;
  EXPECT_EQ(ScanDecimal("+7", pos), 7);
  for (const char* bad : {"", "x", "-", " +", "."}) {
    pos = 0;
    EXPECT_FALSE(ScanDecimal(bad, pos).has_value()) << bad;
    EXPECT_EQ(pos, 0u);
  }
}

}  // namespace
}  // namespace cabrix
