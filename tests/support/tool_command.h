// Where the programs under test are.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace cabrix::test {

// The build folder: env CABRIX_BUILD_DIR (set by CTest for every test), else the folder this
// library was configured in.
std::filesystem::path BuildDir();

// BuildDir()/bin/plcsim.
std::filesystem::path SimPath();

// The argv prefix that runs cabrix: the words of env CABRIX_TOOL_LAUNCHER when set (for example
// "wine"), then env CABRIX_TOOL, or BuildDir()/bin/cabrix when that is unset or empty.
std::vector<std::string> ToolCommand();

// ToolCommand() followed by `args`.
std::vector<std::string> ToolCommand(const std::vector<std::string>& args);

}  // namespace cabrix::test
