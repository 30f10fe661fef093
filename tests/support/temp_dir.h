// Temporary folders for whole-program tests, removed with everything in them on destruction.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace cabrix::test {

class TempDir {
 public:
  // Creates a fresh folder under $TMPDIR (or /tmp) whose name starts with `prefix`.
  explicit TempDir(std::string_view prefix = "cabrix-test");
  ~TempDir();
  TempDir(TempDir&& o) noexcept : m_path(std::exchange(o.m_path, {})) {}
  TempDir& operator=(TempDir&& o) noexcept;
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  std::string Str() const { return m_path.string(); }
  // Path() / name.
  std::filesystem::path operator/(const std::filesystem::path& name) const { return m_path / name; }

 private:
  std::filesystem::path m_path;
};

// A temporary XDG_CONFIG_HOME holding cabrix/dosdevices/, the device map through which cabrix
// finds COM<n> on POSIX: give plcsim `--pty ComLink(n)` and COM<n> is its pseudo-terminal.
class XdgConfigHome {
 public:
  XdgConfigHome();

  const std::filesystem::path& Path() const { return m_dir.Path(); }
  std::filesystem::path DosDevices() const;
  // <home>/cabrix/dosdevices/com<n>
  std::filesystem::path ComLink(int n) const;
  // The variable to give a child: {"XDG_CONFIG_HOME", Path()}.
  std::pair<std::string, std::string> Env() const;

 private:
  TempDir m_dir;
};

// Whole-file helpers; they throw std::runtime_error when the file cannot be read or written.
std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);

// `size` bytes of a fixed pseudo-random pattern (the same for the same seed), every byte value
// included, for transfer tests.
std::string PatternBytes(std::size_t size, unsigned seed = 1);

}  // namespace cabrix::test
