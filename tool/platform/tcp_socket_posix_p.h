// POSIX only: the socket address of the controller, as connect() takes it.
#pragma once

#include <netinet/in.h>

#include <cstdint>

#include "platform/tcp_socket.h"

namespace cabrix::platform {

// Family AF_INET, the port in network order, the four address bytes as they are (they are in
// wire order already), the rest zero.
sockaddr_in MakeSockAddr(const Ipv4Address& address, std::uint16_t port);

}  // namespace cabrix::platform
