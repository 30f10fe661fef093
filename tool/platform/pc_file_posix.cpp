#include "platform/pc_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/unique_fd.h"

namespace cabrix::platform {

namespace {

constexpr std::string_view kTemporaryPrefix = ".cbx";
constexpr int kTemporaryNameLength = 6;
constexpr int kCreateAttempts = 16;

bool LockExclusive(int fd) { return ::flock(fd, LOCK_EX | LOCK_NB) == 0; }

// Whether `path` still names the file open at `fd`.
bool StillNamed(int fd, const std::string& path) {
  struct stat byFd {};
  struct stat byName {};
  return ::fstat(fd, &byFd) == 0 && ::lstat(path.c_str(), &byName) == 0 &&
         byFd.st_dev == byName.st_dev && byFd.st_ino == byName.st_ino;
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() != kTemporaryPrefix.size() + kTemporaryNameLength) return false;
  if (name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix) return false;
  for (const char c : name.substr(kTemporaryPrefix.size())) {
    if (std::isalnum(static_cast<unsigned char>(c)) == 0) return false;
  }
  return true;
}

std::string FolderPrefix(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') return folder;
  return folder + '/';
}

// The new name is durable once the folder is: without this a power cut could bring back the
// old file, or no file at all.
void SyncFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
}

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
  std::string temporaryPath;  // while the file is a temporary one
};

PcFile::PcFile() : m_impl(std::make_unique<Impl>()) {}
PcFile::~PcFile() = default;
PcFile::PcFile(PcFile&&) noexcept = default;
PcFile& PcFile::operator=(PcFile&&) noexcept = default;

bool PcFile::IsOpen() const { return m_impl && m_impl->fd.Valid(); }

bool PcFile::OpenRead(const std::string& path) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  // O_NONBLOCK only for the open itself, so that a FIFO in the folder cannot stop the tool.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) return false;
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
  const std::string base = FolderPrefix(folder) + std::string(kTemporaryPrefix);
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string path = base + RandomSuffix();
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.Valid()) {
      if (errno == EEXIST || errno == EINTR) continue;
      return false;
    }
    // The name comes a moment before the lock. Another program's RemoveStaleTemporaries may take
    // the file for a stale one in that moment: it then holds the lock itself, or has removed the
    // file by the time the lock is ours. Either way the file is left to it and another is made.
    if (!LockExclusive(fd.Get()) || !StillNamed(fd.Get(), path)) continue;
    m_impl->fd = std::move(fd);
    m_impl->temporaryPath = path;
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

bool PcFile::PutInPlaceOf(const std::string& target) {
  if (!IsOpen() || m_impl->temporaryPath.empty()) return false;
  // The file that is replaced keeps its permissions, as when it is overwritten in place.
  struct stat old {};
  if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode) &&
      ::fchmod(m_impl->fd.Get(), old.st_mode & 07777) != 0) {
    return false;
  }
  if (std::rename(m_impl->temporaryPath.c_str(), target.c_str()) != 0) return false;
  m_impl->temporaryPath.clear();
  SyncFolderOf(target);
  return true;
}

bool PcFile::Close() {
  if (!IsOpen()) return true;
  m_impl->temporaryPath.clear();
  return m_impl->fd.Reset();  // the lock goes with the descriptor
}

void RemoveStaleTemporaries(const std::string& folder) {
  const std::string base = FolderPrefix(folder);
  DIR* dir = ::opendir(base.empty() ? "." : base.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryName(entry->d_name)) continue;
    const std::string path = base + entry->d_name;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.Valid()) continue;
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    // A file that is held is being written. One that is not has lost its writer, or its writer
    // has only just made it and finds it gone when it takes its lock (CreateTemporary).
    if (LockExclusive(fd.Get()) && StillNamed(fd.Get(), path)) ::unlink(path.c_str());
  }
  ::closedir(dir);
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
