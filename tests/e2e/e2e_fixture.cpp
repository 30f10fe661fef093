#include "e2e/e2e_fixture.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

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

std::string EnvOrEmpty(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}

// The folder of the Wine prefix's device links: $WINEPREFIX/dosdevices, or Wine's default prefix.
fs::path WineDosDevices() {
  std::string prefix = EnvOrEmpty("WINEPREFIX");
  if (prefix.empty()) prefix = EnvOrEmpty("HOME") + "/.wine";
  return fs::path(prefix) / "dosdevices";
}

// Wine's relay channel. scripts/wine-env.sh limits it in the prefix to user32.MessageBoxA, so
// that a run's trace is a few lines of Wine's own plus one line per box. Wine's error lines are
// on too: they are kept apart from the program's own standard error, and tell why Wine failed
// to start a program when it does.
constexpr const char* kWineBoxTrace = "-all,err+all,+relay";

// A text as Wine's trace quotes it (\xNN, \n, \r, \t, \\ and \" escaped) back to its bytes.
std::string Unescape(const std::string& quoted) {
  std::string out;
  for (std::size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] != '\\' || i + 1 == quoted.size()) {
      out.push_back(quoted[i]);
      continue;
    }
    const char c = quoted[++i];
    if (c == 'x' && i + 2 < quoted.size() && std::isxdigit(static_cast<unsigned char>(quoted[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(quoted[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(quoted.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else if (c == 'n') {
      out.push_back('\n');
    } else if (c == 'r') {
      out.push_back('\r');
    } else if (c == 't') {
      out.push_back('\t');
    } else {
      out.push_back(c);
    }
  }
  return out;
}

// Splits the standard error of a Wine run with the relay trace of MessageBoxA on into the
// program's own text and the boxes.
ToolRun SplitWineTrace(ProcessResult run, std::string& wineErrors) {
  // "0024:Call user32.MessageBoxA(00000000,0040a0b0 "text",0040a0c8 "title",00000000) ret=..."
  static const std::regex kBox(
      R"re(^[0-9a-f]{4}:Call user32\.MessageBoxA\([0-9a-f]+,[0-9a-f]+ "(.*)",[0-9a-f]+ "(.*)",([0-9a-f]+)\) ret=[0-9a-f]+$)re");
  static const std::regex kWineLine(R"(^[0-9a-f]{4}:(trace:relay:|Call |Ret |Starting ).*)");
  // Wine's error channel, with a thread number or, before the first thread exists, without
  // ("err:virtual:virtual_alloc_first_teb wine: failed to map the shared user data: c0000018"),
  // and its loader's fatal start-up lines ("wine: ..."), which it writes before it ends with
  // status 1.
  static const std::regex kWineError(R"(^(([0-9a-f]{4}:)?err:|wine: ).*)");
  ToolRun split;
  static_cast<ProcessResult&>(split) = std::move(run);
  std::string own;
  std::istringstream in(split.err);
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, kBox)) {
      split.boxes.push_back({Unescape(m[1]), Unescape(m[2]), std::stoul(m[3], nullptr, 16)});
    } else if (std::regex_match(line, kWineError)) {
      wineErrors += line + "\n";
    } else if (!std::regex_match(line, kWineLine) ||
               line.find("Call user32.MessageBoxA(") != std::string::npos) {
      // A box call in a form not understood stays, so that it fails the test instead of
      // vanishing.
      own += line;
      if (!in.eof()) own.push_back('\n');
    }
  }
  split.err = std::move(own);
  return split;
}

}  // namespace

bool ToolUnderWine() {
  if (!EnvOrEmpty("CABRIX_TOOL_LAUNCHER").empty()) return true;
  const std::string tool = EnvOrEmpty("CABRIX_TOOL");
  return tool.size() > 4 && tool.compare(tool.size() - 4, 4, ".exe") == 0;
}

::testing::AssertionResult ShowedBoxes(const ToolRun& run, const std::vector<std::string>& texts) {
  if (!ToolUnderWine()) {
    std::string expected;
    for (const std::string& t : texts) expected += Cp866(t) + "\r\n";
    if (run.err == expected && run.boxes.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "standard error " << ::testing::PrintToString(run.err)
                                         << ", expected " << ::testing::PrintToString(expected);
  }
  auto failure = [&] {
    auto f = ::testing::AssertionFailure();
    f << "standard error " << ::testing::PrintToString(run.err) << "; boxes:";
    for (const ShownBox& b : run.boxes) {
      f << " [" << ::testing::PrintToString(b.text) << ", title "
        << ::testing::PrintToString(b.title) << ", type " << b.type << "]";
    }
    return f << "; expected " << ::testing::PrintToString(texts);
  };
  if (!run.err.empty() || run.boxes.size() != texts.size()) return failure();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const ShownBox& b = run.boxes[i];
    if (b.text != Cp1251(texts[i]) || b.title != "cabrix" || b.type != 0) return failure();
  }
  return ::testing::AssertionSuccess();
}

WineComLink::WineComLink(const std::function<fs::path(int)>& target) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string name =
      info ? std::string(info->test_suite_name()) + "." + info->name() : std::string();
  constexpr int kCount = kLast - kFirst + 1;
  const int start = static_cast<int>(std::hash<std::string>{}(name) % kCount);
  const fs::path dir = WineDosDevices();
  for (int i = 0; i < kCount; ++i) {
    const int n = kFirst + (start + i) % kCount;
    const fs::path link = dir / ("com" + std::to_string(n));
    const fs::path to = target(n);
    std::error_code ec;
    // Creating the link is the claim: it fails when another test holds the number.
    fs::create_symlink(to, link, ec);
    if (!ec) {
      m_link = link;
      m_target = to;
      m_number = n;
      return;
    }
    if (ec != std::errc::file_exists) {
      throw std::runtime_error("cannot link " + link.string() + ": " + ec.message());
    }
  }
  throw std::runtime_error("no free COM number in " + dir.string());
}

WineComLink::~WineComLink() {
  if (m_link.empty()) return;
  std::error_code ec;
  if (fs::read_symlink(m_link, ec) == m_target && !ec) fs::remove(m_link, ec);
}

WineComLink::WineComLink(WineComLink&& o) noexcept
    : m_link(std::exchange(o.m_link, {})), m_target(std::move(o.m_target)), m_number(o.m_number) {}

E2eTest::E2eTest() {
  if (ToolUnderWine()) {
    m_wineSimCom.emplace([this](int n) { return m_xdg.ComLink(n); });
  }
}

int E2eTest::SimCom() const { return m_wineSimCom ? m_wineSimCom->Number() : kSimCom; }

std::string E2eTest::UnopenablePortSwitch() {
  const fs::path nothing = m_pc / "no-such-device";
  if (ToolUnderWine()) {
    if (!m_wineUnopenableCom) m_wineUnopenableCom.emplace([&](int) { return nothing; });
    return "/COM" + std::to_string(m_wineUnopenableCom->Number());
  }
  constexpr int kUnopenable = kSimCom + 1;
  if (!fs::is_symlink(m_xdg.ComLink(kUnopenable))) {
    fs::create_symlink(nothing, m_xdg.ComLink(kUnopenable));
  }
  return "/COM" + std::to_string(kUnopenable);
}

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

std::optional<std::string> StoredFile(const SimProcess& sim, const std::string& name,
                                      std::chrono::milliseconds timeout) {
  sim.WaitForLog("note stored " + name + ", ", timeout);
  std::error_code ec;
  if (!fs::is_regular_file(sim.Store() / name, ec)) return std::nullopt;
  return test::ReadFileBytes(sim.Store() / name);
}

std::vector<std::string> TempFilesIn(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(".cbx", 0) == 0) names.push_back(name);
  }
  return names;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
}

SimProcess& E2eTest::StartSim(Transport transport, std::vector<std::string> args,
                              const fs::path& store) {
  // A short idle limit, so that an exchange that the tool gave up does not hold the simulator
  // for long.
  if (std::find(args.begin(), args.end(), "--idle-timeout") == args.end()) {
    args.insert(args.end(), {"--idle-timeout", "3"});
  }
  test::SimOptions o;
  o.args = std::move(args);
  o.store = store;
  if (transport == Transport::kTcp) {
    o.tcp = test::TestAddress();
    return m_tcpSim.emplace(std::move(o));
  }
  o.pty = m_xdg.ComLink(SimCom());
  return m_serialSim.emplace(std::move(o));
}

std::string E2eTest::LinkSwitch(Transport transport) const {
  if (transport == Transport::kTcp) return m_tcpSim->TcpSwitch();
  return "/COM" + std::to_string(SimCom());
}

SimProcess& E2eTest::Sim(Transport transport) {
  return transport == Transport::kTcp ? *m_tcpSim : *m_serialSim;
}

ToolRun E2eTest::Run(const std::vector<std::string>& args,
                     std::chrono::milliseconds timeout) const {
  test::ProcessOptions o;
  o.setEnv.push_back(m_xdg.Env());
  o.workDir = m_pc.Str();
  if (ToolUnderWine()) {
    o.setEnv.emplace_back("WINEDEBUG", kWineBoxTrace);
    std::string wineErrors;
    ToolRun run = SplitWineTrace(test::RunProcess(test::ToolCommand(args), timeout, o), wineErrors);
    // Now and then Wine fails to start a program on its own: it ends at once with status 1
    // and no output of the program's (at most a line of its loader's). The tool ends so by
    // itself only after a delete, which prints nothing and which a second start repeats
    // harmlessly (it asks again for names already gone and ends with the same status), so such a
    // run is started once more.
    if (run.exited && run.exitCode == 1 && run.out.empty() && run.err.empty() &&
        run.boxes.empty()) {
      std::cout << "[ wine     ] the run ended with status 1 and no output; starting it once more"
                << (wineErrors.empty() ? std::string() : "; Wine said:\n" + wineErrors) << std::endl;
      wineErrors.clear();
      run = SplitWineTrace(test::RunProcess(test::ToolCommand(args), timeout, o), wineErrors);
    }
    return run;
  }
  ToolRun run;
  static_cast<ProcessResult&>(run) = test::RunProcess(test::ToolCommand(args), timeout, o);
  return run;
}

test::Subprocess E2eTest::Start(const std::vector<std::string>& args) const {
  test::ProcessOptions o;
  o.setEnv.push_back(m_xdg.Env());
  o.workDir = m_pc.Str();
  return test::Subprocess(test::ToolCommand(args), o);
}

std::string TransportName(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::kTcp ? "Tcp" : "Serial";
}

}  // namespace cabrix::e2e
