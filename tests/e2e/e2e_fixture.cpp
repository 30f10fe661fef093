#include "e2e/e2e_fixture.h"

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <stdexcept>

namespace cabrix::e2e {

namespace {

// Decodes one UTF-8 sequence at `i` (advancing it); only what the tests write: ASCII and the
// two-byte Cyrillic and Latin-1 ranges.
std::uint32_t NextCodePoint(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i++]);
  if (b0 < 0x80) return b0;
  if ((b0 & 0xE0) == 0xC0 && i < s.size()) {
    const auto b1 = static_cast<unsigned char>(s[i++]);
    return ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu);
  }
  throw std::invalid_argument("test text outside what Cp866/Cp1251 handle");
}

}  // namespace

std::string Cp866(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::uint32_t c = NextCodePoint(utf8, i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x410 && c <= 0x43F) {  // А..п
      out.push_back(static_cast<char>(0x80 + (c - 0x410)));
    } else if (c >= 0x440 && c <= 0x44F) {  // р..я
      out.push_back(static_cast<char>(0xE0 + (c - 0x440)));
    } else {
      throw std::invalid_argument("no code page 866 byte for this test letter");
    }
  }
  return out;
}

std::string Cp1251(std::string_view utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const std::uint32_t c = NextCodePoint(utf8, i);
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c >= 0x410 && c <= 0x44F) {
      out.push_back(static_cast<char>(0xC0 + (c - 0x410)));
    } else {
      throw std::invalid_argument("no Windows-1251 byte for this test letter");
    }
  }
  return out;
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[b >> 4]);
    out.push_back(kDigits[b & 0xF]);
  }
  return out;
}

std::vector<std::string> ReceivedUnits(const std::string& log) {
  std::vector<std::string> units;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    const auto at = line.find(" recv ");
    if (at == std::string::npos) continue;
    const auto colon = line.find(": ", at);
    if (colon == std::string::npos) continue;
    units.push_back(line.substr(colon + 2));
  }
  return units;
}

std::string FromHex(std::string_view hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3) {
    out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

std::string WithChecksum(std::string frame) {
  unsigned sum = 0;
  for (std::size_t i = 0; i < frame.size(); ++i) {
    if (i != 6) sum += static_cast<unsigned char>(frame[i]);
  }
  frame[6] = static_cast<char>(sum & 0xFF);
  return frame;
}

std::vector<std::string> ReceivedFrames(const std::string& log) {
  std::vector<std::string> frames;
  for (const std::string& unit : ReceivedUnits(log)) {
    if (unit.rfind("AA AA", 0) == 0) frames.push_back(FromHex(unit));
  }
  return frames;
}

::testing::AssertionResult FaultFired(const SimProcess& sim, const std::string& spec,
                                      int times) {
  const std::string log = sim.Log();
  for (int n = 1; n <= times; ++n) {
    const std::string firing = "FAULT " + spec + " (firing " + std::to_string(n) + " of ";
    if (log.find(firing) == std::string::npos) {
      return ::testing::AssertionFailure() << "no \"" << firing << "\" in the log:\n" << log;
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::string> TempFilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".cbx", 0) == 0) names.push_back(name);
  }
  return names;
}

SimProcess& E2eTest::StartSim(Transport transport, std::vector<std::string> args) {
  // A short idle limit, so that an exchange that the tool gave up does not hold the simulator
  // for long.
  if (std::find(args.begin(), args.end(), "--idle-timeout") == args.end()) {
    args.insert(args.end(), {"--idle-timeout", "3"});
  }
  test::SimOptions o;
  o.args = std::move(args);
  if (transport == Transport::kTcp) {
    o.tcp = test::TestAddress();
    return m_tcpSim.emplace(std::move(o));
  }
  o.pty = m_xdg.ComLink(kSimCom);
  return m_serialSim.emplace(std::move(o));
}

std::string E2eTest::LinkSwitch(Transport transport) const {
  if (transport == Transport::kTcp) return m_tcpSim->TcpSwitch();
  return "/COM" + std::to_string(kSimCom);
}

SimProcess& E2eTest::Sim(Transport transport) {
  return transport == Transport::kTcp ? *m_tcpSim : *m_serialSim;
}

ProcessResult E2eTest::Run(const std::vector<std::string>& args,
                           std::chrono::milliseconds timeout) const {
  test::ProcessOptions o;
  o.setEnv.push_back(m_xdg.Env());
  o.workDir = m_pc.Str();
  return test::RunProcess(test::ToolCommand(args), timeout, o);
}

std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::kTcp ? "Tcp" : "Serial";
}

}  // namespace cabrix::e2e
