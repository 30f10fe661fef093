// The real plcsim process, spoken to by the test's PC side over loopback TCP and over its
// pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <future>
#include <thread>
#include <utility>
#include <vector>

#include "exchange.h"
#include "wire/frame.h"
#include "link/link_error.h"
#include "pc_channels.h"
#include "pc_client.h"
#include "support/sim_process.h"
#include "support/temp_dir.h"
#include "support/test_address.h"
#include "support/tool_command.h"

namespace plcsim::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using cabrix::test::PatternBytes;
using cabrix::test::ProcessResult;
using cabrix::test::ReadFileBytes;
using cabrix::test::SimOptions;
using cabrix::test::SimProcess;
using cabrix::test::TestAddress;

enum class Link { kTcp, kPty };

class EndToEnd : public ::testing::TestWithParam<Link> {
 protected:
  bool Tcp() const { return GetParam() == Link::kTcp; }

  void Start(std::vector<std::string> args = {}, fs::path store = {}) {
    SimOptions o;
    if (Tcp()) {
      o.tcp = TestAddress();
    } else {
      o.pty = m_xdg.ComLink(7);
    }
    o.store = store;
    o.args = std::move(args);
    o.args.insert(o.args.end(), {"--idle-timeout", "5"});
    m_sim.emplace(std::move(o));
  }

  std::unique_ptr<PcChannel> Open() {
    if (Tcp()) return ConnectTcp(m_sim->TcpAddress(), m_sim->TcpPort(), 4s);
    return OpenSerial(m_sim->PtyPath().string(), 3s);
  }

  // One exchange, the way the tool runs them: a fresh connection or port session each time.
  void Exchange(const std::function<void(PcClient&)>& f) {
    auto channel = Open();
    PcClient client(*channel, Tcp());
    f(client);
  }

  std::optional<int> Failing(const std::function<void(PcClient&)>& f) {
    try {
      Exchange(f);
    } catch (const cabrix::CLinkError& e) {
      return e.Code();
    }
    return std::nullopt;
  }

  std::string Dir() {
    std::string text;
    Exchange([&](PcClient& c) { text = c.Command("filedir").text; });
    return text;
  }

  cabrix::test::XdgConfigHome m_xdg;
  std::optional<SimProcess> m_sim;
};

TEST_P(EndToEnd, AnswersEveryExchange) {
  Start();
  std::string info;
  Exchange([&](PcClient& c) { info = c.Command("PLCInfo").text; });
  EXPECT_NE(info.find("\xD1\xE2\xEE\xE1\xEE\xE4\xED\xEE: 95%\r\n"), std::string::npos);

  std::string expectedDir;
  const std::vector<std::size_t> sizes{0, 3, 200, 4500, 9000, 20000};
  for (const std::size_t size : sizes) {
    const std::string name = "f" + std::to_string(100000 + size) + ".bin";
    SCOPED_TRACE(name);
    ASSERT_NO_THROW(Exchange([&](PcClient& c) { c.Upload(name, PatternBytes(size, 7)); }))
        << m_sim->Log();
    expectedDir += name + "\r\n";
  }
  // The listing comes after the last write has ended (a file of whole segments takes its name
  // only then), and shows every file.
  EXPECT_EQ(Dir(), expectedDir);
  for (const std::size_t size : sizes) {
    const std::string name = "f" + std::to_string(100000 + size) + ".bin";
    EXPECT_EQ(ReadFileBytes(m_sim->Store() / name), PatternBytes(size, 7)) << name;
  }

  for (const std::size_t size : sizes) {
    const std::string name = "f" + std::to_string(100000 + size) + ".bin";
    SCOPED_TRACE(name);
    std::optional<std::string> got;
    ASSERT_NO_THROW(Exchange([&](PcClient& c) { got = c.Download(name); })) << m_sim->Log();
    ASSERT_TRUE(got);
    EXPECT_EQ(*got, PatternBytes(size, 7));
  }

  std::optional<std::string> missing = "unset";
  Exchange([&](PcClient& c) { missing = c.Download("none.bin"); });
  EXPECT_FALSE(missing);

  std::string reply;
  Exchange([&](PcClient& c) { reply = c.Command("filedelete f100003.bin").text; });
  EXPECT_EQ(reply, "OK\r\n");
  EXPECT_EQ(Dir().find("f100003.bin"), std::string::npos);

  const ProcessResult r = m_sim->Stop();
  EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
  if (!Tcp()) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(m_xdg.ComLink(7)))) << "link removed";
  }
}

TEST_P(EndToEnd, InjectsFaultsAndLogsThem) {
  Start({"--fault", "bad-checksum,op=dir", "--fault", "reject,op=upload,frame=2", "--fault",
         "end-marker,op=download"});
  Exchange([&](PcClient& c) { c.Upload("a.bin", PatternBytes(300)); });
  EXPECT_EQ(Dir(), "a.bin\r\n");
  std::optional<std::string> got = "unset";
  Exchange([&](PcClient& c) { got = c.Download("a.bin"); });
  EXPECT_FALSE(got) << "answered with an end marker";
  Exchange([&](PcClient& c) { got = c.Download("a.bin"); });
  EXPECT_EQ(got, PatternBytes(300)) << "only once";

  const std::string log = m_sim->Log();
  EXPECT_NE(log.find("FAULT bad-checksum,op=dir (firing 1 of 1)"), std::string::npos) << log;
  EXPECT_NE(log.find("FAULT reject,op=upload,frame=2 (firing 1 of 1)"), std::string::npos);
  EXPECT_NE(log.find("FAULT end-marker,op=download (firing 1 of 1)"), std::string::npos);
  const ProcessResult r = m_sim->Stop();
  EXPECT_TRUE(r.ExitedWith(0));
  EXPECT_NE(r.err.find("fault reject,op=upload,frame=2: fired 1 of 1"), std::string::npos)
      << r.err;
}

TEST_P(EndToEnd, SilenceEndsTheExchangeAndTheNextOneIsServed) {
  Start({"--fault", "silent,op=info,at=reply-frame"});
  // Silent means no answer at all, not a closed connection: the PC's read runs out of time.
  auto channel = Tcp() ? ConnectTcp(m_sim->TcpAddress(), m_sim->TcpPort(), 700ms)
                       : OpenSerial(m_sim->PtyPath().string(), 500ms);
  PcClient client(*channel, Tcp());
  const auto start = std::chrono::steady_clock::now();
  try {
    client.Command("PLCInfo");
    ADD_FAILURE() << "the exchange should fail";
  } catch (const cabrix::CLinkError& e) {
    EXPECT_EQ(e.Code(), cabrix::kLinkNoData);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 500ms);
  channel.reset();
  EXPECT_EQ(Dir(), "");
  EXPECT_NE(m_sim->Log().find("FAULT silent,op=info,at=reply-frame"), std::string::npos);
}

TEST_P(EndToEnd, BadInputNeverBringsItDown) {
  Start();
  {
    auto channel = Open();
    const std::vector<std::uint8_t> garbage{0x13, 0x11, 0xFF, 0x00, 0x55, 0xAA, 0x01, 0x02, 0x03};
    channel->Write(garbage);
    // An upload with a path in its name.
    PcClient c(*channel, Tcp());
    if (Tcp()) {
      std::uint8_t b[8];
      EXPECT_THROW(channel->Read(b), cabrix::CLinkError) << "the connection is closed";
    }
  }
  if (!Tcp()) {
    ASSERT_TRUE(m_sim->WaitForLog("draining the line", 5s));
  }
  EXPECT_NE(Failing([](PcClient& c) { c.Upload("../up.bin", "x"); }), std::nullopt);
  EXPECT_FALSE(fs::exists(m_sim->Store().parent_path() / "up.bin"));
  EXPECT_EQ(Dir(), "");
  EXPECT_NE(m_sim->Log().find("PROBLEM garbage"), std::string::npos);
  EXPECT_TRUE(m_sim->Running());
}

// Stopped or killed in the middle of a segment (held there by a delay), or between two segments
// (the PC holding back the next one), plcsim leaves the older file under the name.
TEST_P(EndToEnd, StoppingOrKillingMidUploadLeavesNoHalfFile) {
  cabrix::test::TempDir store("plcsim-kept-store");
  cabrix::test::WriteFileBytes(store / "big.bin", "the old contents");
  for (const bool betweenSegments : {false, true}) {
    for (const int signo : {SIGTERM, SIGKILL}) {
      SCOPED_TRACE(std::to_string(signo) + (betweenSegments ? " between segments" : ""));
      std::vector<std::string> args;
      if (!betweenSegments) args = {"--fault", "delay-ack,op=upload,segment=2,frame=3,ms=60000"};
      Start(args, store.Path());
      std::promise<void> held, stopped;
      std::shared_future<void> stoppedFuture = stopped.get_future().share();
      std::optional<int> pcError;
      HookedPcChannel::Hook hold;
      if (betweenSegments) {
        hold = [&](std::span<const std::uint8_t> unit) {
          if (!IsLaterSegmentStart(unit)) return;
          held.set_value();
          stoppedFuture.wait_for(10s);
          throw cabrix::CLinkError(cabrix::kLinkNoData);
        };
      }
      std::thread pc([&] {
        try {
          auto channel = Open();
          HookedPcChannel hooked(*channel, hold);
          PcClient(hooked, Tcp()).Upload("big.bin", PatternBytes(9000));
        } catch (const cabrix::CLinkError& e) {
          pcError = e.Code();
        }
      });
      const bool reached = betweenSegments
                               ? held.get_future().wait_for(10s) == std::future_status::ready
                               : m_sim->WaitForLog("waiting 60000 ms", 10s);
      m_sim->Signal(signo);
      const ProcessResult r = m_sim->Stop();
      stopped.set_value();
      pc.join();
      ASSERT_TRUE(reached) << m_sim->Log();
      EXPECT_TRUE(pcError) << "the upload cannot have succeeded";
      if (signo == SIGTERM) {
        EXPECT_TRUE(r.ExitedWith(0)) << r.Describe();
      } else {
        EXPECT_EQ(r.signal, SIGKILL);
      }
      // Whatever happened, the real name still holds the old file.
      EXPECT_EQ(ReadFileBytes(store / "big.bin"), "the old contents");
      std::size_t entries = 0;
      for ([[maybe_unused]] const auto& e : fs::directory_iterator(store.Path())) ++entries;
      if (signo == SIGTERM) {
        EXPECT_EQ(entries, 1u) << "the temporary file went at exit";
      }
      // The freed device number goes to the next pseudo-terminal opened, another test's, say.
      if (!Tcp()) {
        EXPECT_FALSE(fs::is_symlink(m_xdg.ComLink(7)))
            << "the link still leads to the device number of a pseudo-terminal that is gone";
      }
      m_sim.reset();
    }
  }
  // A new run cleans up after the killed one and lists only the old file.
  Start({}, store.Path());
  EXPECT_EQ(Dir(), "big.bin\r\n");
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(store.Path())) ++entries;
  EXPECT_EQ(entries, 1u);
}

TEST_P(EndToEnd, DescribesItselfAndRefusesOtherAddresses) {
  const auto sim = cabrix::test::SimPath().string();
  ProcessResult r = cabrix::test::RunProcess({sim, "--help"}, 10s);
  EXPECT_TRUE(r.ExitedWith(0));
  EXPECT_NE(r.out.find("--fault"), std::string::npos);
  r = cabrix::test::RunProcess({sim, "--list-faults"}, 10s);
  EXPECT_TRUE(r.ExitedWith(0));
  EXPECT_NE(r.out.find("stale-ack"), std::string::npos);
  r = cabrix::test::RunProcess({sim, "--store", "/tmp", "--tcp", "10.0.6.10"}, 10s);
  EXPECT_TRUE(r.ExitedWith(2));
  EXPECT_NE(r.err.find("loopback"), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Links, EndToEnd, ::testing::Values(Link::kTcp, Link::kPty),
                         [](const auto& info) { return info.param == Link::kTcp ? "Tcp" : "Pty"; });

TEST(EndToEndTcp, PortZeroListensOnAFreePortShownInTheReadyLine) {
  SimOptions o;
  o.tcp = TestAddress() + ":0";
  SimProcess sim(std::move(o));
  EXPECT_NE(sim.TcpPort(), 0);
  EXPECT_EQ(sim.ReadyLine(), "plcsim ready: tcp " + TestAddress() + ":" +
                                 std::to_string(sim.TcpPort()));
  auto channel = ConnectTcp(sim.TcpAddress(), sim.TcpPort(), 4s);
  PcClient client(*channel, true);
  EXPECT_EQ(client.Command("filedir").text, "");
}

// A client that keeps sending a damaged request, each time within the idle limit, is cut off
// once that has gone on for longer than the idle limit, and the client waiting behind it is served.
TEST(EndToEndTcp, AClientThatMakesNoHeadwayDoesNotHoldTheNextOneOff) {
  SimOptions o;
  o.tcp = TestAddress();
  o.args = {"--idle-timeout", "2"};
  SimProcess sim(std::move(o));
  std::vector<std::uint8_t> request{0xAA, 0xAA, 10, 0, 1, 0, 0, 1, 0x31, 0, 6, 0,
                                    'a', '.', 't', 'x', 't', 0};
  request[6] = static_cast<std::uint8_t>(cabrix::WireChecksum(request) + 1);
  int answers = 0;
  auto hostile = ConnectTcp(sim.TcpAddress(), sim.TcpPort(), 4s);
  std::thread pc([&] {
    std::uint8_t ack[6];
    try {
      for (; answers < 60; ++answers) {
        hostile->Write(request);
        hostile->Read(ack);
        std::this_thread::sleep_for(700ms);
      }
    } catch (const cabrix::CLinkError&) {
    }
  });
  ASSERT_TRUE(sim.WaitForLog("request with a wrong checksum", 10s)) << sim.Log();
  auto next = ConnectTcp(sim.TcpAddress(), sim.TcpPort(), 10s);
  PcClient client(*next, true);
  EXPECT_EQ(client.Command("filedir").text, "");
  pc.join();
  EXPECT_LT(answers, kRepeatLimit);
  EXPECT_NE(sim.Log().find("no headway for over 2 s"), std::string::npos) << sim.Log();
}

// Keeps back the PC's acknowledgement of a reply's last frame, to go out in one write with the
// first unit of the next exchange (on another port session): plcsim takes both in at once, as it
// does when it wakes late to a PC that acknowledged and went on at once.
class CarryingPcChannel : public PcChannel {
 public:
  CarryingPcChannel(PcChannel& inner, std::vector<std::uint8_t>& carried)
      : m_inner(inner), m_carried(carried) {}
  std::size_t Read(std::span<std::uint8_t> b) override { return m_inner.Read(b); }
  std::size_t ReadUnit(std::span<std::uint8_t> b) override {
    const std::size_t n = m_inner.ReadUnit(b);
    if (n == cabrix::kFrameHeaderSize && b[0] == cabrix::kFrameSync) {
      m_lastFrame = b[cabrix::frame_offset::kLast] == 1;
    }
    return n;
  }
  void Write(std::span<const std::uint8_t> d) override {
    if (m_lastFrame && d.size() == cabrix::kAckSize) {
      m_carried.assign(d.begin(), d.end());
      return;
    }
    std::vector<std::uint8_t> out = std::exchange(m_carried, {});
    out.insert(out.end(), d.begin(), d.end());
    m_inner.Write(out);
  }
  void Flush() override { m_inner.Flush(); }
  void DrainUntilQuiet() override { m_inner.DrainUntilQuiet(); }

 private:
  PcChannel& m_inner;
  std::vector<std::uint8_t>& m_carried;
  bool m_lastFrame = false;
};

TEST(EndToEndPty, BaudPacesWhatGoesOverTheLine) {
  cabrix::test::XdgConfigHome xdg;
  SimOptions o;
  o.pty = xdg.ComLink(2);
  o.args = {"--baud", "9600"};
  SimProcess sim(std::move(o));
  cabrix::test::WriteFileBytes(sim.Store() / "p.bin", PatternBytes(960));
  // 960 data bytes and some framing at 960 bytes per second, either way: never under a second.
  // On the way in, the simulator answers a frame only once the line has carried all of it, and
  // the upload's first frame comes in one read with the download's last acknowledgement.
  std::vector<std::uint8_t> carried;
  for (const bool upload : {false, true}) {
    auto port = OpenSerial(sim.PtyPath().string(), 3s);
    CarryingPcChannel channel(*port, carried);
    PcClient client(channel, false);
    const auto start = std::chrono::steady_clock::now();
    if (upload) {
      client.Upload("q.bin", PatternBytes(960));
    } else {
      EXPECT_EQ(client.Download("p.bin"), PatternBytes(960));
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s) << (upload ? "upload" : "download");
  }
}

}  // namespace
}  // namespace plcsim::testing
