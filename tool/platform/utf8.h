// Writing characters as UTF-8, for the code page conversions. Pure, no operating system behind it.
#pragma once

#include <string>

namespace cabrix::platform {

// Appends the UTF-8 form of `c`, a character of the Basic Multilingual Plane.
inline void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace cabrix::platform
