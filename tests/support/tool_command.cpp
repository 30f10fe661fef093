#include "support/tool_command.h"

#include <cstdlib>
#include <sstream>

#ifndef CABRIX_DEFAULT_BUILD_DIR
#define CABRIX_DEFAULT_BUILD_DIR "build"
#endif

namespace cabrix::test {

namespace {
std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
}
}  // namespace

std::filesystem::path BuildDir() {
  const std::string dir = Env("CABRIX_BUILD_DIR");
  return dir.empty() ? std::filesystem::path(CABRIX_DEFAULT_BUILD_DIR) : std::filesystem::path(dir);
}

std::filesystem::path SimPath() { return BuildDir() / "bin" / "plcsim"; }

std::vector<std::string> ToolCommand() {
  std::vector<std::string> argv;
  std::istringstream launcher(Env("CABRIX_TOOL_LAUNCHER"));
  for (std::string word; launcher >> word;) argv.push_back(word);
  const std::string tool = Env("CABRIX_TOOL");
  argv.push_back(tool.empty() ? (BuildDir() / "bin" / "cabrix").string() : tool);
  return argv;
}

std::vector<std::string> ToolCommand(const std::vector<std::string>& args) {
  std::vector<std::string> argv = ToolCommand();
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace cabrix::test
