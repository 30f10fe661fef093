#include "support/sim_process.h"

#include <signal.h>

#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "support/tool_command.h"

namespace cabrix::test {

namespace fs = std::filesystem;

struct SimProcess::Impl {
  TempDir dir{"plcsim-test"};
  fs::path store;
  fs::path log;
  std::string readyLine;
  std::string tcpAddress;
  std::uint16_t tcpPort = 0;
  fs::path pty;
  fs::path ptyDevice;  // what the link at `pty` led to once the simulator was ready
  std::optional<Subprocess> process;
  std::optional<ProcessResult> stopped;

  // For a simulator about to be killed: after that nobody removes the link.
  void RemovePtyLink() const {
    if (pty.empty() || ptyDevice.empty()) return;
    std::error_code ec;
    if (fs::read_symlink(pty, ec) == ptyDevice && !ec) fs::remove(pty, ec);
  }

  // Waits at most `timeout` for the simulator to end; one that has not is killed, its link
  // removed first.
  ProcessResult EndWithin(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (process->Running() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (process->Running()) RemovePtyLink();
    return process->Wait(std::chrono::milliseconds(0));
  }
};

SimProcess::SimProcess(SimOptions options) : m_impl(std::make_unique<Impl>()) {
  Impl& p = *m_impl;
  p.store = options.store.empty() ? p.dir / "store" : options.store;
  fs::create_directories(p.store);
  p.log = p.dir / "plcsim.log";

  std::vector<std::string> argv{SimPath().string(), "--store", p.store.string(), "--log",
                                p.log.string()};
  if (!options.tcp.empty()) {
    argv.insert(argv.end(), {"--tcp", options.tcp});
  }
  if (!options.pty.empty()) {
    argv.insert(argv.end(), {"--pty", options.pty.string()});
  }
  argv.insert(argv.end(), options.args.begin(), options.args.end());

  p.process.emplace(argv, options.process);
  const auto line = p.process->WaitForFirstLine(options.readyTimeout);
  if (!line || line->rfind("plcsim ready:", 0) != 0) {
    // It may have linked its pseudo-terminal already.
    p.pty = options.pty;
    std::error_code ec;
    p.ptyDevice = fs::read_symlink(p.pty, ec);
    const ProcessResult r = p.EndWithin(std::chrono::milliseconds(2000));
    p.stopped = r;
    throw std::runtime_error("plcsim did not get ready: " + r.Describe());
  }
  p.readyLine = *line;

  // "plcsim ready: tcp 127.0.0.5:1200 pty /tmp/x/com3"
  std::istringstream words(p.readyLine.substr(std::string("plcsim ready:").size()));
  for (std::string word; words >> word;) {
    if (word == "tcp") {
      std::string endpoint;
      words >> endpoint;
      const auto colon = endpoint.rfind(':');
      p.tcpAddress = endpoint.substr(0, colon);
      if (colon != std::string::npos) {
        p.tcpPort = static_cast<std::uint16_t>(std::stoi(endpoint.substr(colon + 1)));
      }
    } else if (word == "pty") {
      std::string path;
      words >> path;
      p.pty = path;
    }
  }
  if (!p.pty.empty()) {
    std::error_code ec;
    p.ptyDevice = fs::read_symlink(p.pty, ec);
  }
}

SimProcess::~SimProcess() {
  if (m_impl) Stop();
}

SimProcess::SimProcess(SimProcess&&) noexcept = default;
SimProcess& SimProcess::operator=(SimProcess&& o) noexcept {
  if (this != &o) {
    if (m_impl) Stop();
    m_impl = std::move(o.m_impl);
  }
  return *this;
}

SimProcess SimProcess::OnTcp(const std::string& address, std::vector<std::string> args) {
  SimOptions o;
  o.tcp = address;
  o.args = std::move(args);
  return SimProcess(std::move(o));
}

SimProcess SimProcess::OnPty(const fs::path& pty, std::vector<std::string> args) {
  SimOptions o;
  o.pty = pty;
  o.args = std::move(args);
  return SimProcess(std::move(o));
}

const std::string& SimProcess::ReadyLine() const { return m_impl->readyLine; }
std::string SimProcess::TcpAddress() const { return m_impl->tcpAddress; }
std::uint16_t SimProcess::TcpPort() const { return m_impl->tcpPort; }
std::string SimProcess::TcpSwitch() const { return "/TCP" + m_impl->tcpAddress; }
fs::path SimProcess::PtyPath() const { return m_impl->pty; }
const fs::path& SimProcess::Store() const { return m_impl->store; }
const fs::path& SimProcess::LogPath() const { return m_impl->log; }

std::string SimProcess::Log() const {
  std::error_code ec;
  if (!fs::exists(m_impl->log, ec)) return {};
  try {
    return ReadFileBytes(m_impl->log);
  } catch (const std::exception&) {
    return {};
  }
}

bool SimProcess::WaitForLog(std::string_view text, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (Log().find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

ProcessResult SimProcess::Stop(std::chrono::milliseconds timeout) {
  Impl& p = *m_impl;
  if (!p.stopped) {
    p.process->Signal(SIGTERM);
    p.stopped = p.EndWithin(timeout);
  }
  return *p.stopped;
}

void SimProcess::Signal(int signo) {
  if (m_impl->stopped) return;
  if (signo == SIGKILL) m_impl->RemovePtyLink();
  m_impl->process->Signal(signo);
}

bool SimProcess::Running() { return !m_impl->stopped && m_impl->process->Running(); }

}  // namespace cabrix::test
