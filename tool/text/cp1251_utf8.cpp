#include "text/cp1251_utf8.h"

#include <array>
#include <optional>

#include "platform/utf8.h"

namespace cabrix {

namespace {

// 0x80 to 0xBF; from 0xC0 on the letters А..я follow in order.
constexpr std::array<char16_t, 64> kUpperHalf{
    u'\u0402', u'\u0403', u'\u201A', u'\u0453', u'\u201E', u'\u2026', u'\u2020', u'\u2021',
    u'\u20AC', u'\u2030', u'\u0409', u'\u2039', u'\u040A', u'\u040C', u'\u040B', u'\u040F',
    u'\u0452', u'\u2018', u'\u2019', u'\u201C', u'\u201D', u'\u2022', u'\u2013', u'\u2014',
    u'\u0098', u'\u2122', u'\u0459', u'\u203A', u'\u045A', u'\u045C', u'\u045B', u'\u045F',
    u'\u00A0', u'\u040E', u'\u045E', u'\u0408', u'\u00A4', u'\u0490', u'\u00A6', u'\u00A7',
    u'\u0401', u'\u00A9', u'\u0404', u'\u00AB', u'\u00AC', u'\u00AD', u'\u00AE', u'\u0407',
    u'\u00B0', u'\u00B1', u'\u0406', u'\u0456', u'\u0491', u'\u00B5', u'\u00B6', u'\u00B7',
    u'\u0451', u'\u2116', u'\u0454', u'\u00BB', u'\u0458', u'\u0405', u'\u0455', u'\u0457'};

char32_t CharacterOf(unsigned char b) {
  if (b < 0x80) return b;
  if (b < 0xC0) return kUpperHalf[b - 0x80];
  return U'\u0410' + (b - 0xC0);
}

std::optional<unsigned char> ByteOf(char32_t c) {
  if (c < 0x80) return static_cast<unsigned char>(c);
  if (c >= U'\u0410' && c <= U'\u044F') return static_cast<unsigned char>(c - U'\u0410' + 0xC0);
  for (std::size_t i = 0; i < kUpperHalf.size(); ++i) {
    if (kUpperHalf[i] == c) return static_cast<unsigned char>(0x80 + i);
  }
  return std::nullopt;
}

// The character of the UTF-8 sequence at `i` (moving `i` past it); nullopt for a sequence that
// is not well-formed: a stray continuation byte, a cut-off sequence, an overlong form, a
// surrogate, or a value beyond U+10FFFF.
std::optional<char32_t> NextCharacter(std::string_view s, std::size_t& i) {
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

}  // namespace

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (const char b : cp1251) {
    platform::AppendUtf8(out, CharacterOf(static_cast<unsigned char>(b)));
  }
  return out;
}

Cp1251FromUtf8 Utf8ToCp1251(std::string_view utf8) {
  Cp1251FromUtf8 result;
  result.outcome = Cp1251FromUtf8::Outcome::kConverted;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = NextCharacter(utf8, i);
    if (!c) return {Cp1251FromUtf8::Outcome::kNotUtf8, {}};
    if (const auto b = ByteOf(*c)) {
      result.bytes += static_cast<char>(*b);
    } else {
      result.outcome = Cp1251FromUtf8::Outcome::kLacksCharacter;
      result.bytes += '?';
    }
  }
  return result;
}

}  // namespace cabrix
