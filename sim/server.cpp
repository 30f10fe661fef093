#include "server.h"

#include <poll.h>

#include <cerrno>

#include "exchange.h"

namespace plcsim {

namespace {
// After an exchange that went wrong on the serial line: drop input until the line has been
// quiet this long.
constexpr Millis kSerialQuiet{300};
constexpr Millis kSerialDrainLimit{10000};
constexpr int kLingerMs = 5000;
}  // namespace

Server::Server(const SimConfig& config, SimLog& log, int stopFd)
    : m_config(config), m_log(log), m_stopFd(stopFd), m_store(config.store) {
  for (const auto& f : config.faults) m_faults.Add(f);
  if (config.tcp) m_tcp.emplace(*config.tcp);
  if (!config.pty.empty()) {
    m_pty = std::make_unique<PtyEndpoint>(config.pty);
    m_ptyStream = std::make_unique<FdStream>(m_pty->MasterFd(), stopFd, false);
    if (config.baud) m_ptyStream->SetPace(config.baud / 10);
  }
}

std::string Server::ReadyLine() const {
  std::string line = "plcsim ready:";
  if (m_tcp) line += " tcp " + FormatTcpAddress(m_tcp->Address());
  if (m_pty) line += " pty " + m_pty->LinkPath();
  return line;
}

void Server::Run() {
  m_log.Note(ReadyLine() + (m_pty ? " (device " + m_pty->DevicePath() + ")" : "") + ", store " +
             m_store.Folder());
  for (;;) {
    pollfd fds[3];
    nfds_t n = 0;
    fds[n++] = {m_stopFd, POLLIN, 0};
    const int tcpIndex = m_tcp ? static_cast<int>(n) : -1;
    if (m_tcp) fds[n++] = {m_tcp->Fd(), POLLIN, 0};
    const int ptyIndex = m_pty ? static_cast<int>(n) : -1;
    if (m_pty) fds[n++] = {m_pty->MasterFd(), POLLIN, 0};
    // A paced line's read may have taken in, with the last unit of an exchange, the beginning
    // of the next one (a late wake-up, a PC that went on at once): it waits in the stream, and
    // the device shows nothing more to read.
    const bool takenIn = m_ptyStream && m_ptyStream->HasTakenIn();
    const int r = ::poll(fds, n, takenIn ? 0 : -1);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || fds[0].revents) return;
    try {
      if (tcpIndex >= 0 && fds[tcpIndex].revents) ServeTcpConnection();
      if (ptyIndex >= 0 && (fds[ptyIndex].revents || takenIn)) ServeSerial();
    } catch (const StopRequested&) {
      return;
    }
  }
}

void Server::ServeTcpConnection() {
  std::string peer;
  UniqueFd socket = m_tcp->Accept(peer);
  if (!socket.Valid()) return;
  m_log.SetTag("tcp#" + std::to_string(++m_tcpCount));
  m_log.Note("connection from " + peer);
  FdStream stream(socket.Get(), m_stopFd, true);
  UnitIo io(stream, m_log, Millis(m_config.idleSeconds * 1000));
  ExchangeEnv env{io, m_store, m_faults, Transport::kTcp, m_config.info};
  const ExchangeResult result = ServeExchange(env);
  switch (result.end) {
    case ExchangeEnd::kCompleted:
      CloseAfterPeer(socket, m_stopFd, kLingerMs, true);
      break;
    case ExchangeEnd::kSilent:
      // Say nothing more; the PC gives up and closes, or the idle time ends it.
      m_log.Note("silent until the PC closes the connection");
      CloseAfterPeer(socket, m_stopFd, m_config.idleSeconds * 1000, false);
      break;
    case ExchangeEnd::kClose:
    case ExchangeEnd::kProblem:
    case ExchangeEnd::kPeerGone:
      socket.Reset();
      break;
  }
  m_log.Note("connection closed");
  m_log.SetTag("");
}

void Server::ServeSerial() {
  std::optional<Unit> next;
  do {
    m_log.SetTag("pty#" + std::to_string(++m_serialCount));
    UnitIo io(*m_ptyStream, m_log, Millis(m_config.idleSeconds * 1000));
    ExchangeEnv env{io, m_store, m_faults, Transport::kSerial, m_config.info};
    ExchangeResult result = ServeExchange(env, std::move(next));
    next = std::move(result.next);
    if (result.end != ExchangeEnd::kCompleted && !next) {
      if (result.end == ExchangeEnd::kClose) {
        m_log.Note("no connection to close on the serial line: going silent instead");
      }
      m_log.Note("draining the line");
      m_ptyStream->Discard(kSerialQuiet, kSerialDrainLimit);
    }
  } while (next);
  m_log.SetTag("");
}

std::vector<std::string> Server::Finish() {
  const std::size_t removed = m_store.RemoveTemporaries();
  if (removed) m_log.Note("removed " + std::to_string(removed) + " temporary file(s)");
  auto summary = m_faults.Summary();
  for (const auto& line : summary) m_log.Note(line);
  return summary;
}

}  // namespace plcsim
