// The link object: one short-lived object per exchange (one command or one file) that carries
// the transport operations, and the serial and TCP channels that run them on the port or
// socket they own for that exchange. Every transport call first tests the stop event, and the
// program's stop request with it; a failing step raises CLinkError with its link failure code.
#pragma once

#include <array>
#include <chrono>
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

  // Serial transport.
  platform::SerialPort OpenSerial(int port);  // raises 8
  bool ConfigureSerial(platform::SerialPort& handle, std::uint32_t writeTotalConstant,
                       std::uint32_t writeTotalMultiplier, std::uint32_t readTotalMultiplier,
                       std::uint32_t readInterval, std::uint32_t readTotalConstant);  // 9, 7, 6
  int ReadSerial(platform::SerialPort& handle, std::span<std::uint8_t> buffer);      // 2, 10, 5
  // One read that returns what is there as soon as anything is, waiting at most `wait`; 0 when
  // nothing came in that time.
  std::size_t ReadSerialWithin(platform::SerialPort& handle, std::span<std::uint8_t> buffer,
                               std::chrono::milliseconds wait);  // 2, 10
  bool WriteSerial(platform::SerialPort& handle, std::span<const std::uint8_t> data);  // 2, 10, 4
  // The port flush: drops at once what the driver holds both ways; a failure is not reported, as
  // the exchanges never look.
  void FlushSerial(platform::SerialPort& handle);

  // TCP transport. A receive waits at most count * multiplier + constant milliseconds, the
  // bound the serial read of the same exchange has (SetReceiveBound); then it fails with 5. A
  // send must finish within the serial write's bound (SetSendBound), or it fails with 4, like a
  // serial write that does not finish in time: a controller that stops reading cannot hold it.
  platform::TcpSocket ConnectTcp(int port, const platform::Ipv4Address& address);  // closed on failure
  int ReceiveTcp(platform::TcpSocket& socket, std::span<std::uint8_t> buffer);  // 2, 10, 5
  bool SendTcp(platform::TcpSocket& socket, std::span<const std::uint8_t> data);  // 2, 10, 4
  // One receive that waits at most `wait`; 0 when nothing came in that time or the controller
  // has closed the connection (the next ReceiveTcp then fails with 5).
  std::size_t ReceiveTcpWithin(platform::TcpSocket& socket, std::span<std::uint8_t> buffer,
                               std::chrono::milliseconds wait);  // 2, 10
  void SetReceiveBound(std::uint32_t multiplierMs, std::uint32_t constantMs);
  void SetSendBound(std::uint32_t multiplierMs, std::uint32_t constantMs);
  std::chrono::milliseconds ReceiveBound(std::size_t count) const;

  // The gap after which a unit that has begun is taken to be over: the serial read interval of
  // the exchange (ConfigureSerial), which a TCP exchange keeps as well.
  std::chrono::milliseconds ReadInterval() const { return m_readInterval; }

 protected:
  CPlcLink();
  // Before every transport call: raises 2 when the stop event is set or the program is asked to
  // stop. After it: raises 2 when the program has been asked to stop meanwhile.
  void CheckStop();
  void CheckStopAfterCall();

  platform::StopEvent m_stopEvent;

 public:
  int m_port = 0;

 private:
  std::uint32_t m_receiveMultiplierMs = 20;
  std::uint32_t m_receiveConstantMs = 2000;
  std::uint32_t m_sendMultiplierMs = 1;
  std::uint32_t m_sendConstantMs = 5000;
  std::chrono::milliseconds m_readInterval{200};  // every exchange has 200 ms
};

// The channel of a serial exchange over COM<port>: it owns the port while it is open, and
// ReadSerial and WriteSerial carry its bytes. A read ends at its count or at the read interval
// by itself, so a unit read is a plain read.
class CSerialChannel : public CByteChannel {
 public:
  CSerialChannel(CPlcLink& link, int port) : m_link(link), m_portNumber(port) {}
  // OpenSerial, then ConfigureSerial with the exchange's time-outs (which flushes the port).
  void Open(const CExchangeTimeouts& timeouts) override;
  bool IsOpen() const override { return m_hPort.IsOpen(); }
  void Close() override { m_hPort.Close(); }
  std::size_t Read(std::span<std::uint8_t> buffer) override;
  void Write(std::span<const std::uint8_t> data) override;
  std::size_t ReadAvailable(std::span<std::uint8_t> buffer) override;
  void FlushPort() override { m_link.FlushSerial(m_hPort); }
  void DrainUntilQuiet() override;

  platform::SerialPort m_hPort;

 private:
  CPlcLink& m_link;
  int m_portNumber;
};

// The channel of a TCP exchange with the controller at `address`, port 1200: it owns the
// connection while it is open, and receives and SendTcp carry its bytes. A stream keeps no unit
// boundaries, so each receive takes whatever the stack holds, and reads hand it out: a frame
// that came whole is taken with one receive, and a unit that came in pieces is gathered as a
// serial read would gather it, until its count is in or the read interval passes without more.
class CTcpChannel : public CByteChannel {
 public:
  CTcpChannel(CPlcLink& link, const platform::Ipv4Address& address)
      : m_link(link), m_address(address) {}
  // The receive and send bounds of the exchange's serial reads and writes, then ConnectTcp;
  // a connection that cannot be made raises 8.
  void Open(const CExchangeTimeouts& timeouts) override;
  bool IsOpen() const override { return m_socket.IsOpen(); }
  void Close() override;
  void CloseWithoutShutdown() override { m_socket.Close(); }
  // What an earlier receive took in, or else one receive bounded as ReceiveTcp bounds a receive
  // of buffer.size() bytes.
  std::size_t Read(std::span<std::uint8_t> buffer) override;
  void Write(std::span<const std::uint8_t> data) override;
  std::size_t ReadUnit(std::span<std::uint8_t> buffer) override;
  // What earlier receives took in and no read has handed out yet.
  std::size_t ReadAvailable(std::span<std::uint8_t> buffer) override;
  void DrainUntilQuiet() override;
  void ReadClosingMessage() override;

  platform::TcpSocket m_socket;

 private:
  std::size_t TakeBuffered(std::span<std::uint8_t> buffer);

  CPlcLink& m_link;
  platform::Ipv4Address m_address;
  std::array<std::uint8_t, 512> m_in{};
  std::size_t m_inAt = 0;
  std::size_t m_inEnd = 0;
};

}  // namespace cabrix
