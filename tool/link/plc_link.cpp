#include "link/plc_link.h"

#include <algorithm>
#include <chrono>

#include "link/link_error.h"
#include "platform/stop_request.h"
#include "wire/frame.h"

namespace cabrix {

namespace {
// A drain that never finds the line quiet gives up after this long; the rejection then goes out
// all the same.
constexpr std::chrono::milliseconds kDrainLimit{2000};
}  // namespace

CPlcLink::CPlcLink() {
  // The event is created not signalled by StopEvent's constructor (which throws when it cannot
  // be had); the reset mirrors the order of construction the exchanges rely on.
  m_stopEvent.Reset();
}

CPlcLink::~CPlcLink() = default;

// The program's own stop request (platform/stop_request.h) counts as the link's stop event: a
// stop from outside ends the exchange at its next transport call, and a call that it cut short
// ends with the same code, whatever the call itself returned.
void CPlcLink::CheckStop() {
  if (m_stopEvent.TryWait() || platform::StopRequested()) throw CLinkError(kLinkStopped);
}

void CPlcLink::CheckStopAfterCall() {
  if (platform::StopRequested()) throw CLinkError(kLinkStopped);
}

platform::SerialPort CPlcLink::OpenSerial(int port) {
  platform::SerialPort handle;
  if (!handle.Open(port)) throw CLinkError(kLinkCannotOpen);
  return handle;
}

bool CPlcLink::ConfigureSerial(platform::SerialPort& handle, std::uint32_t writeTotalConstant,
                               std::uint32_t writeTotalMultiplier,
                               std::uint32_t readTotalMultiplier, std::uint32_t readInterval,
                               std::uint32_t readTotalConstant) {
  platform::SerialTimeouts timeouts;
  timeouts.readIntervalMs = readInterval;
  timeouts.readTotalMultiplierMs = readTotalMultiplier;
  timeouts.readTotalConstantMs = readTotalConstant;
  timeouts.writeTotalMultiplierMs = writeTotalMultiplier;
  timeouts.writeTotalConstantMs = writeTotalConstant;
  if (readInterval != 0) m_readInterval = std::chrono::milliseconds(readInterval);
  switch (handle.Configure(timeouts)) {
    case platform::SerialConfigResult::kOk: break;
    case platform::SerialConfigResult::kGetStateFailed: throw CLinkError(kLinkGetStateFailed);
    case platform::SerialConfigResult::kSetStateFailed: throw CLinkError(kLinkSetStateFailed);
    case platform::SerialConfigResult::kSetTimeoutsFailed:
      throw CLinkError(kLinkSetTimeoutsFailed);
  }
  handle.Purge();
  return true;
}

int CPlcLink::ReadSerial(platform::SerialPort& handle, std::span<std::uint8_t> buffer) {
  CheckStop();
  const platform::IoResult r = handle.Read(buffer);
  CheckStopAfterCall();
  if (!r.ok) throw CLinkError(kLinkCallFailed);
  if (r.count == 0) throw CLinkError(kLinkNoData);
  return static_cast<int>(r.count);
}

std::size_t CPlcLink::ReadSerialWithin(platform::SerialPort& handle, std::span<std::uint8_t> buffer,
                                       std::chrono::milliseconds wait) {
  CheckStop();
  const platform::IoResult r = handle.ReadWithin(buffer, wait);
  CheckStopAfterCall();
  if (!r.ok) throw CLinkError(kLinkCallFailed);
  return r.count;
}

bool CPlcLink::WriteSerial(platform::SerialPort& handle, std::span<const std::uint8_t> data) {
  CheckStop();
  const platform::IoResult r = handle.Write(data);
  CheckStopAfterCall();
  if (!r.ok) throw CLinkError(kLinkCallFailed);
  if (r.count == 0 || r.count < data.size()) throw CLinkError(kLinkShortWrite);
  return true;
}

void CPlcLink::FlushSerial(platform::SerialPort& handle) { handle.Purge(); }

platform::TcpSocket CPlcLink::ConnectTcp(int port, const platform::Ipv4Address& address) {
  platform::TcpSocket socket;
  // A connect that a stop request cut short, or one made as it came, is no connection.
  if (!platform::StopRequested()) socket.Connect(address, static_cast<std::uint16_t>(port));
  if (platform::StopRequested()) socket.Close();
  return socket;
}

void CPlcLink::SetReceiveBound(std::uint32_t multiplierMs, std::uint32_t constantMs) {
  m_receiveMultiplierMs = multiplierMs;
  m_receiveConstantMs = constantMs;
}

void CPlcLink::SetSendBound(std::uint32_t multiplierMs, std::uint32_t constantMs) {
  m_sendMultiplierMs = multiplierMs;
  m_sendConstantMs = constantMs;
}

std::chrono::milliseconds CPlcLink::ReceiveBound(std::size_t count) const {
  return std::chrono::milliseconds(static_cast<std::int64_t>(count) * m_receiveMultiplierMs +
                                   m_receiveConstantMs);
}

int CPlcLink::ReceiveTcp(platform::TcpSocket& socket, std::span<std::uint8_t> buffer) {
  const std::size_t n = ReceiveTcpWithin(socket, buffer, ReceiveBound(buffer.size()));
  if (n == 0) throw CLinkError(kLinkNoData);
  return static_cast<int>(n);
}

std::size_t CPlcLink::ReceiveTcpWithin(platform::TcpSocket& socket, std::span<std::uint8_t> buffer,
                                       std::chrono::milliseconds wait) {
  CheckStop();
  const platform::TcpSocket::RecvResult r = socket.Receive(buffer, wait);
  CheckStopAfterCall();
  switch (r.status) {
    case platform::TcpSocket::RecvStatus::kData: return r.count;
    case platform::TcpSocket::RecvStatus::kError: throw CLinkError(kLinkCallFailed);
    case platform::TcpSocket::RecvStatus::kClosed:
    case platform::TcpSocket::RecvStatus::kTimedOut: break;
  }
  return 0;
}

bool CPlcLink::SendTcp(platform::TcpSocket& socket, std::span<const std::uint8_t> data) {
  CheckStop();
  const auto bound = std::chrono::milliseconds(
      static_cast<std::int64_t>(data.size()) * m_sendMultiplierMs + m_sendConstantMs);
  const platform::IoResult r = socket.Send(data, bound);
  CheckStopAfterCall();
  if (!r.ok) throw CLinkError(kLinkCallFailed);
  if (r.count == 0 || r.count < data.size()) throw CLinkError(kLinkShortWrite);
  return true;
}

void CSerialChannel::Open(const CExchangeTimeouts& t) {
  m_hPort = m_link.OpenSerial(m_portNumber);
  m_link.ConfigureSerial(m_hPort, t.writeConstant, t.writeMultiplier, t.readMultiplier,
                         t.readInterval, t.readConstant);
}

std::size_t CSerialChannel::Read(std::span<std::uint8_t> buffer) {
  return static_cast<std::size_t>(m_link.ReadSerial(m_hPort, buffer));
}

void CSerialChannel::Write(std::span<const std::uint8_t> data) { m_link.WriteSerial(m_hPort, data); }

std::size_t CSerialChannel::ReadAvailable(std::span<std::uint8_t> buffer) {
  return m_link.ReadSerialWithin(m_hPort, buffer, std::chrono::milliseconds(0));
}

// Flushing the driver's queue alone would leave the bytes still on their way to be taken for
// the next unit; so the line is read until it has been quiet for the interval.
void CSerialChannel::DrainUntilQuiet() {
  const auto end = std::chrono::steady_clock::now() + kDrainLimit;
  std::uint8_t scratch[256];
  while (m_link.ReadSerialWithin(m_hPort, scratch, m_link.ReadInterval()) > 0) {
    if (std::chrono::steady_clock::now() >= end) return;
  }
}

std::size_t CTcpChannel::TakeBuffered(std::span<std::uint8_t> buffer) {
  const std::size_t n = std::min(buffer.size(), m_inEnd - m_inAt);
  std::copy_n(m_in.begin() + static_cast<std::ptrdiff_t>(m_inAt), n, buffer.begin());
  m_inAt += n;
  return n;
}

std::size_t CTcpChannel::Read(std::span<std::uint8_t> buffer) {
  if (buffer.empty()) return 0;
  if (m_inAt == m_inEnd) {
    const std::size_t n = m_link.ReceiveTcpWithin(m_socket, m_in, m_link.ReceiveBound(buffer.size()));
    if (n == 0) throw CLinkError(kLinkNoData);
    m_inAt = 0;
    m_inEnd = n;
  }
  return TakeBuffered(buffer);
}

std::size_t CTcpChannel::ReadUnit(std::span<std::uint8_t> buffer) {
  std::size_t got = Read(buffer);
  while (got < buffer.size()) {
    if (m_inAt == m_inEnd) {
      const std::size_t n = m_link.ReceiveTcpWithin(m_socket, m_in, m_link.ReadInterval());
      if (n == 0) break;  // quiet for the interval (or closed): the unit is what came
      m_inAt = 0;
      m_inEnd = n;
    }
    got += TakeBuffered(buffer.subspan(got));
  }
  return got;
}

std::size_t CTcpChannel::ReadAvailable(std::span<std::uint8_t> buffer) {
  return TakeBuffered(buffer);
}

void CTcpChannel::Open(const CExchangeTimeouts& t) {
  m_link.SetReceiveBound(t.readMultiplier, t.readConstant);
  m_link.SetSendBound(t.writeMultiplier, t.writeConstant);
  m_socket = m_link.ConnectTcp(PLC_PORT, m_address);
  if (!m_socket.IsOpen()) throw CLinkError(kLinkCannotOpen);
}

void CTcpChannel::Close() {
  if (!m_socket.IsOpen()) return;
  m_socket.Shutdown();
  m_socket.Close();
}

void CTcpChannel::ReadClosingMessage() {
  std::uint8_t closing[kAckSize];
  Read(closing);
}

void CTcpChannel::DrainUntilQuiet() {
  m_inAt = m_inEnd = 0;
  const auto end = std::chrono::steady_clock::now() + kDrainLimit;
  while (m_link.ReceiveTcpWithin(m_socket, m_in, m_link.ReadInterval()) > 0) {
    if (std::chrono::steady_clock::now() >= end) return;
  }
}

void CTcpChannel::Write(std::span<const std::uint8_t> data) { m_link.SendTcp(m_socket, data); }

}  // namespace cabrix
