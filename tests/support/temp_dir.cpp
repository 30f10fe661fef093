#include "support/temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace cabrix::test {

namespace fs = std::filesystem;

TempDir::TempDir(std::string_view prefix) {
  const char* tmp = std::getenv("TMPDIR");
  const fs::path base = (tmp && *tmp) ? fs::path(tmp) : fs::path("/tmp");
  std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) {
    throw std::runtime_error("mkdtemp failed for " + pattern);
  }
  m_path = fs::path(buf.data());
}

TempDir::~TempDir() {
  if (!m_path.empty()) {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
}

TempDir& TempDir::operator=(TempDir&& o) noexcept {
  if (this != &o) {
    if (!m_path.empty()) {
      std::error_code ec;
      fs::remove_all(m_path, ec);
    }
    m_path = std::exchange(o.m_path, {});
  }
  return *this;
}

XdgConfigHome::XdgConfigHome() : m_dir("cabrix-xdg") { fs::create_directories(DosDevices()); }

fs::path XdgConfigHome::DosDevices() const { return m_dir.Path() / "cabrix" / "dosdevices"; }

fs::path XdgConfigHome::ComLink(int n) const { return DosDevices() / ("com" + std::to_string(n)); }

std::pair<std::string, std::string> XdgConfigHome::Env() const {
  return {"XDG_CONFIG_HOME", m_dir.Str()};
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const fs::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string PatternBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t x = 2463534242u ^ (seed * 2654435761u);
  for (std::size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    bytes[i] = static_cast<char>((x >> 8) ^ i);
  }
  return bytes;
}

}  // namespace cabrix::test
