// Windows-1251, the controller's code page, from UTF-8 text given on the command line.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plcsim {

// ASCII, the Cyrillic letters (Ё and ё included) and №; nullopt for anything else or for bytes
// that are not UTF-8.
std::optional<std::string> Utf8To1251(std::string_view utf8);

// The information record answered to "PLCInfo" when none is given.
std::string DefaultInfoRecord();

}  // namespace plcsim
