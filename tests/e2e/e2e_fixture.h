// Shared pieces of the end-to-end suite: the real cabrix against a real plcsim, over loopback TCP
// (each test its own 127.x.y.z) or over a pseudo-terminal reached as COM<n> through the device
// map in a temporary XDG_CONFIG_HOME.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/sim_process.h"
#include "support/subprocess.h"
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

// The serial port number that the device map gives the simulator's pseudo-terminal.
inline constexpr int kSimCom = 3;

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

// Files in `dir` whose names start with ".cbx" (the tool's temporary download files).
std::vector<std::string> TempFilesIn(const fs::path& dir);

// One test's world: a PC folder (the tool's working folder), a device map, at most one simulator
// per transport, and the runs of the tool.
class E2eTest : public ::testing::Test {
 protected:
  // A simulator on TestAddress() (TCP) or on the pty mapped to COM<kSimCom> (serial).
  SimProcess& StartSim(Transport transport, std::vector<std::string> args = {});

  // The link switch for the simulator of that transport.
  std::string LinkSwitch(Transport transport) const;
  SimProcess& Sim(Transport transport);

  // Runs cabrix with `args` in the PC folder, XDG_CONFIG_HOME set to the device map.
  ProcessResult Run(const std::vector<std::string>& args,
                    std::chrono::milliseconds timeout = 30s) const;

  fs::path Pc(const fs::path& name) const { return m_pc / name; }
  std::string FolderSwitch() const { return "/FLDR" + m_pc.Str(); }

  test::TempDir m_pc{"cabrix-e2e-pc"};
  test::XdgConfigHome m_xdg;
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
