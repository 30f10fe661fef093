// Reading decimal numbers the way the C library's "%d" conversion does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cabrix {

// Reads one decimal integer at `pos`: leading blanks skipped, an optional sign, then digits;
// reading stops at the first character that cannot continue the number. On success `pos` stands
// after the number. nullopt when no digit can be read. Values beyond 32 bits wrap, keeping their
// low bits.
std::optional<std::int32_t> ScanDecimal(std::string_view text, std::size_t& pos);

// The folder of a /FLDR switch: what follows the five characters "/FLDR", with the double
// quotes at its end and then those at its start removed, and a backslash appended when it does
// not end in one. Empty when nothing but quotes (or nothing at all) follows the switch.
std::string FolderOfSwitch(std::string_view arg);

}  // namespace cabrix
