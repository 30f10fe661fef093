// The TCP socket against listening sockets on loopback addresses, ephemeral ports.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/tcp_socket.h"
#include "platform/tcp_socket_posix_p.h"

namespace cabrix::platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr Ipv4Address kLoopback{127, 0, 0, 1};

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// A socket bound to 127.0.0.1 on a port of the system's choosing; listening unless told not to.
struct Listener {
  explicit Listener(bool listening = true, int backlog = 4) {
    fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    if (listening) {
      EXPECT_EQ(::listen(fd, backlog), 0);
    }
  }
  ~Listener() { ::close(fd); }
  // The next connection, waited for at most a second; -1 when none came.
  int Accept() const {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 1000) != 1) return -1;
    return ::accept(fd, nullptr, nullptr);
  }
  int fd = -1;
  std::uint16_t port = 0;
};

// A connected pair: our socket and the peer's accepted end.
class TcpSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartSocketLayer());
    ASSERT_TRUE(m_socket.Connect(kLoopback, m_listener.port, milliseconds(2000)));
    m_peer = m_listener.Accept();
    ASSERT_GE(m_peer, 0);
  }
  void TearDown() override {
    if (m_peer >= 0) ::close(m_peer);
  }
  Listener m_listener;
  TcpSocket m_socket;
  int m_peer = -1;
};

TEST(TcpSocketAddress, PortAndAddressGoOutInWireOrder) {
  const sockaddr_in a = MakeSockAddr({10, 0, 6, 10}, 1200);
  EXPECT_EQ(a.sin_family, AF_INET);
  std::uint8_t port[2];
  std::memcpy(port, &a.sin_port, 2);
  EXPECT_EQ(port[0], 0x04);
  EXPECT_EQ(port[1], 0xB0);
  std::uint8_t addr[4];
  std::memcpy(addr, &a.sin_addr, 4);
  EXPECT_EQ(std::vector<std::uint8_t>(addr, addr + 4), (std::vector<std::uint8_t>{0x0A, 0, 6, 0x0A}));
}

TEST_F(TcpSocketTest, ReceiveReturnsWhatArrivedWithoutWaitingForTheCount) {
  const std::uint8_t ack[6] = {0x55, 0x55, 10, 0, 1, 0};
  ASSERT_EQ(::send(m_peer, ack, sizeof ack, 0), 6);
  std::uint8_t in[8] = {};
  const auto start = Clock::now();
  const TcpSocket::RecvResult r = m_socket.Receive(in, milliseconds(2000));
  EXPECT_EQ(r.status, TcpSocket::RecvStatus::kData);
  EXPECT_EQ(r.count, 6u);
  EXPECT_EQ(std::memcmp(in, ack, 6), 0);
  EXPECT_LT(MsSince(start), 1000);
}

TEST_F(TcpSocketTest, SentBytesReachThePeer) {
  const std::vector<std::uint8_t> frame{0xAA, 0xAA, 1, 0, 1, 0, 0x57, 1, 0x42};
  const IoResult w = m_socket.Send(frame, milliseconds(2000));
  EXPECT_TRUE(w.ok);
  EXPECT_EQ(w.count, frame.size());
  std::vector<std::uint8_t> got(16);
  pollfd p{m_peer, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  got.resize(static_cast<std::size_t>(::recv(m_peer, got.data(), got.size(), 0)));
  EXPECT_EQ(got, frame);
}

// A peer that reads nothing: what does not fit into the buffers of both sides never goes, and
// the send ends at its bound with the count that went.
TEST_F(TcpSocketTest, ASendThatThePeerDoesNotTakeEndsAtItsBound) {
  const std::vector<std::uint8_t> big(64u << 20, 0x5A);
  const auto start = Clock::now();
  const IoResult w = m_socket.Send(big, milliseconds(300));
  const auto elapsed = MsSince(start);
  EXPECT_TRUE(w.ok);
  EXPECT_GT(w.count, 0u);
  EXPECT_LT(w.count, big.size());
  EXPECT_GE(elapsed, 295);
  EXPECT_LT(elapsed, 3000);
}

TEST_F(TcpSocketTest, PeerClosingGivesClosed) {
  ::close(m_peer);
  m_peer = -1;
  std::uint8_t in[8];
  EXPECT_EQ(m_socket.Receive(in, milliseconds(2000)).status, TcpSocket::RecvStatus::kClosed);
}

TEST_F(TcpSocketTest, SilentPeerTimesOutWithinTheBound) {
  std::uint8_t in[8];
  const auto start = Clock::now();
  EXPECT_EQ(m_socket.Receive(in, milliseconds(150)).status, TcpSocket::RecvStatus::kTimedOut);
  const auto elapsed = MsSince(start);
  EXPECT_GE(elapsed, 145);
  EXPECT_LT(elapsed, 1500);
}

// The socket keeps the shortest bound it was given as its own receive time-out; a later, longer
// bound must still be waited out whole, and data arriving late within it must still be taken.
TEST_F(TcpSocketTest, ALongerBoundAfterAShortOneIsWaitedOutWhole) {
  std::uint8_t in[8];
  EXPECT_EQ(m_socket.Receive(in, milliseconds(40)).status, TcpSocket::RecvStatus::kTimedOut);
  auto start = Clock::now();
  EXPECT_EQ(m_socket.Receive(in, milliseconds(300)).status, TcpSocket::RecvStatus::kTimedOut);
  EXPECT_GE(MsSince(start), 295);

  std::thread late([this] {
    std::this_thread::sleep_for(milliseconds(150));
    const std::uint8_t ack[6] = {0x55, 0x55, 0x0A, 0x00, 0x01, 0x00};
    ASSERT_EQ(::send(m_peer, ack, sizeof ack, 0), 6);
  });
  start = Clock::now();
  const auto r = m_socket.Receive(in, milliseconds(3000));
  late.join();
  EXPECT_EQ(r.status, TcpSocket::RecvStatus::kData);
  EXPECT_EQ(r.count, 6u);
  EXPECT_GE(MsSince(start), 100);
}

TEST_F(TcpSocketTest, ShutdownEndsThePeersStream) {
  m_socket.Shutdown();
  EXPECT_TRUE(m_socket.IsOpen());
  std::uint8_t b;
  pollfd p{m_peer, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  EXPECT_EQ(::recv(m_peer, &b, 1, 0), 0);
  m_socket.Close();
  EXPECT_FALSE(m_socket.IsOpen());
}

TEST_F(TcpSocketTest, SendToAResetConnectionFailsWithoutKillingTheProcess) {
  // A peer gone with data unread resets the connection; a later send then fails (EPIPE),
  // which must come back as a result, not as SIGPIPE.
  ::close(m_peer);
  m_peer = -1;
  const std::uint8_t byte[1] = {1};
  bool failed = false;
  for (int i = 0; i < 50 && !failed; ++i) {
    failed = !m_socket.Send(byte, milliseconds(100)).ok;
    std::uint8_t in[8];
    m_socket.Receive(in, milliseconds(20));  // lets the reset arrive; bounded
  }
  EXPECT_TRUE(failed);
}

TEST(TcpSocketConnect, RefusedConnectFailsQuickly) {
  const Listener bound(/*listening=*/false);  // the port is taken, nobody accepts on it
  TcpSocket socket;
  const auto start = Clock::now();
  EXPECT_FALSE(socket.Connect({127, 0, 0, 1}, bound.port, milliseconds(3000)));
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_FALSE(socket.IsOpen());
}

TEST(TcpSocketConnect, UnansweredConnectEndsAtItsTimeout) {
  // A listener whose accept queue is full drops new handshakes: the connect gets no answer.
  const Listener full(/*listening=*/true, /*backlog=*/0);
  std::vector<TcpSocket> queued(3);
  for (TcpSocket& s : queued) s.Connect({127, 0, 0, 1}, full.port, milliseconds(200));
  TcpSocket socket;
  const auto start = Clock::now();
  const bool connected = socket.Connect({127, 0, 0, 1}, full.port, milliseconds(200));
  if (connected) GTEST_SKIP() << "this system queued every handshake";
  const auto elapsed = MsSince(start);
  EXPECT_GE(elapsed, 195);
  EXPECT_LT(elapsed, 2000);
  EXPECT_FALSE(socket.IsOpen());
}

}  // namespace
}  // namespace cabrix::platform
