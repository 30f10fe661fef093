// Replies that the simulator never sends, from a scripted controller on the test's own loopback
// address: a download segment whose first frame is shorter than its segment header, a segment
// without a frame numbered 1, a frame sent twice and a frame left out.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <thread>
#include <vector>

#include "e2e/e2e_fixture.h"

namespace cabrix::e2e {
namespace {

// One listening socket on ADDRESS:1200 that serves one connection from a thread; every wait is
// bounded.
class ScriptedController {
 public:
  explicit ScriptedController(const std::string& address) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(test::kPlcPort);
    ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
    m_ok = ::bind(m_listen, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0 &&
           ::listen(m_listen, 1) == 0;
  }
  ~ScriptedController() {
    if (m_thread.joinable()) m_thread.join();
    if (m_listen >= 0) ::close(m_listen);
  }
  bool Listening() const { return m_ok; }

  // Serves one read: takes the request, accepts it, takes the go-ahead, sends each frame and
  // takes its acknowledgement, sends the closing unit when `closing`, then waits (bounded) for
  // the PC to close.
  void ServeRead(std::vector<std::string> frames, bool closing = false) {
    m_thread = std::thread([this, frames = std::move(frames), closing] {
      const int fd = Accept();
      if (fd < 0) return;
      Receive(fd, 64);
      Send(fd, "\x55\x55\x0A\x00\x01\x00"s);
      Receive(fd, 6);
      for (const std::string& frame : frames) {
        Send(fd, frame);
        if (Receive(fd, 6).size() != 6) break;
      }
      if (closing) Send(fd, "\x55\x55\x0A\x00\x00\x00"s);
      m_closedByPc = Receive(fd, 64, 8000).empty();
      ::close(fd);
    });
  }
  bool ClosedByPc() {
    if (m_thread.joinable()) m_thread.join();
    return m_closedByPc;
  }

 private:
  int Accept() {
    pollfd p{m_listen, POLLIN, 0};
    if (::poll(&p, 1, 10000) != 1) return -1;
    return ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
  }
  static std::string Receive(int fd, std::size_t most, int timeoutMs = 5000) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return "(time-out)";
    char buf[256];
    const ssize_t n = ::recv(fd, buf, std::min(most, sizeof buf), 0);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
  }
  static void Send(int fd, const std::string& bytes) {
    (void)::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  int m_listen = -1;
  bool m_ok = false;
  bool m_closedByPc = false;
  std::thread m_thread;
};

class ScriptedPeer : public E2eTest {
 protected:
  // A read that must fail: status 100, the connection ended by the PC, the PC file `a.txt` as it
  // was before (`kept`, or no file), and no temporary file left.
  void ExpectRefusedRead(ScriptedController& plc, const ToolRun& r,
                         const std::optional<std::string>& kept) {
    EXPECT_TRUE(r.ExitedWith(100)) << r.Describe();
    EXPECT_TRUE(plc.ClosedByPc());
    if (kept) {
      EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), *kept);
    } else {
      EXPECT_FALSE(fs::exists(Pc("a.txt")));
    }
    EXPECT_TRUE(TempFilesIn(m_pc.Path()).empty());
  }
};

TEST_F(ScriptedPeer, AFirstFrameShorterThanItsSegmentHeaderFailsTheTransfer) {
  ScriptedController plc(test::TestAddress());
  ASSERT_TRUE(plc.Listening());
  // Frame 1, last: 6 payload bytes, one short of header and trailing byte.
  plc.ServeRead({WithChecksum("\xAA\xAA\x06\x00\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"s)});
  test::WriteFileBytes(Pc("a.txt"), "kept");
  ExpectRefusedRead(plc, Run({"/TCP" + test::TestAddress(), FolderSwitch(), "/dn", "a.txt"}),
                    "kept");
}

TEST_F(ScriptedPeer, ASegmentWithoutAFrameNumberedOneFailsTheTransfer) {
  ScriptedController plc(test::TestAddress());
  ASSERT_TRUE(plc.Listening());
  plc.ServeRead({WithChecksum("\xAA\xAA\x0A\x00\x02\x00\x00\x01" "0123456789"s)});
  ExpectRefusedRead(plc, Run({"/TCP" + test::TestAddress(), FolderSwitch(), "/dn", "a.txt"}),
                    std::nullopt);
}

// Segment 1 of "abcde": frame 1 with the segment header (32, segment 1, no more, 0, the count)
// and "ab"; frame 2, the last, with "cde" and the trailing byte.
const std::string kFrame1 =
    WithChecksum("\xAA\xAA\x08\x00\x01\x00\x00\x00" "\x32\x01\x00\x00\x05\x00" "ab"s);
const std::string kFrame2 = WithChecksum("\xAA\xAA\x04\x00\x02\x00\x00\x01" "cde\xEF"s);

TEST_F(ScriptedPeer, AFrameSentAgainIsAcknowledgedButWrittenOnce) {
  ScriptedController plc(test::TestAddress());
  ASSERT_TRUE(plc.Listening());
  plc.ServeRead({kFrame1, kFrame1, kFrame2}, true);
  const ToolRun r = Run({"/TCP" + test::TestAddress(), FolderSwitch(), "/dn", "a.txt"});
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  EXPECT_EQ(test::ReadFileBytes(Pc("a.txt")), "abcde");
}

TEST_F(ScriptedPeer, AFrameLeftOutFailsTheTransferAndLeavesTheOldFile) {
  ScriptedController plc(test::TestAddress());
  ASSERT_TRUE(plc.Listening());
  const std::string frame3 = WithChecksum("\xAA\xAA\x04\x00\x03\x00\x00\x01" "cde\xEF"s);
  plc.ServeRead({kFrame1, frame3}, true);
  test::WriteFileBytes(Pc("a.txt"), "kept");
  ExpectRefusedRead(plc, Run({"/TCP" + test::TestAddress(), FolderSwitch(), "/dn", "a.txt"}),
                    "kept");
}

}  // namespace
}  // namespace cabrix::e2e
