// The controller's file store: one flat folder. Names come from the PC and are checked before
// any use, so nothing is ever resolved outside the folder. A file being written lives under a
// temporary name that the directory never shows, and gets its real name only once its write has
// ended, by one rename: whatever happens to the simulator, a name holds the old file or the new
// one, whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "unique_fd.h"

namespace plcsim {

// The longest name the store takes: what the read request's one-byte name-area length allows.
inline constexpr std::size_t kMaxStoreName = 253;
// Temporary files start with this; such names are never listed nor accepted from the PC.
inline constexpr std::string_view kTempPrefix = ".plcsim-part-";

enum class NameCheck { kOk, kEmpty, kTooLong, kSeparator, kDotDot, kControl, kReserved };
NameCheck CheckName(std::string_view name);
const char* NameCheckText(NameCheck check);

// A store file open for reading.
class StoreReader {
 public:
  StoreReader(UniqueFd fd, std::uint64_t size) : m_fd(std::move(fd)), m_size(size) {}
  std::uint64_t Size() const { return m_size; }
  // Fills `buffer` as far as the file goes; the count read, or nullopt when reading fails.
  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer);

 private:
  UniqueFd m_fd;
  std::uint64_t m_size;
};

// A file being received, under a temporary name that the directory never shows. Commit gives it
// its real name in one step, replacing an older file of that name whole; until then the older
// file stays as it is. Removed again on destruction unless committed.
class IncomingFile {
 public:
  IncomingFile(int dirFd, std::string tempName, UniqueFd fd);
  ~IncomingFile();
  IncomingFile(IncomingFile&&) noexcept;
  IncomingFile& operator=(IncomingFile&&) = delete;
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;

  // Takes data in; it reaches the file by the next Flush or Commit at the latest.
  bool Append(std::span<const std::uint8_t> data);
  // Writes out what Append has gathered; false when the write fails.
  bool Flush();
  std::uint64_t Size() const { return m_size; }
  const std::string& TempName() const { return m_tempName; }
  bool Committed() const { return m_committed; }
  // Writes the file out to the disk and gives it `name`, replacing a file of that name.
  bool Commit(const std::string& name);

 private:
  int m_dirFd;
  std::string m_tempName;
  UniqueFd m_fd;
  std::vector<std::uint8_t> m_pending;  // appended, not yet written: one write per segment
  std::uint64_t m_size = 0;
  bool m_committed = false;
};

class FileStore {
 public:
  // Opens the folder, creating it when missing, and removes temporary files that a killed run
  // left behind: each is a write that never got its name, so the file of that name (if any) is
  // still the older one. Throws std::runtime_error when the folder cannot be had.
  explicit FileStore(const std::string& folder);

  const std::string& Folder() const { return m_folder; }

  // The names of the regular files, sorted bytewise; temporary files never appear.
  std::vector<std::string> List() const;

  // nullopt when there is no regular file of that name (or the name is not acceptable).
  std::optional<StoreReader> OpenForRead(const std::string& name) const;

  enum class DeleteResult { kDeleted, kMissing, kFailed };
  DeleteResult Delete(const std::string& name);

  // A new temporary file; nullopt when it cannot be created.
  std::optional<IncomingFile> BeginIncoming();

  // Removes every temporary file; returns how many there were.
  std::size_t RemoveTemporaries();

 private:
  std::string m_folder;
  UniqueFd m_dir;
  unsigned m_fileMode = 0644;  // what a new file gets: 0666 less the umask
};

}  // namespace plcsim
