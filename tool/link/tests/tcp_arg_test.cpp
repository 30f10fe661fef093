#include <gtest/gtest.h>

#include "link/tcp_arg.h"

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

}  // namespace
}  // namespace cabrix
