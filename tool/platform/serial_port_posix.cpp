#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <optional>

#include "platform/com_map.h"
#include "platform/deadline_p.h"
#include "platform/stop_request_posix_p.h"
#include "platform/unique_fd.h"

namespace cabrix::platform {

namespace {

using std::chrono::milliseconds;

// The value a time-out field takes for "no limit" in the combinations below.
constexpr std::uint32_t kMaxTimeout = 0xFFFFFFFF;

// Raw mode: the port passes every byte as it is, in both directions. A tty starts with XON/XOFF
// on, which would swallow the data bytes 0x11 and 0x13; a serial port on the controller's side
// has no such thing. Hardware flow control (CRTSCTS) and the modem lines (CLOCAL, HUPCL) stay as
// the port had them.
void MakeRaw(termios& tio) {
  tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK);
#ifdef IUCLC
  tio.c_iflag &= ~static_cast<tcflag_t>(IUCLC);
#endif
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB);
#ifdef CMSPAR
  tio.c_cflag &= ~static_cast<tcflag_t>(CMSPAR);
#endif
  tio.c_cflag |= CS8 | CREAD;
  tio.c_cc[VMIN] = 1;  // with O_NONBLOCK: EAGAIN when nothing is there, 0 only on a hang-up
  tio.c_cc[VTIME] = 0;
}

bool LineIs115200_8N1(const termios& tio) {
  return cfgetispeed(&tio) == B115200 && cfgetospeed(&tio) == B115200 &&
         (tio.c_cflag & CSIZE) == CS8 && (tio.c_cflag & (PARENB | CSTOPB)) == 0;
}

}  // namespace

struct SerialPort::Impl {
  UniqueFd fd;
  bool setExclusive = false;  // whether TIOCEXCL was ours to set, and so ours to clear
  SerialTimeouts timeouts;
};

SerialPort::SerialPort() : m_impl(std::make_unique<Impl>()) {}
SerialPort::~SerialPort() { Close(); }
SerialPort::SerialPort(SerialPort&&) noexcept = default;
SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
  if (this != &other) {
    Close();
    m_impl = std::move(other.m_impl);
  }
  return *this;
}

bool SerialPort::IsOpen() const { return m_impl && m_impl->fd.Valid(); }

bool SerialPort::Open(int number) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  const std::optional<std::string> device = ResolveComDevice(number);
  if (!device) return false;

  // O_NONBLOCK keeps the open from waiting for a modem's carrier, and stays on afterwards: every
  // read and write is bounded by poll(), which a blocking write could not be.
  int raw = -1;
  do {
    raw = ::open(device->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (raw < 0 && errno == EINTR);
  UniqueFd fd(raw);
  if (!fd.Valid()) return false;  // no such port, a dangling map link, or held (EBUSY)

  // The lock first: a port that another program holds is left exactly as that program set it.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;

  // TIOCEXCL keeps every later open out (root excepted, whom the lock stops). It is a flag of
  // the tty, not of this descriptor, so it is cleared on close only when this open set it.
  int alreadyExclusive = 0;
#ifdef TIOCGEXCL
  if (::ioctl(fd.Get(), TIOCGEXCL, &alreadyExclusive) != 0) alreadyExclusive = 0;
#endif
  bool setExclusive = false;
  if (alreadyExclusive == 0) setExclusive = ::ioctl(fd.Get(), TIOCEXCL) == 0;
  // A device that is no tty at all fails its TIOCEXCL; Configure then reports it, as reading
  // the line settings of a non-port fails.

  m_impl->fd = std::move(fd);
  m_impl->setExclusive = setExclusive;
  m_impl->timeouts = SerialTimeouts{};
  return true;
}

SerialConfigResult SerialPort::Configure(const SerialTimeouts& timeouts) {
  if (!IsOpen()) return SerialConfigResult::kGetStateFailed;
  const int fd = m_impl->fd.Get();
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return SerialConfigResult::kGetStateFailed;
  MakeRaw(tio);
  if (::cfsetispeed(&tio, B115200) != 0 || ::cfsetospeed(&tio, B115200) != 0)
    return SerialConfigResult::kSetStateFailed;
  int rc = 0;
  do {
    rc = ::tcsetattr(fd, TCSANOW, &tio);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return SerialConfigResult::kSetStateFailed;
  // tcsetattr succeeds when any part of the request was taken; the line must really be 8N1.
  termios applied{};
  if (::tcgetattr(fd, &applied) != 0 || !LineIs115200_8N1(applied))
    return SerialConfigResult::kSetStateFailed;

  m_impl->timeouts = timeouts;  // applied by Read and Write themselves
  return SerialConfigResult::kOk;
}

bool SerialPort::Purge() { return IsOpen() && ::tcflush(m_impl->fd.Get(), TCIOFLUSH) == 0; }

IoResult SerialPort::Read(std::span<std::uint8_t> buffer) {
  if (!IsOpen()) return {};
  const std::size_t wanted = buffer.size();
  if (wanted == 0) return {true, 0};
  const SerialTimeouts& t = m_impl->timeouts;
  const int fd = m_impl->fd.Get();
  const auto start = SteadyClock::now();

  // Two combinations of the fields have meanings of their own: "interval at most, totals 0"
  // returns at once with what is there; "interval and multiplier at most, a constant" returns as
  // soon as anything is there, waiting at most the constant for it.
  const bool returnAtOnce =
      t.readIntervalMs == kMaxTimeout && t.readTotalMultiplierMs == 0 && t.readTotalConstantMs == 0;
  const bool returnOnFirstBytes = t.readIntervalMs == kMaxTimeout &&
                                  t.readTotalMultiplierMs == kMaxTimeout &&
                                  t.readTotalConstantMs != 0 && t.readTotalConstantMs != kMaxTimeout;

  std::optional<SteadyClock::time_point> totalDeadline;
  if (returnAtOnce) {
    totalDeadline = start;
  } else if (returnOnFirstBytes) {
    totalDeadline = start + milliseconds(t.readTotalConstantMs);
  } else if (t.readTotalMultiplierMs != 0 || t.readTotalConstantMs != 0) {
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(t.readTotalMultiplierMs) * wanted + t.readTotalConstantMs;
    totalDeadline = start + milliseconds(static_cast<std::int64_t>(totalMs));
  }
  // An interval of 0 sets no interval limit.
  const bool useInterval = t.readIntervalMs != 0 && !returnAtOnce && !returnOnFirstBytes;

  std::size_t got = 0;
  SteadyClock::time_point lastArrival{};
  bool lineTrouble = false;
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data() + got, wanted - got);
    if (n > 0) {
      got += static_cast<std::size_t>(n);
      lastArrival = SteadyClock::now();
      if (got == wanted || returnOnFirstBytes) return {true, got};
      continue;
    }
    if (n == 0) return {false, got};  // the line hung up
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {false, got};
    if (lineTrouble) return {false, got};  // poll saw an error or hang-up, read has nothing

    std::optional<SteadyClock::time_point> deadline = totalDeadline;
    if (useInterval && got > 0) {
      const auto intervalEnd = lastArrival + milliseconds(t.readIntervalMs);
      if (!deadline || intervalEnd < *deadline) deadline = intervalEnd;
    }
    if (deadline && SteadyClock::now() >= *deadline) return {true, got};

    pollfd p[2] = {{fd, POLLIN, 0}, {StopWakeFd(), POLLIN, 0}};
    const int ready = ::poll(p, 2, PollTimeoutMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {false, got};
    }
    if (p[1].revents != 0) return {true, got};  // asked to stop: the caller sees to that
    if (ready > 0) {
      if ((p[0].revents & POLLNVAL) != 0) return {false, got};
      lineTrouble = (p[0].revents & (POLLERR | POLLHUP)) != 0 && (p[0].revents & POLLIN) == 0;
    }
  }
}

IoResult SerialPort::ReadWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) {
  if (!IsOpen()) return {};
  if (buffer.empty()) return {true, 0};
  const int fd = m_impl->fd.Get();
  const auto deadline = SteadyClock::now() + std::max(wait, milliseconds(0));
  for (;;) {
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) return {true, static_cast<std::size_t>(n)};
    if (n == 0) return {false, 0};  // the line hung up
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return {false, 0};
    if (SteadyClock::now() >= deadline) return {true, 0};
    pollfd p[2] = {{fd, POLLIN, 0}, {StopWakeFd(), POLLIN, 0}};
    const int ready = ::poll(p, 2, PollTimeoutMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {false, 0};
    }
    if (ready == 0 || p[1].revents != 0) return {true, 0};  // a stop: the caller sees to that
    if ((p[0].revents & POLLNVAL) != 0) return {false, 0};
    if ((p[0].revents & (POLLERR | POLLHUP)) != 0 && (p[0].revents & POLLIN) == 0) {
      return {false, 0};
    }
  }
}

IoResult SerialPort::Write(std::span<const std::uint8_t> data) {
  if (!IsOpen()) return {};
  const std::size_t total = data.size();
  if (total == 0) return {true, 0};
  const SerialTimeouts& t = m_impl->timeouts;
  const int fd = m_impl->fd.Get();

  std::optional<SteadyClock::time_point> deadline;
  if (t.writeTotalMultiplierMs != 0 || t.writeTotalConstantMs != 0) {
    const std::uint64_t totalMs =
        static_cast<std::uint64_t>(t.writeTotalMultiplierMs) * total + t.writeTotalConstantMs;
    deadline = SteadyClock::now() + milliseconds(static_cast<std::int64_t>(totalMs));
  }

  // A write is done when the driver has taken every byte; a full output queue is waited out
  // until the total runs out, and what was taken by then is the count.
  std::size_t done = 0;
  bool lineTrouble = false;
  for (;;) {
    const ssize_t n = ::write(fd, data.data() + done, total - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      if (done == total) return {true, done};
      continue;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return {false, done};
    }
    if (lineTrouble) return {false, done};
    if (deadline && SteadyClock::now() >= *deadline) return {true, done};

    pollfd p[2] = {{fd, POLLOUT, 0}, {StopWakeFd(), POLLIN, 0}};
    const int ready = ::poll(p, 2, PollTimeoutMs(deadline));
    if (ready < 0) {
      if (errno == EINTR) continue;
      return {false, done};
    }
    if (p[1].revents != 0) return {true, done};  // asked to stop
    if (ready > 0) {
      if ((p[0].revents & POLLNVAL) != 0) return {false, done};
      lineTrouble = (p[0].revents & (POLLERR | POLLHUP)) != 0 && (p[0].revents & POLLOUT) == 0;
    }
  }
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  const int fd = m_impl->fd.Get();
  // Exclusivity goes before the close, so that the next exchange of this run, or another
  // program, can open the port, also as a user other than root.
  if (m_impl->setExclusive) ::ioctl(fd, TIOCNXCL);
  ::flock(fd, LOCK_UN);
  m_impl->fd.Reset();
  m_impl->setExclusive = false;
}

}  // namespace cabrix::platform
