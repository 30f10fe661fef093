// POSIX only: a file descriptor owned by one object and closed when that object goes.
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
    if (this != &other) {
      Reset();
      m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return m_fd; }
  bool IsValid() const { return m_fd >= 0; }

  // Closes the descriptor; false when close reports an error. close is not retried on EINTR:
  // on Linux the descriptor is gone by then.
  bool Reset() {
    if (m_fd < 0) return true;
    const int fd = std::exchange(m_fd, -1);
    return ::close(fd) == 0;
  }

 private:
  int m_fd = -1;
};

}  // namespace cabrix::platform
