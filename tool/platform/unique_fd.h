// POSIX only: a file descriptor owned by one object and closed when that object goes. The one
// descriptor wrapper of the platform layer, plcsim, the test harness and the benchmark; header
// only, so that whoever includes it links nothing of the tool.
#pragma once

#include <unistd.h>

#include <utility>

namespace cabrix::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : m_fd(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.m_fd, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  bool Valid() const { return m_fd >= 0; }

  // Gives the descriptor up without closing it.
  int Release() { return std::exchange(m_fd, -1); }

  // Closes the descriptor held, if any, and takes `fd` in its place; false when close reports an
  // error. close is not retried on EINTR: on Linux the descriptor is gone by then.
  bool Reset(int fd = -1) {
    const int old = std::exchange(m_fd, fd);
    return old < 0 || ::close(old) == 0;
  }

 private:
  int m_fd = -1;
};

}  // namespace cabrix::platform
