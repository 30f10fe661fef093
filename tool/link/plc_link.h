// The link object: one short-lived object per exchange (one command or one file) that owns the
// open port or socket and carries the transport operations. Every transport call first tests
// the stop event, and the program's stop request with it; a failing step raises CLinkError with
// its link failure code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/channel.h"
#include "platform/serial_port.h"
#include "platform/stop_event.h"
#include "platform/tcp_socket.h"

namespace cabrix {

class CPlcLink {
 public:
  virtual ~CPlcLink();
  // Every concrete link answers 0; nothing in the tool calls it.
  virtual int Work() = 0;

  // Stops the worker thread of the exchange. No link of this tool has one, so this returns -1
  // at once and leaves the stop event as it is.
  int Stop(bool immediate);

  // Serial transport.
  platform::SerialPort OpenSerial(int port);  // raises 8
  bool ConfigureSerial(platform::SerialPort& handle, std::uint32_t writeTotalConstant,
                       std::uint32_t writeTotalMultiplier, std::uint32_t readTotalMultiplier,
                       std::uint32_t readInterval, std::uint32_t readTotalConstant);  // 9, 7, 6
  int ReadSerial(platform::SerialPort& handle, std::span<std::uint8_t> buffer);      // 2, 10, 5
  bool WriteSerial(platform::SerialPort& handle, std::span<const std::uint8_t> data);  // 2, 10, 4
  // Drops pending bytes both ways; a failure is not reported, as the exchanges never look.
  void PurgeSerial(platform::SerialPort& handle);

  // TCP transport. A receive waits at most count * multiplier + constant milliseconds, the
  // bound the serial read of the same exchange has (SetReceiveBound); then it fails with 5.
  platform::TcpSocket ConnectTcp(int port, const platform::Ipv4Address& address);  // closed on failure
  int ReceiveTcp(platform::TcpSocket& socket, std::span<std::uint8_t> buffer);  // 2, 10, 5
  bool SendTcp(platform::TcpSocket& socket, std::span<const std::uint8_t> data);  // 2, 10, 4
  void SetReceiveBound(std::uint32_t multiplierMs, std::uint32_t constantMs);

 protected:
  CPlcLink();
  // Before every transport call: raises 2 when the stop event is set or the program is asked to
  // stop. After it: raises 2 when the program has been asked to stop meanwhile.
  void CheckStop();
  void CheckStopAfterCall();

  void* m_hThread = nullptr;  // no exchange of this tool starts a worker thread
  platform::StopEvent m_stopEvent;

 public:
  int m_port = 0;

 private:
  std::uint32_t m_receiveMultiplierMs = 20;
  std::uint32_t m_receiveConstantMs = 2000;
};

// The channel of a serial exchange: ReadSerial and WriteSerial on one open port.
class CSerialChannel : public CByteChannel {
 public:
  CSerialChannel(CPlcLink& link, platform::SerialPort& port) : m_link(link), m_port(port) {}
  std::size_t Read(std::span<std::uint8_t> buffer) override;
  void Write(std::span<const std::uint8_t> data) override;

 private:
  CPlcLink& m_link;
  platform::SerialPort& m_port;
};

// The channel of a TCP exchange: ReceiveTcp and SendTcp on one connection.
class CTcpChannel : public CByteChannel {
 public:
  CTcpChannel(CPlcLink& link, platform::TcpSocket& socket) : m_link(link), m_socket(socket) {}
  std::size_t Read(std::span<std::uint8_t> buffer) override;
  void Write(std::span<const std::uint8_t> data) override;

 private:
  CPlcLink& m_link;
  platform::TcpSocket& m_socket;
};

}  // namespace cabrix
