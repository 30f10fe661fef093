#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include "link/link_error.h"
#include "link/plc_link.h"

namespace cabrix {
namespace {

class CTestLink : public CPlcLink {
 public:
  platform::StopEvent& StopEventForTest() { return m_stopEvent; }
};

TEST(PlcLink, ASignalledStopEventFailsTheNextCallWithoutTouchingThePort) {
  CTestLink link;
  platform::SerialPort closed;  // a read on it would fail with 10
  std::uint8_t buffer[8];
  link.StopEventForTest().Set();
  try {
    link.ReadSerial(closed, buffer);
    FAIL();
  } catch (const CLinkError& e) {
    EXPECT_EQ(e.Code(), kLinkStopped);
  }
  // Auto-reset: the next call reaches the port.
  try {
    link.ReadSerial(closed, buffer);
    FAIL();
  } catch (const CLinkError& e) {
    EXPECT_EQ(e.Code(), kLinkCallFailed);
  }
  link.StopEventForTest().Set();
  platform::TcpSocket socket;
  try {
    link.SendTcp(socket, std::span<const std::uint8_t>(buffer, 1));
    FAIL();
  } catch (const CLinkError& e) {
    EXPECT_EQ(e.Code(), kLinkStopped);
  }
}

TEST(PlcLink, APortThatDoesNotExistFailsWithEight) {
  CTestLink link;
  for (int port : {0, -1}) {
    try {
      link.OpenSerial(port);
      FAIL() << port;
    } catch (const CLinkError& e) {
      EXPECT_EQ(e.Code(), kLinkCannotOpen);
    }
  }
}

}  // namespace
}  // namespace cabrix
