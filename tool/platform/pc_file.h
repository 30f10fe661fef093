// Files on the PC: opened exclusively, read and written in small pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace cabrix::platform {

// The tool builds its PC paths the Windows way (folder ends in a backslash, entries may hold
// sub\a.txt). On POSIX every backslash is a folder separator; on Windows the path is unchanged.
std::string NativePath(std::string_view pcPath);

class PcFile {
 public:
  PcFile();
  ~PcFile();
  PcFile(PcFile&&) noexcept;
  PcFile& operator=(PcFile&&) noexcept;
  PcFile(const PcFile&) = delete;
  PcFile& operator=(const PcFile&) = delete;

  // Opens an existing file for reading, unshared. `path` is a native path.
  bool OpenRead(const std::string& path);

  // Creates a new file under a temporary name in `folder` (a native folder path, empty for the
  // current folder), unshared, for writing. The name is a dot, a fixed prefix and a few random
  // characters. On success `createdPath` holds the file's native path. The file is held (POSIX:
  // flock; Windows: open unshared) from the moment it has its name until it is closed, so that
  // RemoveStaleTemporaries of another program leaves it alone.
  bool CreateTemporary(const std::string& folder, std::string& createdPath);

  // Puts the temporary file, still open and held, in the place of `target`, a path in the same
  // folder: a file of that name is replaced and (on POSIX) lends the new one its permissions.
  // The move itself is made durable. False when it fails; the file then keeps its temporary name.
  bool PutInPlaceOf(const std::string& target);

  bool IsOpen() const;
  std::optional<std::uint64_t> Length();

  // One read of up to buffer.size() bytes; fewer at the end of the file; nullopt when it fails.
  std::optional<std::size_t> Read(std::span<std::uint8_t> buffer);

  // Writes all of data; false when that fails.
  bool Write(std::span<const std::uint8_t> data);

  // Makes what was written durable: it is on the disk, not only in the system's cache, so that a
  // power cut after the file has been put in place cannot leave it empty. False when that fails.
  bool Sync();

  // Closes the file; false when data could not be flushed.
  bool Close();

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

// Removes the temporary files of CreateTemporary's naming in `folder` (as there) that nobody
// holds: files left by a program that was ended before it could remove its own. A file that a
// live program is writing is never removed.
void RemoveStaleTemporaries(const std::string& folder);

// Removes a file; false when it fails.
bool RemoveFile(const std::string& path);

// The folder part of a native path, with its trailing separator ("" when there is none).
std::string FolderOf(const std::string& nativePath);

}  // namespace cabrix::platform
