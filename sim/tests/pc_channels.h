// The PC's two transports for whole-program tests of plcsim: a TCP connection and a serial port
// on the simulator's pseudo-terminal, with the console tool's read rules (a serial read ends at
// its count, after a 200 ms gap, or at its total time-out). One channel per exchange.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "pc_client.h"

namespace plcsim::testing {

// Connects to address:port; throws std::runtime_error when that fails. A read waits at most
// `timeout` and raises code 5 when nothing comes or the simulator closed the connection.
std::unique_ptr<PcChannel> ConnectTcp(const std::string& address, std::uint16_t port,
                                      std::chrono::milliseconds timeout);

// Opens the serial device at `path` raw, 8N1. A read of N bytes waits at most
// N x 10 ms + `constant`.
std::unique_ptr<PcChannel> OpenSerial(const std::string& path,
                                      std::chrono::milliseconds constant);

}  // namespace plcsim::testing
