// The controller address of a /TCP switch.
#pragma once

#include <optional>
#include <string_view>

#include "platform/tcp_socket.h"

namespace cabrix {

// Reads "/TCP%d.%d.%d.%d": four decimal numbers separated by dots after "/TCP", each cut to its
// low 8 bits, in the order written; anything after the fourth number is ignored. nullopt when
// fewer than four numbers can be read.
std::optional<platform::Ipv4Address> ParseTcpArg(std::string_view tcpArg);

}  // namespace cabrix
