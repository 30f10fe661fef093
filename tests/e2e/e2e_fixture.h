// Shared pieces of the end-to-end suite: the real cabrix against a real plcsim, over loopback TCP
// (each test its own 127.x.y.z) or over a pseudo-terminal reached as COM<n> through the device
// map in a temporary XDG_CONFIG_HOME.
//
// The same suite runs the Windows build under Wine (env CABRIX_TOOL=<cabrix.exe>,
// CABRIX_TOOL_LAUNCHER=wine, WINEPREFIX; see scripts/wine-e2e.sh). Then COM<n> is the link
// $WINEPREFIX/dosdevices/com<n>, which the fixture points at the simulator's pseudo-terminal with
// a number of its own per test (the tests share one prefix), and the message boxes, which the
// Windows tool shows instead of writing to standard error, are read from Wine's relay trace.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/sim_process.h"
#include "process/subprocess.h"
#include "support/temp_dir.h"
#include "support/test_address.h"
#include "support/tool_command.h"

namespace cabrix::e2e {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using test::ProcessResult;
using test::SimProcess;

enum class Transport { kTcp, kSerial };

// The serial port number that the device map gives the simulator's pseudo-terminal (POSIX tool;
// under Wine each test takes a free number of its own, see E2eTest::SimCom()).
inline constexpr int kSimCom = 3;

// Whether the tool under test is the Windows build run by a launcher: CABRIX_TOOL_LAUNCHER set,
// or CABRIX_TOOL naming an .exe.
bool ToolUnderWine();

// Skips the running test under Wine, with the reason.
#define CABRIX_SKIP_UNDER_WINE(reason) \
  if (::cabrix::e2e::ToolUnderWine()) GTEST_SKIP() << "under Wine: " << reason

// A modal message box the tool showed: text and title as the program passed them (Windows-1251),
// and the MessageBoxA type (0: OK alone).
struct ShownBox {
  std::string text;
  std::string title;
  unsigned long type = 0;
};

// A run of the tool. `err` is the tool's own standard error; under Wine the lines of Wine's trace
// are taken out of it, and the message boxes they record are in `boxes`.
struct ToolRun : ProcessResult {
  std::vector<ShownBox> boxes;
};

// Whether the run showed exactly these boxes, in order (texts in UTF-8, without line ends):
// the POSIX tool writes each box's text on standard error in code page 866 with CR LF; the
// Windows tool passes it to MessageBoxA in Windows-1251, with the program's name as the title,
// OK alone, and writes nothing to standard error.
::testing::AssertionResult ShowedBoxes(const ToolRun& run, const std::vector<std::string>& texts);

// COM<n> of a Wine prefix linked to a path for as long as the object lives. The number is the
// first free one from a start taken from the running test's name, in [kFirst, kLast]; a link
// that exists already belongs to another test (or a run that died) and is passed over, so tests
// running at once in one prefix never share a port. Wine's mount manager rewrites the links of
// com1..com9 for ports it finds itself, hence numbers far above them.
class WineComLink {
 public:
  static constexpr int kFirst = 30;
  static constexpr int kLast = 250;

  // `target(n)` is the path COM<n> is to lead to. Throws std::runtime_error when no number
  // is free.
  explicit WineComLink(const std::function<fs::path(int)>& target);
  ~WineComLink();
  WineComLink(WineComLink&& o) noexcept;
  WineComLink& operator=(WineComLink&&) = delete;
  WineComLink(const WineComLink&) = delete;
  WineComLink& operator=(const WineComLink&) = delete;

  int Number() const { return m_number; }

 private:
  fs::path m_link;
  fs::path m_target;
  int m_number = 0;
};

// UTF-8 test text to the bytes the tool shows: Cyrillic А..я in code page 866, ASCII unchanged.
std::string Cp866(std::string_view utf8);
// UTF-8 test text to Windows-1251 (the bytes the controller stores and sends).
std::string Cp1251(std::string_view utf8);

// Uppercase hex with single blanks, the way the simulator's log writes units.
std::string Hex(std::string_view bytes);

// The bytes of a hex text such as Hex() writes.
std::string FromHex(std::string_view hex);

// A frame's bytes with its checksum (byte 6) set: the sum of all other bytes, mod 256.
std::string WithChecksum(std::string frame);

// Lines of the simulator's log that record a unit it received ("recv N: ..."), as the hex text
// after the colon.
std::vector<std::string> ReceivedUnits(const std::string& log);

// The units received that are frames (AA AA ...), as bytes, in order.
std::vector<std::string> ReceivedFrames(const std::string& log);

// Whether the simulator's log shows every firing of the fault given as `spec` (as on its
// command line), `times` times.
::testing::AssertionResult FaultFired(const SimProcess& sim, const std::string& spec,
                                      int times = 1);

// The bytes of `name` in the simulator's store once its write has ended. A file of whole
// 4500-byte segments takes its name only when the PC has ended the exchange (over the serial
// line up to 5 s after it), so this waits at most `timeout` for the log to say it was stored.
// nullopt when the file is not there.
std::optional<std::string> StoredFile(const SimProcess& sim, const std::string& name,
                                      std::chrono::milliseconds timeout = 10s);

// Files in `dir` whose names start with ".cbx" (the tool's temporary download files).
std::vector<std::string> TempFilesIn(const fs::path& dir);

// Polls `condition` every 10 ms until it holds, at most `timeout`; whether it came to hold.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// One test's world: a PC folder (the tool's working folder), a device map, at most one simulator
// per transport, and the runs of the tool.
class E2eTest : public ::testing::Test {
 protected:
  E2eTest();

  // A simulator on TestAddress() (TCP) or on the pty mapped to COM<SimCom()> (serial), with a
  // fresh store of its own or the folder `store`.
  SimProcess& StartSim(Transport transport, std::vector<std::string> args = {},
                       const fs::path& store = {});

  // The link switch for the simulator of that transport.
  std::string LinkSwitch(Transport transport) const;
  SimProcess& Sim(Transport transport);

  // The serial port number of the simulator's pty: kSimCom, or this test's own under Wine.
  int SimCom() const;

  // "/COM<n>" for a port that leads to a device that does not exist, so that opening it fails.
  std::string UnopenablePortSwitch();

  // Runs cabrix with `args` in the PC folder, XDG_CONFIG_HOME set to the device map; under Wine
  // with the relay trace of MessageBoxA on.
  ToolRun Run(const std::vector<std::string>& args, std::chrono::milliseconds timeout = 30s) const;

  // Starts cabrix as Run does, without waiting for it (the POSIX tool only: under Wine the
  // process is the launcher's).
  test::Subprocess Start(const std::vector<std::string>& args) const;

  fs::path Pc(const fs::path& name) const { return m_pc / name; }
  std::string FolderSwitch() const { return "/FLDR" + m_pc.Str(); }

  test::TempDir m_pc{"cabrix-e2e-pc"};
  test::XdgConfigHome m_xdg;
  std::optional<WineComLink> m_wineSimCom;
  std::optional<WineComLink> m_wineUnopenableCom;
  std::optional<SimProcess> m_tcpSim;
  std::optional<SimProcess> m_serialSim;
};

// The same cases over both transports.
class OverEachLink : public E2eTest, public ::testing::WithParamInterface<Transport> {
 protected:
  Transport Link() const { return GetParam(); }
  bool Tcp() const { return GetParam() == Transport::kTcp; }
  SimProcess& StartSim(std::vector<std::string> args = {}) {
    return E2eTest::StartSim(Link(), std::move(args));
  }
  SimProcess& Sim() { return E2eTest::Sim(Link()); }
  std::string LinkSwitch() const { return E2eTest::LinkSwitch(Link()); }
};

std::string TransportName(const ::testing::TestParamInfo<Transport>& info);

#define CABRIX_E2E_OVER_EACH_LINK(Suite)                                                  \
  INSTANTIATE_TEST_SUITE_P(Links, Suite,                                                 \
                           ::testing::Values(::cabrix::e2e::Transport::kTcp,             \
                                             ::cabrix::e2e::Transport::kSerial),         \
                           ::cabrix::e2e::TransportName)

}  // namespace cabrix::e2e
