#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string_view>
#include <vector>

#include "platform/pc_file.h"

namespace cabrix::platform {

namespace {

// A temporary file's name: a dot, this prefix and kRandomChars characters from kAlphabet.
// Lower case only, since Windows names do not tell case apart.
constexpr const char* kTemporaryPrefix = ".cbx";
constexpr std::size_t kRandomChars = 6;
constexpr const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr int kCreateAttempts = 100;

DWORD ClampedSize(std::size_t size) {
  return static_cast<DWORD>(std::min<std::size_t>(size, 0x7FFFFFFF));
}

bool IsTemporaryName(std::string_view name) {
  const std::string_view prefix = kTemporaryPrefix;
  if (name.size() != prefix.size() + kRandomChars || name.substr(0, prefix.size()) != prefix) {
    return false;
  }
  for (const char c : name.substr(prefix.size())) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
  }
  return true;
}

std::string RandomSuffix() {
  static std::mt19937 generator = [] {
    std::random_device device;
    std::seed_seq seed{device(), static_cast<unsigned>(GetCurrentProcessId()),
                       static_cast<unsigned>(GetTickCount())};
    return std::mt19937(seed);
  }();
  std::uniform_int_distribution<std::size_t> pick(0, sizeof kAlphabet - 2);
  std::string suffix;
  for (std::size_t i = 0; i < kRandomChars; ++i) suffix += kAlphabet[pick(generator)];
  return suffix;
}

}  // namespace

std::string NativePath(std::string_view pcPath) { return std::string(pcPath); }

struct PcFile::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  std::string temporaryPath;  // while the file is a temporary one
  std::string replacedPath;   // the file that CreateReplacement made it for
};

PcFile::PcFile() : m_impl(std::make_unique<Impl>()) {}
PcFile::~PcFile() { Close(); }
PcFile::PcFile(PcFile&&) noexcept = default;

PcFile& PcFile::operator=(PcFile&& other) noexcept {
  if (this != &other) {
    Close();
    m_impl = std::move(other.m_impl);
  }
  return *this;
}

bool PcFile::OpenRead(const std::string& path) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  // Share mode 0: nobody else may read or write the file while it is being sent.
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  m_impl->handle = h;
  return true;
}

bool PcFile::CreateTemporary(const std::string& folder, std::string& createdPath) {
  Close();
  if (!m_impl) m_impl = std::make_unique<Impl>();
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string path = folder + kTemporaryPrefix + RandomSuffix();
    // Created and opened unshared in one step: nobody can remove it while it is open. DELETE
    // lets PutInPlaceOf rename it through this very handle.
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      m_impl->handle = h;
      m_impl->temporaryPath = path;
      createdPath = path;
      return true;
    }
    // Only a name clash is worth another name; any other failure stays a failure.
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

bool PcFile::IsOpen() const { return m_impl && m_impl->handle != INVALID_HANDLE_VALUE; }

std::optional<std::uint64_t> PcFile::Length() {
  if (!IsOpen()) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(m_impl->handle, &size) || size.QuadPart < 0) return std::nullopt;
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::optional<std::size_t> PcFile::Read(std::span<std::uint8_t> buffer) {
  if (!IsOpen()) return std::nullopt;
  DWORD got = 0;
  if (!ReadFile(m_impl->handle, buffer.data(), ClampedSize(buffer.size()), &got, nullptr)) {
    return std::nullopt;
  }
  return got;
}

bool PcFile::Write(std::span<const std::uint8_t> data) {
  if (!IsOpen()) return false;
  while (!data.empty()) {
    DWORD put = 0;
    if (!WriteFile(m_impl->handle, data.data(), ClampedSize(data.size()), &put, nullptr) ||
        put == 0) {
      return false;
    }
    data = data.subspan(put);
  }
  return true;
}

bool PcFile::Sync() { return IsOpen() && FlushFileBuffers(m_impl->handle) != 0; }

bool PcFile::PutInPlaceOf(const std::string& target) {
  if (!IsOpen() || m_impl->temporaryPath.empty()) return false;
  // Renamed through the open handle, so that the file is never without its writer. The new
  // name is given whole: a bare name would be taken relative to the current folder.
  char full[MAX_PATH * 4];
  const DWORD fullLength = GetFullPathNameA(target.c_str(), sizeof full, full, nullptr);
  const std::string name = fullLength > 0 && fullLength < sizeof full ? full : "";
  const int wide = name.empty() ? 0
                                : MultiByteToWideChar(CP_ACP, 0, name.data(),
                                                      static_cast<int>(name.size()), nullptr, 0);
  if (wide > 0) {
    std::vector<std::uint8_t> buffer(sizeof(FILE_RENAME_INFO) + wide * sizeof(WCHAR));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(wide * sizeof(WCHAR));
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), info->FileName,
                        wide);
    if (SetFileInformationByHandle(m_impl->handle, FileRenameInfo, info,
                                   static_cast<DWORD>(buffer.size()))) {
      m_impl->temporaryPath.clear();
      return true;
    }
  }
  // A file system that cannot rename an open file: closed first, then moved.
  const std::string from = m_impl->temporaryPath;
  Close();
  return MoveFileExA(from.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool PcFile::CreateReplacement(const std::string& target, std::string& createdPath) {
  // A read-only file or a folder is refused by its attributes, which also holds for a process
  // whose rights would let it open one; otherwise the test that overwriting would make: a file
  // that the user may not write or another program holds unshared does not open for writing.
  // Nothing is changed by either.
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return false;
  }
  const HANDLE h = CreateFileA(target.c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
  } else if (const DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND &&
                                                 error != ERROR_PATH_NOT_FOUND &&
                                                 error != ERROR_FILENAME_EXCED_RANGE) {
    // No file there (or a path the check cannot open at all): the temporary file and its
    // renaming into place decide, as for any new file.
    return false;
  }
  if (!CreateTemporary(FolderOf(target), createdPath)) return false;
  m_impl->replacedPath = target;
  return true;
}

bool PcFile::PutInPlace() { return IsOpen() && PutInPlaceOf(m_impl->replacedPath); }

bool PcFile::Close() {
  if (!IsOpen()) return true;
  const BOOL ok = CloseHandle(m_impl->handle);
  m_impl->handle = INVALID_HANDLE_VALUE;
  m_impl->temporaryPath.clear();
  return ok != 0;
}

void RemoveStaleTemporaries(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  const HANDLE find = FindFirstFileA((folder + kTemporaryPrefix + "*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    // A file that a live program writes is open unshared: deleting it fails.
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
        IsTemporaryName(entry.cFileName)) {
      DeleteFileA((folder + entry.cFileName).c_str());
    }
  } while (FindNextFileA(find, &entry));
  FindClose(find);
}

bool RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

std::string FolderOf(const std::string& nativePath) {
  const std::size_t slash = nativePath.find_last_of("\\/");
  if (slash != std::string::npos) return nativePath.substr(0, slash + 1);
  // "C:name" lies in the current folder of drive C.
  if (nativePath.size() >= 2 && nativePath[1] == ':' &&
      std::isalpha(static_cast<unsigned char>(nativePath[0]))) {
    return nativePath.substr(0, 2);
  }
  return "";
}

}  // namespace cabrix::platform
