#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/serial_port.h"
#include "platform/stop_request_win_p.h"

namespace cabrix::platform {

namespace {

// Both directions: abort what is under way and drop what is buffered.
constexpr DWORD kPurgeBoth = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
static_assert(kPurgeBoth == 15);

// How often ReadWithin looks at the input queue while nothing is there.
constexpr long long kQueueLookMs = 5;

// A single ReadFile or WriteFile moves at most this many bytes; the frames are far smaller.
DWORD ClampedSize(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, 0x7FFFFFFF));
}

}  // namespace

struct SerialPort::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  HANDLE done = nullptr;  // signalled when a read or write is over

  ~Impl() {
    if (done != nullptr) CloseHandle(done);
  }

  // One read or write under the port's time-outs. The port is opened for overlapped calls only
  // so that a stop request can end the wait: the call itself is waited for to its end, as a
  // synchronous one would be, unless the program is asked to stop, which cancels it.
  IoResult Transfer(bool write, void* data, DWORD size) {
    if (done == nullptr) done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr) return {};
    OVERLAPPED call{};
    call.hEvent = done;
    ResetEvent(done);
    const BOOL started = write ? WriteFile(handle, data, size, nullptr, &call)
                               : ReadFile(handle, data, size, nullptr, &call);
    if (!started && GetLastError() != ERROR_IO_PENDING) return {};
    if (!started) {
      const HANDLE stop = StopEventHandle();
      const HANDLE waits[2] = {done, stop};
      if (WaitForMultipleObjects(stop != nullptr ? 2 : 1, waits, FALSE, INFINITE) !=
          WAIT_OBJECT_0) {
        CancelIoEx(handle, &call);  // asked to stop: the caller sees to that
      }
    }
    DWORD moved = 0;
    const BOOL ok = GetOverlappedResult(handle, &call, &moved, TRUE);
    if (ok) return {true, moved};
    // A call that its time-outs ended is no failure, as in synchronous mode (where it succeeds
    // with what arrived); some systems report it as ERROR_TIMEOUT on an overlapped handle.
    const DWORD error = GetLastError();
    return {error == ERROR_OPERATION_ABORTED || error == ERROR_TIMEOUT, moved};
  }
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

bool SerialPort::Open(int number) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  // The \\.\ form reaches ports above COM9 as well.
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", number);
  // Share mode 0 takes the port exclusively. Every call is waited for to its end (Transfer).
  const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  m_impl->handle = h;
  return true;
}

bool SerialPort::IsOpen() const { return m_impl && m_impl->handle != INVALID_HANDLE_VALUE; }

SerialConfigResult SerialPort::Configure(const SerialTimeouts& timeouts) {
  if (!IsOpen()) return SerialConfigResult::kGetStateFailed;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(m_impl->handle, &dcb)) return SerialConfigResult::kGetStateFailed;
  // Only the four line settings change; flow control and the rest stay as the port had them.
  dcb.BaudRate = CBR_115200;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(m_impl->handle, &dcb)) return SerialConfigResult::kSetStateFailed;

  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = timeouts.readIntervalMs;
  t.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplierMs;
  t.ReadTotalTimeoutConstant = timeouts.readTotalConstantMs;
  t.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplierMs;
  t.WriteTotalTimeoutConstant = timeouts.writeTotalConstantMs;
  if (!SetCommTimeouts(m_impl->handle, &t)) return SerialConfigResult::kSetTimeoutsFailed;
  return SerialConfigResult::kOk;
}

bool SerialPort::Purge() { return IsOpen() && PurgeComm(m_impl->handle, kPurgeBoth) != 0; }

IoResult SerialPort::Read(std::span<std::uint8_t> buffer) {
  if (!IsOpen()) return {};
  return m_impl->Transfer(false, buffer.data(), ClampedSize(buffer.size()));
}

IoResult SerialPort::ReadWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) {
  if (!IsOpen()) return {};
  if (buffer.empty()) return {true, 0};
  // What the driver holds is read at once: a read of no more than that never waits. Until
  // something is there, the queue is looked at again every few milliseconds, `wait` in all.
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + wait;
  for (;;) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(m_impl->handle, &errors, &status)) return {false, 0};
    const DWORD n = std::min<DWORD>(status.cbInQue, ClampedSize(buffer.size()));
    if (n > 0) return m_impl->Transfer(false, buffer.data(), n);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return {true, 0};
    const DWORD pause = static_cast<DWORD>(std::min<long long>(left.count(), kQueueLookMs));
    const HANDLE stop = StopEventHandle();
    if (stop == nullptr) {
      Sleep(pause);
    } else if (WaitForSingleObject(stop, pause) == WAIT_OBJECT_0) {
      return {true, 0};  // asked to stop: the caller sees to that
    }
  }
}

IoResult SerialPort::Write(std::span<const std::uint8_t> data) {
  if (!IsOpen()) return {};
  return m_impl->Transfer(true, const_cast<std::uint8_t*>(data.data()), ClampedSize(data.size()));
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  CloseHandle(m_impl->handle);
  m_impl->handle = INVALID_HANDLE_VALUE;
}

}  // namespace cabrix::platform
