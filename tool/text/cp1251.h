// Texts of the tool are Windows-1251 byte strings. They are written in the sources as ordinary
// (UTF-8) literals and turned into their Windows-1251 bytes at compile time, so the sources stay
// readable and the bytes are fixed before the program runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "codepage/codepage.h"

namespace cabrix {

template <std::size_t N>
struct Cp1251Text {
  char bytes[N]{};
  std::size_t size = 0;

  // Anything that is no UTF-8, or a character that Windows-1251 cannot hold, is a compile error.
  consteval Cp1251Text(const char (&utf8)[N]) {
    const std::string_view text(utf8, N - 1);
    for (std::size_t i = 0; i < text.size();) {
      const auto c = NextUtf8Character(text, i);
      if (!c) throw "no UTF-8";
      const auto b = UnicodeToCp1251(*c);
      if (!b) throw "character outside Windows-1251";
      bytes[size++] = static_cast<char>(*b);
    }
  }

  constexpr std::string_view view() const { return {bytes, size}; }
  std::string str() const { return std::string(view()); }
};

}  // namespace cabrix
