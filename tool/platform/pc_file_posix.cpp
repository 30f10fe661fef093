#include "platform/pc_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/unique_fd_p.h"

namespace cabrix::platform {

namespace {

constexpr std::string_view kTemporaryPrefix = ".cbx";
constexpr int kTemporaryNameLength = 6;
constexpr int kCreateAttempts = 16;

bool LockExclusive(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

std::string RandomSuffix() {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
  std::string suffix;
  for (int i = 0; i < kTemporaryNameLength; ++i) suffix += kAlphabet[pick(engine)];
  return suffix;
}

}  // namespace

std::string NativePath(std::string_view pcPath) {
  std::string path(pcPath);
  std::replace(path.begin(), path.end(), '\\', '/');
  return path;
}

struct PcFile::Impl {
  UniqueFd fd;
};

PcFile::PcFile() : m_impl(std::make_unique<Impl>()) {}
PcFile::~PcFile() = default;
PcFile::PcFile(PcFile&&) noexcept = default;
PcFile& PcFile::operator=(PcFile&&) noexcept = default;

bool PcFile::IsOpen() const { return m_impl && m_impl->fd.IsValid(); }

bool PcFile::OpenRead(const std::string& path) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  // O_NONBLOCK only for the open itself, so that a FIFO in the folder cannot stop the tool.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.IsValid()) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;  // a folder, a device
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return false;
  if (!LockExclusive(fd.Get())) return false;  // another program holds it
  m_impl->fd = std::move(fd);
  return true;
}

bool PcFile::CreateTemporary(const std::string& folder, std::string& createdPath) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  base += kTemporaryPrefix;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string path = base + RandomSuffix();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.IsValid()) {
      if (errno == EEXIST || errno == EINTR) continue;
      return false;
    }
    if (!LockExclusive(fd.Get())) {  // someone opened it in the moment between: leave it be
      ::unlink(path.c_str());
      return false;
    }
    m_impl->fd = std::move(fd);
    createdPath = path;
    return true;
  }
  return false;
}

std::optional<std::uint64_t> PcFile::Length() {
  if (!IsOpen()) return std::nullopt;
  struct stat st {};
  if (::fstat(m_impl->fd.Get(), &st) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(st.st_size);
}

std::optional<std::size_t> PcFile::Read(std::span<std::uint8_t> buffer) {
  if (!IsOpen()) return std::nullopt;
  for (;;) {
    const ssize_t n = ::read(m_impl->fd.Get(), buffer.data(), buffer.size());
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return std::nullopt;
  }
}

bool PcFile::Write(std::span<const std::uint8_t> data) {
  if (!IsOpen()) return false;
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(m_impl->fd.Get(), data.data() + done, data.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool PcFile::Sync() { return IsOpen() && ::fsync(m_impl->fd.Get()) == 0; }

bool PcFile::Close() {
  if (!IsOpen()) return true;
  return m_impl->fd.Reset();  // the lock goes with the descriptor
}

bool ReplacePcFile(const std::string& from, const std::string& to) {
  // The file that is replaced keeps its permissions, as when it is overwritten in place.
  struct stat old {};
  if (::stat(to.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      ::chmod(from.c_str(), old.st_mode & 07777) != 0) {
    return false;
  }
  if (std::rename(from.c_str(), to.c_str()) != 0) return false;
  // The new name is durable once the folder is: without this a power cut could bring back the
  // old file, or no file at all.
  const std::string folder = FolderOf(to);
  UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.IsValid()) ::fsync(dir.Get());
  return true;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string FolderOf(const std::string& nativePath) {
#ifdef _WIN32
  const std::size_t cut = nativePath.find_last_of("/\\");
#else
  const std::size_t cut = nativePath.rfind('/');
#endif
  return cut == std::string::npos ? std::string() : nativePath.substr(0, cut + 1);
}

}  // namespace cabrix::platform
