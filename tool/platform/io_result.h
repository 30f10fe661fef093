#pragma once

#include <cstddef>

namespace cabrix::platform {

// Outcome of one read or write call on a port or socket.
struct IoResult {
  bool ok = false;        // false: the system call itself failed
  std::size_t count = 0;  // bytes moved by the call
};

}  // namespace cabrix::platform
