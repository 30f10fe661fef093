// Code page 866, the console code page of the tool's texts, shown on a terminal that speaks
// UTF-8. Pure functions, no operating system behind them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cabrix::platform {

// The Unicode character that a code page 866 byte shows: below 0x80 the byte itself (ASCII and
// the control bytes), above it Cyrillic letters, box drawing and a few signs.
char32_t Cp866ToUnicode(std::uint8_t byte);

// The UTF-8 form of code page 866 bytes, every byte one character.
std::string Cp866ToUtf8(std::string_view cp866);

}  // namespace cabrix::platform
