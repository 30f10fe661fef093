// The TCP connection on Windows against a listener of the test's own on 127.0.0.1.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/tcp_socket.h"

namespace cabrix::platform {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr Ipv4Address kLoopback{127, 0, 0, 1};

milliseconds Since(Clock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

// A raw socket of the test, closed when it goes.
class RawSocket {
 public:
  explicit RawSocket(SOCKET s = INVALID_SOCKET) : m_s(s) {}
  ~RawSocket() { Reset(); }
  RawSocket(RawSocket&& other) noexcept : m_s(other.m_s) { other.m_s = INVALID_SOCKET; }
  RawSocket& operator=(RawSocket&&) = delete;
  SOCKET get() const { return m_s; }
  void Reset() {
    if (m_s != INVALID_SOCKET) closesocket(m_s);
    m_s = INVALID_SOCKET;
  }

 private:
  SOCKET m_s;
};

sockaddr_in LoopbackAddress(std::uint16_t port, const Ipv4Address& ip = kLoopback) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  std::memcpy(&addr.sin_addr, ip.data(), ip.size());
  return addr;
}

// A listener on a loopback address (127.0.0.1 unless told) at a port the system picks.
class Listener {
 public:
  explicit Listener(int backlog = 4, const Ipv4Address& ip = kLoopback)
      : m_s(StartSocketLayer() ? socket(AF_INET, SOCK_STREAM, 0) : INVALID_SOCKET) {
    sockaddr_in addr = LoopbackAddress(0, ip);
    if (bind(m_s.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(m_s.get(), backlog) != 0) {
      m_s.Reset();
      return;
    }
    int len = sizeof addr;
    getsockname(m_s.get(), reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
  }
  bool ok() const { return m_s.get() != INVALID_SOCKET; }
  std::uint16_t port() const { return m_port; }

  // Accepts one connection, waiting at most 5 s.
  RawSocket Accept() {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(m_s.get(), &ready);
    timeval tv{5, 0};
    if (select(0, &ready, nullptr, nullptr, &tv) != 1) return RawSocket();
    return RawSocket(accept(m_s.get(), nullptr, nullptr));
  }

 private:
  RawSocket m_s;
  std::uint16_t m_port = 0;
};

class TcpSocketWin : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(StartSocketLayer());
    ASSERT_TRUE(m_listener.ok());
    ASSERT_TRUE(m_client.Connect(kLoopback, m_listener.port(), milliseconds(5000)));
    m_server = std::make_unique<RawSocket>(m_listener.Accept());
    ASSERT_NE(m_server->get(), INVALID_SOCKET);
  }

  void ServerSends(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(send(m_server->get(), reinterpret_cast<const char*>(bytes.data()),
                   static_cast<int>(bytes.size()), 0),
              static_cast<int>(bytes.size()));
  }

  Listener m_listener;
  TcpSocket m_client;
  std::unique_ptr<RawSocket> m_server;
};

TEST_F(TcpSocketWin, BytesPassBothWays) {
  const std::array<std::uint8_t, 5> frame{0xAA, 0xAA, 0x00, 0x0A, 0x0D};
  const IoResult sent = m_client.Send(frame, milliseconds(5000));
  ASSERT_TRUE(sent.ok);
  EXPECT_EQ(sent.count, frame.size());
  std::array<char, 16> in{};
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(m_server->get(), &ready);
  timeval tv{5, 0};
  ASSERT_EQ(select(0, &ready, nullptr, nullptr, &tv), 1);
  ASSERT_EQ(recv(m_server->get(), in.data(), static_cast<int>(in.size()), 0), 5);
  EXPECT_EQ(std::memcmp(in.data(), frame.data(), frame.size()), 0);

  ServerSends({0x55, 0x55, 0x0A, 0x00, 0x01, 0x00});
  std::array<std::uint8_t, 6> ack{};
  const TcpSocket::RecvResult r = m_client.Receive(ack, milliseconds(5000));
  ASSERT_EQ(r.status, TcpSocket::RecvStatus::kData);
  ASSERT_GE(r.count, 1u);
  EXPECT_EQ(ack[0], 0x55);
}

TEST_F(TcpSocketWin, ReceiveReturnsWhatHasArrivedWithoutWaitingForTheCount) {
  ServerSends({0x55, 0x55, 0x0A, 0x00, 0x01, 0x00});
  // Let all six bytes arrive before asking for eight.
  std::array<std::uint8_t, 8> header{};
  const auto start = Clock::now();
  std::size_t in = 0;
  while (in < 6 && Since(start) < milliseconds(5000)) {
    const TcpSocket::RecvResult r =
        m_client.Receive(std::span(header).subspan(in), milliseconds(5000));
    ASSERT_EQ(r.status, TcpSocket::RecvStatus::kData);
    in += r.count;
  }
  EXPECT_EQ(in, 6u);
  EXPECT_LT(Since(start), milliseconds(3000));
}

TEST_F(TcpSocketWin, SilentPeerEndsTheReceiveAtTheBound) {
  std::array<std::uint8_t, 8> buffer{};
  const auto start = Clock::now();
  const TcpSocket::RecvResult r = m_client.Receive(buffer, milliseconds(300));
  const milliseconds took = Since(start);
  EXPECT_EQ(r.status, TcpSocket::RecvStatus::kTimedOut);
  EXPECT_GE(took, milliseconds(250));
  EXPECT_LT(took, milliseconds(5000));
}

// A peer that reads nothing: the send ends at its bound, not when the peer lets it.
TEST_F(TcpSocketWin, ASendThatThePeerDoesNotTakeEndsAtTheBound) {
  const std::vector<std::uint8_t> big(64u << 20, 0x5A);
  const auto start = Clock::now();
  const IoResult sent = m_client.Send(big, milliseconds(300));
  const milliseconds took = Since(start);
  EXPECT_TRUE(sent.ok);
  EXPECT_LT(sent.count, big.size());
  EXPECT_GE(took, milliseconds(250));
  EXPECT_LT(took, milliseconds(5000));
}

TEST_F(TcpSocketWin, PeerThatClosesIsReportedAsClosed) {
  ServerSends({1, 2});
  m_server->Reset();
  std::array<std::uint8_t, 8> buffer{};
  TcpSocket::RecvResult r = m_client.Receive(buffer, milliseconds(5000));
  ASSERT_EQ(r.status, TcpSocket::RecvStatus::kData);
  EXPECT_EQ(r.count, 2u);
  r = m_client.Receive(buffer, milliseconds(5000));
  EXPECT_EQ(r.status, TcpSocket::RecvStatus::kClosed);
}

TEST_F(TcpSocketWin, ShutdownEndsTheConnectionForThePeer) {
  m_client.Shutdown();
  EXPECT_TRUE(m_client.IsOpen());
  fd_set ready;
  FD_ZERO(&ready);
  FD_SET(m_server->get(), &ready);
  timeval tv{5, 0};
  ASSERT_EQ(select(0, &ready, nullptr, nullptr, &tv), 1);
  char c = 0;
  EXPECT_EQ(recv(m_server->get(), &c, 1, 0), 0);
  m_client.Close();
  EXPECT_FALSE(m_client.IsOpen());
  std::array<std::uint8_t, 1> one{};
  EXPECT_FALSE(m_client.Send(one, milliseconds(100)).ok);
  EXPECT_EQ(m_client.Receive(one, milliseconds(0)).status, TcpSocket::RecvStatus::kError);
}

// Each test's controller listens on a loopback address of its own.
TEST(TcpSocketConnectWin, ReachesEveryLoopbackAddress) {
  const Ipv4Address other{127, 0, 3, 4};
  Listener listener(4, other);
  ASSERT_TRUE(listener.ok());
  TcpSocket socket;
  ASSERT_TRUE(socket.Connect(other, listener.port(), milliseconds(5000)));
  RawSocket server = listener.Accept();
  ASSERT_NE(server.get(), INVALID_SOCKET);
  sockaddr_in local{};
  int len = sizeof local;
  ASSERT_EQ(getsockname(server.get(), reinterpret_cast<sockaddr*>(&local), &len), 0);
  EXPECT_EQ(std::memcmp(&local.sin_addr, other.data(), other.size()), 0);
}

TEST(TcpSocketConnectWin, RefusedConnectFailsAtOnce) {
  ASSERT_TRUE(StartSocketLayer());
  std::uint16_t freePort = 0;
  {
    Listener gone;
    ASSERT_TRUE(gone.ok());
    freePort = gone.port();
  }
  TcpSocket socket;
  const auto start = Clock::now();
  EXPECT_FALSE(socket.Connect(kLoopback, freePort, milliseconds(10000)));
  EXPECT_FALSE(socket.IsOpen());
  EXPECT_LT(Since(start), milliseconds(5000));
}

// A listener whose queue of unaccepted connections is full drops further connection requests,
// so a connect there gets no answer at all: the bound, not the system, must end it.
TEST(TcpSocketConnectWin, UnansweredConnectEndsAtTheBound) {
  ASSERT_TRUE(StartSocketLayer());
  Listener full(1);
  ASSERT_TRUE(full.ok());
  std::vector<TcpSocket> queued;
  bool filled = false;
  for (int i = 0; i < 16 && !filled; ++i) {
    TcpSocket s;
    if (s.Connect(kLoopback, full.port(), milliseconds(300))) {
      queued.push_back(std::move(s));
    } else {
      filled = true;
    }
  }
  if (!filled) GTEST_SKIP() << "the listener's queue never filled up";
  TcpSocket late;
  const auto start = Clock::now();
  EXPECT_FALSE(late.Connect(kLoopback, full.port(), milliseconds(400)));
  const milliseconds took = Since(start);
  EXPECT_GE(took, milliseconds(350));
  EXPECT_LT(took, milliseconds(5000));
}

}  // namespace
}  // namespace cabrix::platform
