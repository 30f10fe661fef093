#include "pty_relay.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <vector>

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

void MakeRaw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return;
  ::cfmakeraw(&t);
  ::tcsetattr(fd, TCSANOW, &t);
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, data + done, n - done);
    if (w > 0) {
      done += static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EAGAIN) {
      pollfd p{fd, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return false;
    } else if (w < 0 && errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace

PtyRelay::PtyRelay(const std::string& controllerPath, const std::string& pcLinkPath,
                   double bytesPerSecond)
    : m_link(pcLinkPath), m_bytesPerSecond(bytesPerSecond) {
  m_controller = ::open(controllerPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_controller < 0 || m_master < 0) return;
  if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) return;
  const char* slaveName = ::ptsname(m_master);
  if (slaveName == nullptr) return;
  m_slave = ::open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_slave < 0) return;
  MakeRaw(m_slave);
  MakeRaw(m_controller);
  ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
  ::unlink(pcLinkPath.c_str());
  if (::symlink(slaveName, pcLinkPath.c_str()) != 0) return;
  if (::pipe2(m_stop, O_CLOEXEC) != 0) return;
  m_ok = true;
  m_thread = std::thread([this] { Run(); });
}

PtyRelay::~PtyRelay() {
  if (m_thread.joinable()) {
    const char c = 0;
    (void)!::write(m_stop[1], &c, 1);
    m_thread.join();
  }
  ::unlink(m_link.c_str());
  for (const int fd : {m_controller, m_master, m_slave, m_stop[0], m_stop[1]}) {
    if (fd >= 0) ::close(fd);
  }
}

void PtyRelay::Run() {
  // Bytes from the PC wait here until the line has carried them: they go out in pieces of about a
  // millisecond of line time, each piece once its last byte would have crossed the line.
  std::deque<std::uint8_t> toController;
  const std::size_t piece = std::max<std::size_t>(1, static_cast<std::size_t>(m_bytesPerSecond / 1000));
  Clock::time_point lineFree = Clock::now();
  std::vector<std::uint8_t> buf(4096);
  for (;;) {
    const auto now = Clock::now();
    const std::size_t n = std::min(piece, toController.size());
    // Timed from when the line became free, so that late wake-ups do not add up.
    const Clock::time_point carried =
        lineFree + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(double(n) / m_bytesPerSecond));
    if (n > 0 && carried <= now) {
      std::vector<std::uint8_t> chunk(toController.begin(),
                                      toController.begin() + static_cast<std::ptrdiff_t>(n));
      toController.erase(toController.begin(),
                         toController.begin() + static_cast<std::ptrdiff_t>(n));
      if (!WriteAll(m_controller, chunk.data(), chunk.size())) return;
      lineFree = carried;
      continue;
    }
    timespec wait{};
    timespec* waitPtr = nullptr;
    if (n > 0) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(carried - now).count();
      wait = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
      waitPtr = &wait;
    }
    pollfd fds[3] = {{m_stop[0], POLLIN, 0}, {m_master, POLLIN, 0}, {m_controller, POLLIN, 0}};
    const int r = ::ppoll(fds, 3, waitPtr, nullptr);
    if (r < 0 && errno != EINTR) return;
    if (r <= 0) continue;
    if (fds[0].revents) return;
    if (fds[1].revents & POLLIN) {
      const ssize_t n = ::read(m_master, buf.data(), buf.size());
      if (n > 0) {
        // An idle line starts carrying at once.
        if (toController.empty()) lineFree = std::max(lineFree, Clock::now());
        toController.insert(toController.end(), buf.begin(), buf.begin() + n);
      }
    }
    if (fds[2].revents & POLLIN) {
      const ssize_t n = ::read(m_controller, buf.data(), buf.size());
      if (n > 0 && !WriteAll(m_master, buf.data(), static_cast<std::size_t>(n))) return;
    }
  }
}

}  // namespace bench
