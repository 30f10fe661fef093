#include "fd_stream.h"

#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace plcsim {

namespace {
using Clock = std::chrono::steady_clock;
// A write that cannot go out for this long means the other side is not reading at all.
constexpr Millis kWriteStall{10000};

// The time a paced line takes for `bytes` bytes.
Clock::duration LineTime(std::size_t bytes, unsigned bytesPerSecond) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(double(bytes) / bytesPerSecond));
}
}  // namespace

FdStream::FdStream(int fd, int stopFd, bool isSocket)
    : m_fd(fd), m_stopFd(stopFd), m_isSocket(isSocket) {}

void FdStream::SetPace(unsigned bytesPerSecond) {
  m_bytesPerSecond = bytesPerSecond;
  // A paced unit is handed over when a sleep ends; the default slack of a sleep (50 us) would
  // add to every unit's line time.
  if (bytesPerSecond != 0) ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

bool FdStream::WaitFor(short events, Millis timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    pollfd fds[2] = {{m_fd, events, 0}, {m_stopFd, POLLIN, 0}};
    const auto left = std::chrono::duration_cast<Millis>(deadline - Clock::now());
    const int wait = static_cast<int>(std::max<Millis::rep>(0, left.count()));
    const int r = ::poll(fds, m_stopFd >= 0 ? 2 : 1, wait);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw StreamClosed(std::string("poll: ") + std::strerror(errno));
    if (m_stopFd >= 0 && (fds[1].revents & POLLIN)) throw StopRequested();
    if (r == 0) return false;
    if (fds[0].revents & (events | POLLHUP | POLLERR)) return true;
  }
}

std::size_t FdStream::ReadSome(std::span<std::uint8_t> buffer, Millis timeout) {
  if (buffer.empty()) return 0;
  const bool paced = m_bytesPerSecond != 0;
  for (;;) {
    if (m_inAt < m_inEnd) {
      const std::size_t n = std::min(buffer.size(), m_inEnd - m_inAt);
      // The bytes of one arrival cross a paced line one after the other, timed from the
      // arrival. They are handed out at once; nothing goes back before they are over.
      if (paced) m_inOver = m_inStart + LineTime(m_inAt + n, m_bytesPerSecond);
      std::copy_n(m_in.begin() + static_cast<std::ptrdiff_t>(m_inAt), n, buffer.begin());
      m_inAt += n;
      return n;
    }
    if (!WaitFor(POLLIN, timeout)) return 0;
    // On an unpaced pseudo-terminal only what is asked for is taken: what the PC has written and
    // the controller not yet read is its own to purge. On a paced line it is on its way once
    // written, and its time of arrival starts its way across.
    const std::size_t ask =
        m_isSocket || paced ? m_in.size() : std::min(m_in.size(), buffer.size());
    const ssize_t n = ::read(m_fd, m_in.data(), ask);
    if (n > 0) {
      m_inAt = 0;
      m_inEnd = static_cast<std::size_t>(n);
      if (paced) {
        m_inStart = std::max(m_inLineFree, Clock::now());
        m_inLineFree = m_inStart + LineTime(m_inEnd, m_bytesPerSecond);
      }
      continue;
    }
    if (n == 0) throw StreamClosed("end of stream");
    if (errno == EINTR || errno == EAGAIN) continue;
    throw StreamClosed(std::string("read: ") + std::strerror(errno));
  }
}

void FdStream::WriteAll(std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = m_isSocket
                          ? ::send(m_fd, data.data() + done, data.size() - done, MSG_NOSIGNAL)
                          : ::write(m_fd, data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      if (!WaitFor(POLLOUT, kWriteStall)) throw StreamClosed("the PC reads nothing");
      continue;
    }
    throw StreamClosed(std::string("write: ") + std::strerror(errno));
  }
}

void FdStream::Write(std::span<const std::uint8_t> data) {
  if (m_bytesPerSecond == 0) {
    WriteAll(data);
    return;
  }
  // Hand the bytes over in pieces of about a millisecond of line time, each once the line would
  // have carried its last byte, so that the PC sees them arrive at the line's rate.
  // The pieces are timed from when the line became free, not from when a late wake-up happened
  // to write them, so that the slack of every sleep does not add up over a unit.
  // An answer begins to cross once what it answers is over.
  const std::size_t piece = std::max<std::size_t>(1, m_bytesPerSecond / 1000);
  m_lineFree = std::max({m_lineFree, m_inOver, Clock::now()});
  for (std::size_t at = 0; at < data.size(); at += piece) {
    const auto chunk = data.subspan(at, std::min(piece, data.size() - at));
    m_lineFree += LineTime(chunk.size(), m_bytesPerSecond);
    SleepUntil(m_lineFree);
    WriteAll(chunk);
  }
}

void FdStream::Pause(Millis duration) {
  SleepUntil(std::max(Clock::now(), m_inOver) + duration);
}

void FdStream::SleepUntil(std::chrono::steady_clock::time_point when) {
  for (;;) {
    const auto left = when - Clock::now();
    if (left <= Clock::duration::zero()) return;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    // A connection the PC closes during a pause ends it: nobody is waiting any more.
    pollfd fds[2] = {{m_stopFd, POLLIN, 0}, {m_fd, POLLRDHUP, 0}};
    pollfd* first = m_stopFd >= 0 ? fds : fds + 1;
    const nfds_t count = (m_stopFd >= 0 ? 1 : 0) + (m_isSocket ? 1 : 0);
    const int r = ::ppoll(first, count, &ts, nullptr);
    if (r <= 0) continue;
    if (m_stopFd >= 0 && fds[0].revents) throw StopRequested();
    if (m_isSocket && fds[1].revents) throw StreamClosed("the PC closed the connection");
  }
}

void FdStream::Discard(Millis quiet, Millis limit) {
  const auto deadline = Clock::now() + limit;
  std::uint8_t buf[512];
  while (Clock::now() < deadline) {
    if (ReadSome(buf, quiet) == 0) return;
  }
}

}  // namespace plcsim
