#include "pty_endpoint.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace plcsim {

namespace {
[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

PtyEndpoint::PtyEndpoint(const std::string& linkPath) : m_link(linkPath) {
  m_master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!m_master.Valid()) Fail("posix_openpt");
  if (::grantpt(m_master.Get()) != 0) Fail("grantpt");
  if (::unlockpt(m_master.Get()) != 0) Fail("unlockpt");
  char name[256];
  if (::ptsname_r(m_master.Get(), name, sizeof name) != 0) Fail("ptsname");
  m_device = name;

  m_keepOpen.Reset(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!m_keepOpen.Valid()) Fail("open " + m_device);
  termios tio{};
  if (::tcgetattr(m_keepOpen.Get(), &tio) != 0) Fail("tcgetattr");
  ::cfmakeraw(&tio);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  tio.c_cflag |= CLOCAL | CREAD;
  ::cfsetispeed(&tio, B115200);
  ::cfsetospeed(&tio, B115200);
  if (::tcsetattr(m_keepOpen.Get(), TCSANOW, &tio) != 0) Fail("tcsetattr");

  struct stat st {};
  if (::lstat(linkPath.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      errno = EEXIST;
      Fail("not replacing " + linkPath + ", which is not a symbolic link");
    }
    if (::unlink(linkPath.c_str()) != 0) Fail("unlink " + linkPath);
  }
  if (::symlink(m_device.c_str(), linkPath.c_str()) != 0) Fail("symlink " + linkPath);
}

PtyEndpoint::~PtyEndpoint() {
  char target[256];
  const ssize_t n = ::readlink(m_link.c_str(), target, sizeof target - 1);
  if (n > 0 && std::string(target, static_cast<std::size_t>(n)) == m_device) {
    ::unlink(m_link.c_str());
  }
}

}  // namespace plcsim
