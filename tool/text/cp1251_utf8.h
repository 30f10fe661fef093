// Windows-1251, the controller's code page for names and texts, to and from UTF-8, the text of
// POSIX file systems. Pure functions, no operating system behind them.
#pragma once

#include <string>
#include <string_view>

namespace cabrix {

// Every byte as its character in UTF-8. Byte 0x98, to which Windows-1251 gives no character,
// becomes U+0098, so that every byte string has a UTF-8 form that comes back unchanged.
std::string Cp1251ToUtf8(std::string_view cp1251);

// UTF-8 text as Windows-1251 bytes, the inverse of Cp1251ToUtf8.
struct Cp1251FromUtf8 {
  enum class Outcome {
    kConverted,       // `bytes` holds the text in Windows-1251
    kNotUtf8,         // the text is no valid UTF-8; `bytes` is empty
    kLacksCharacter,  // Windows-1251 lacks a character of it; `bytes` holds '?' in its place
  };
  Outcome outcome = Outcome::kNotUtf8;
  std::string bytes;
};
Cp1251FromUtf8 Utf8ToCp1251(std::string_view utf8);

}  // namespace cabrix
