// The three code pages of the system, from one set of tables: Windows-1251, in which the
// controller keeps its names and the tool its texts; code page 866, in which the console shows
// them; and UTF-8, the text of POSIX file systems and terminals. Pure functions, no operating
// system behind them; the tables are usable at compile time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cabrix {

namespace codepage_table {

// Windows-1251 0x80 to 0xBF; from 0xC0 on the letters А..я follow in order. 0x98 has no
// character in Windows-1251: it stands for U+0098, so that every byte has a character.
inline constexpr std::array<char16_t, 64> kCp1251UpperHalf{
    u'\u0402', u'\u0403', u'\u201A', u'\u0453', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u20AC', u'\u2030', u'\u0409', u'\u2039', u'\u040A', u'\u040C', u'\u040B', u'\u040F',
    u'\u0452', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u0098', u'\u2122', u'\u0459', u'\u203A', u'\u045A', u'\u045C', u'\u045B', u'\u045F',
    u'\u00A0', u'\u040E', u'\u045E', u'\u0408', u'\u00A4', u'\u0490', u'\u00A6', u'\u00A7',
    u'\u0401', u'\u00A9', u'\u0404', u'\u00AB', u'\u00AC', u'\u00AD', u'\u00AE', u'\u0407',
    u'\u00B0', u'\u00B1', u'\u0406', u'\u0456', u'\u0491', u'\u00B5', u'\u00B6', u'\u00B7',
    u'\u0451', u'\u2116', u'\u0454', u'\u00BB', u'\u0458', u'\u0405', u'\u0455', u'\u0457'};

// Code page 866 0xB0 to 0xDF: shades, lines and blocks.
inline constexpr std::array<char16_t, 48> kCp866BoxDrawing{
    u'░', u'▒', u'▓', u'│', u'┤', u'╡', u'╢', u'╖', u'╕', u'╣', u'║', u'╗', u'╝', u'╜', u'╛', u'┐',
    u'└', u'┴', u'┬', u'├', u'─', u'┼', u'╞', u'╟', u'╚', u'╔', u'╩', u'╦', u'╠', u'═', u'╬', u'╧',
    u'╨', u'╤', u'╥', u'╙', u'╘', u'╒', u'╓', u'╫', u'╪', u'┘', u'┌', u'█', u'▄', u'▌', u'▐', u'▀'};

// Code page 866 0xF0 to 0xFF: Ё ё Є є Ї ї Ў ў, then degree, bullet, middle dot, root, number
// sign, currency sign, black square and no-break space.
inline constexpr std::array<char16_t, 16> kCp866Tail{u'Ё', u'ё', u'Є', u'є', u'Ї', u'ї',
                                                     u'Ў', u'ў', u'°', u'∙', u'·', u'√',
                                                     u'№', u'¤', u'■', u'\u00A0'};

}  // namespace codepage_table

// The character of a Windows-1251 byte.
constexpr char32_t Cp1251ToUnicode(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xC0) return codepage_table::kCp1251UpperHalf[byte - 0x80];
  return U'А' + (byte - 0xC0);
}

// The Windows-1251 byte of a character; nullopt for a character that Windows-1251 lacks.
constexpr std::optional<std::uint8_t> UnicodeToCp1251(char32_t c) {
  if (c < 0x80) return static_cast<std::uint8_t>(c);
  if (c >= U'А' && c <= U'я') return static_cast<std::uint8_t>(c - U'А' + 0xC0);
  for (std::size_t i = 0; i < codepage_table::kCp1251UpperHalf.size(); ++i) {
    if (codepage_table::kCp1251UpperHalf[i] == c) return static_cast<std::uint8_t>(0x80 + i);
  }
  return std::nullopt;
}

// The character that a code page 866 byte shows: below 0x80 the byte itself (ASCII and the
// control bytes), above it Cyrillic letters, box drawing and a few signs.
constexpr char32_t Cp866ToUnicode(std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (byte < 0xB0) return U'А' + (byte - 0x80);  // А..Я, а..п
  if (byte < 0xE0) return codepage_table::kCp866BoxDrawing[byte - 0xB0];
  if (byte < 0xF0) return U'р' + (byte - 0xE0);  // р..я
  return codepage_table::kCp866Tail[byte - 0xF0];
}

// The character of the UTF-8 sequence at `i` of `s` (i < s.size()), moving `i` past it; nullopt
// for a sequence that is not well-formed: a stray continuation byte, a cut-off sequence, an
// overlong form, a surrogate, or a value beyond U+10FFFF.
constexpr std::optional<char32_t> NextUtf8Character(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  std::size_t extra = 0;
  char32_t c = 0;
  char32_t least = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if ((b0 & 0xE0) == 0xC0) {
    extra = 1;
    c = b0 & 0x1F;
    least = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2;
    c = b0 & 0x0F;
    least = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3;
    c = b0 & 0x07;
    least = 0x10000;
  } else {
    return std::nullopt;
  }
  if (s.size() - i <= extra) return std::nullopt;
  for (std::size_t k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + k]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  i += extra + 1;
  return c;
}

// Appends the UTF-8 form of `c`, a character of the Basic Multilingual Plane.
void AppendUtf8(std::string& out, char32_t c);

// Every byte as its character in UTF-8, so that the text comes back unchanged from
// Utf8ToCp1251.
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

// The UTF-8 form of code page 866 bytes, every byte one character.
std::string Cp866ToUtf8(std::string_view cp866);

// The console conversion of the tool's texts, in place up to the first zero byte: the letters
// А..я move to their code page 866 places and № becomes 0xFC; every other byte stays as it is,
// Ё and ё included (code page 866 has them elsewhere, but the console shows them as they come).
// Returns `text`.
char* ToConsoleText(char* text);

// The same conversion of a copy of `cp1251`, up to its first zero byte.
std::string ConsoleTextOf(std::string_view cp1251);

}  // namespace cabrix
