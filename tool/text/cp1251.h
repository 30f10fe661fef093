// Texts of the tool are Windows-1251 byte strings. They are written in the sources as ordinary
// (UTF-8) literals and turned into their Windows-1251 bytes at compile time, so the sources stay
// readable and the bytes are fixed before the program runs.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cabrix {

template <std::size_t N>
struct Cp1251Text {
  char bytes[N]{};
  std::size_t size = 0;

  // A character that Windows-1251 cannot hold is a compile error.
  consteval Cp1251Text(const char (&utf8)[N]) {
    std::size_t i = 0;
    while (i + 1 < N) {
      const auto b0 = static_cast<unsigned char>(utf8[i]);
      char32_t cp = 0;
      if (b0 < 0x80) {
        cp = b0;
        i += 1;
      } else if ((b0 & 0xE0) == 0xC0) {
        cp = (char32_t(b0 & 0x1F) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F);
        i += 2;
      } else if ((b0 & 0xF0) == 0xE0) {
        cp = (char32_t(b0 & 0x0F) << 12) |
             (char32_t(static_cast<unsigned char>(utf8[i + 1]) & 0x3F) << 6) |
             (static_cast<unsigned char>(utf8[i + 2]) & 0x3F);
        i += 3;
      } else {
        throw "character outside Windows-1251";
      }
      bytes[size++] = static_cast<char>(Encode(cp));
    }
  }

  constexpr std::string_view view() const { return {bytes, size}; }
  std::string str() const { return std::string(view()); }

 private:
  static consteval unsigned char Encode(char32_t cp) {
    if (cp < 0x80) return static_cast<unsigned char>(cp);
    if (cp >= 0x0410 && cp <= 0x044F) return static_cast<unsigned char>(cp - 0x0410 + 0xC0);
    switch (cp) {
      case 0x0401: return 0xA8;  // Ё
      case 0x0451: return 0xB8;  // ё
      case 0x2116: return 0xB9;  // №
      case 0x2026: return 0x85;  // …
    }
    throw "character outside Windows-1251";
  }
};

}  // namespace cabrix
