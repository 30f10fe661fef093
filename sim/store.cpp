#include "store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace plcsim {

NameCheck CheckName(std::string_view name) {
  if (name.empty()) return NameCheck::kEmpty;
  if (name.size() > kMaxStoreName) return NameCheck::kTooLong;
  if (name.find_first_of("/\\") != std::string_view::npos) return NameCheck::kSeparator;
  if (name == "." || name.find("..") != std::string_view::npos) return NameCheck::kDotDot;
  for (const char c : name) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return NameCheck::kControl;
  }
  if (name.substr(0, kTempPrefix.size()) == kTempPrefix) return NameCheck::kReserved;
  return NameCheck::kOk;
}

const char* NameCheckText(NameCheck check) {
  switch (check) {
    case NameCheck::kOk: return "acceptable";
    case NameCheck::kEmpty: return "empty name";
    case NameCheck::kTooLong: return "name too long";
    case NameCheck::kSeparator: return "name holds a path separator";
    case NameCheck::kDotDot: return "name holds '..'";
    case NameCheck::kControl: return "name holds a control character";
    case NameCheck::kReserved: return "name of a temporary file";
  }
  return "?";
}

std::optional<std::size_t> StoreReader::Read(std::span<std::uint8_t> buffer) {
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t n = ::read(m_fd.Get(), buffer.data() + done, buffer.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

IncomingFile::IncomingFile(int dirFd, std::string tempName, UniqueFd fd)
    : m_dirFd(dirFd), m_tempName(std::move(tempName)), m_fd(std::move(fd)) {}

IncomingFile::IncomingFile(IncomingFile&& o) noexcept
    : m_dirFd(o.m_dirFd),
      m_tempName(std::move(o.m_tempName)),
      m_fd(std::move(o.m_fd)),
      m_pending(std::move(o.m_pending)),
      m_size(o.m_size),
      m_committed(std::exchange(o.m_committed, true)) {}

IncomingFile::~IncomingFile() {
  m_fd.Reset();
  if (!m_committed) ::unlinkat(m_dirFd, m_tempName.c_str(), 0);
}

bool IncomingFile::Append(std::span<const std::uint8_t> data) {
  constexpr std::size_t kFlushAt = 64 * 1024;
  m_pending.insert(m_pending.end(), data.begin(), data.end());
  m_size += data.size();
  return m_pending.size() < kFlushAt || Flush();
}

bool IncomingFile::Flush() {
  std::size_t done = 0;
  while (done < m_pending.size()) {
    const ssize_t n = ::write(m_fd.Get(), m_pending.data() + done, m_pending.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  m_pending.clear();
  return true;
}

bool IncomingFile::Commit(const std::string& name) {
  if (m_committed || CheckName(name) != NameCheck::kOk) return false;
  // On the disk before it bears the name, so that not even a crash of the machine can leave the
  // name on a file without its data.
  if (!Flush() || ::fsync(m_fd.Get()) != 0) return false;
  if (::renameat(m_dirFd, m_tempName.c_str(), m_dirFd, name.c_str()) != 0) return false;
  m_fd.Reset();
  m_committed = true;
  return true;
}

FileStore::FileStore(const std::string& folder) : m_folder(folder) {
  if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) {
    throw std::runtime_error("cannot create the store folder " + folder + ": " +
                             std::strerror(errno));
  }
  m_dir.Reset(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!m_dir.Valid()) {
    throw std::runtime_error("cannot open the store folder " + folder + ": " +
                             std::strerror(errno));
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  m_fileMode = 0666 & ~mask;
  RemoveTemporaries();
}

namespace {

// Calls f(name, d_type) for every entry but . and .. of the folder.
template <typename F>
void ForEachEntry(int dirFd, F&& f) {
  const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    ::close(fd);
    return;
  }
  while (dirent* e = ::readdir(dir)) {
    const std::string_view name(e->d_name);
    if (name == "." || name == "..") continue;
    f(std::string(name));
  }
  ::closedir(dir);
}

bool IsRegularFile(int dirFd, const std::string& name) {
  struct stat st {};
  return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::vector<std::string> FileStore::List() const {
  std::vector<std::string> names;
  ForEachEntry(m_dir.Get(), [&](const std::string& name) {
    if (name.rfind(kTempPrefix, 0) == 0) return;
    if (IsRegularFile(m_dir.Get(), name)) names.push_back(name);
  });
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<StoreReader> FileStore::OpenForRead(const std::string& name) const {
  if (CheckName(name) != NameCheck::kOk) return std::nullopt;
  UniqueFd fd(::openat(m_dir.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!fd.Valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  return StoreReader(std::move(fd), static_cast<std::uint64_t>(st.st_size));
}

FileStore::DeleteResult FileStore::Delete(const std::string& name) {
  if (CheckName(name) != NameCheck::kOk) return DeleteResult::kFailed;
  struct stat st {};
  if (::fstatat(m_dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? DeleteResult::kMissing : DeleteResult::kFailed;
  }
  if (!S_ISREG(st.st_mode)) return DeleteResult::kMissing;  // only files are the store's
  return ::unlinkat(m_dir.Get(), name.c_str(), 0) == 0 ? DeleteResult::kDeleted
                                                        : DeleteResult::kFailed;
}

std::optional<IncomingFile> FileStore::BeginIncoming() {
  std::string pattern = m_folder + "/" + std::string(kTempPrefix) + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  UniqueFd fd(::mkostemp(buf.data(), O_CLOEXEC));
  if (!fd.Valid()) return std::nullopt;
  ::fchmod(fd.Get(), static_cast<mode_t>(m_fileMode));
  std::string path(buf.data());
  std::string name = path.substr(path.rfind('/') + 1);
  return IncomingFile(m_dir.Get(), std::move(name), std::move(fd));
}

std::size_t FileStore::RemoveTemporaries() {
  std::vector<std::string> temps;
  ForEachEntry(m_dir.Get(), [&](const std::string& name) {
    if (name.rfind(kTempPrefix, 0) == 0) temps.push_back(name);
  });
  std::size_t removed = 0;
  for (const auto& t : temps) removed += ::unlinkat(m_dir.Get(), t.c_str(), 0) == 0;
  return removed;
}

}  // namespace plcsim
