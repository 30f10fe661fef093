// A file name has two forms. The controller keeps its names as Windows-1251 bytes, the
// controller form; a PC names its files in its own form. On Windows both are the same bytes. On
// POSIX, whose file systems speak UTF-8, the PC form is the name's UTF-8 text: a name that is
// valid UTF-8 goes to the controller in Windows-1251, one that is not is taken to be Windows-1251
// already, and a controller file lands on the PC under its name's UTF-8 form.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cabrix {

// The controller form of a name in the PC's form; nullopt when Windows-1251 lacks one of its
// characters (the name cannot be sent).
std::optional<std::string> ControllerFormOf(std::string_view pcName);

// The PC form of a controller name.
std::string PcFormOf(std::string_view controllerName);

}  // namespace cabrix
