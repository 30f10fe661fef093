#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/serial_port.h"

namespace cabrix::platform {

namespace {

// Both directions: abort what is under way and drop what is buffered.
constexpr DWORD kPurgeBoth = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
static_assert(kPurgeBoth == 15);

// A single ReadFile or WriteFile moves at most this many bytes; the frames are far smaller.
DWORD ClampedSize(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, 0x7FFFFFFF));
}

}  // namespace

struct SerialPort::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  COMMTIMEOUTS timeouts{};  // as Configure set them
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
  // Share mode 0 takes the port exclusively; flags 0 keeps every call synchronous.
  const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr);
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
  m_impl->timeouts = t;
  return SerialConfigResult::kOk;
}

bool SerialPort::Purge() { return IsOpen() && PurgeComm(m_impl->handle, kPurgeBoth) != 0; }

IoResult SerialPort::Read(std::span<std::uint8_t> buffer) {
  if (!IsOpen()) return {};
  DWORD got = 0;
  const BOOL ok = ReadFile(m_impl->handle, buffer.data(), ClampedSize(buffer.size()), &got, nullptr);
  return {ok != 0, got};
}

IoResult SerialPort::ReadWithin(std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) {
  if (!IsOpen()) return {};
  if (buffer.empty()) return {true, 0};
  const HANDLE h = m_impl->handle;
  DWORD got = 0;
  if (wait.count() <= 0) {
    // What the driver holds already: a read of no more than that returns at once.
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(h, &errors, &status)) return {false, 0};
    const DWORD n = std::min<DWORD>(status.cbInQue, ClampedSize(buffer.size()));
    if (n == 0) return {true, 0};
    const BOOL ok = ReadFile(h, buffer.data(), n, &got, nullptr);
    return {ok != 0, got};
  }
  // Interval and multiplier at MAXDWORD with a constant: the read returns as soon as anything is
  // there, waiting at most the constant for it. The port's own time-outs come back after it.
  COMMTIMEOUTS brief = m_impl->timeouts;
  brief.ReadIntervalTimeout = MAXDWORD;
  brief.ReadTotalTimeoutMultiplier = MAXDWORD;
  brief.ReadTotalTimeoutConstant =
      static_cast<DWORD>(std::min<long long>(wait.count(), MAXDWORD - 1));
  if (!SetCommTimeouts(h, &brief)) return {false, 0};
  const BOOL ok = ReadFile(h, buffer.data(), ClampedSize(buffer.size()), &got, nullptr);
  const BOOL restored = SetCommTimeouts(h, &m_impl->timeouts);
  return {ok != 0 && restored != 0, got};
}

IoResult SerialPort::Write(std::span<const std::uint8_t> data) {
  if (!IsOpen()) return {};
  DWORD put = 0;
  const BOOL ok = WriteFile(m_impl->handle, data.data(), ClampedSize(data.size()), &put, nullptr);
  return {ok != 0, put};
}

void SerialPort::Close() {
  if (!IsOpen()) return;
  CloseHandle(m_impl->handle);
  m_impl->handle = INVALID_HANDLE_VALUE;
}

}  // namespace cabrix::platform
