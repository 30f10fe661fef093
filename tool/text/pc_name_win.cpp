#include "text/pc_name.h"

namespace cabrix {

// The PC's names are its ANSI code page's bytes, Windows-1251 on the operators' PCs: they go to
// the controller as they are.
std::optional<std::string> ControllerFormOf(std::string_view pcName) { return std::string(pcName); }

std::string PcFormOf(std::string_view controllerName) { return std::string(controllerName); }

}  // namespace cabrix
