#include "codepage/codepage.h"

namespace cabrix {

namespace {

// The code page 866 byte of a character that it holds; 0 for one it lacks.
constexpr std::uint8_t Cp866ByteOf(char32_t c) {
  for (unsigned b = 0x80; b <= 0xFF; ++b) {
    if (Cp866ToUnicode(static_cast<std::uint8_t>(b)) == c) return static_cast<std::uint8_t>(b);
  }
  return 0;
}

// For every Windows-1251 byte, the byte the console conversion gives.
constexpr std::array<std::uint8_t, 256> MakeConsoleBytes() {
  std::array<std::uint8_t, 256> bytes{};
  for (unsigned b = 0; b < 256; ++b) {
    const char32_t c = Cp1251ToUnicode(static_cast<std::uint8_t>(b));
    const bool moves = (c >= U'А' && c <= U'я') || c == U'№';
    bytes[b] = moves ? Cp866ByteOf(c) : static_cast<std::uint8_t>(b);
  }
  return bytes;
}

constexpr std::array<std::uint8_t, 256> kConsoleBytes = MakeConsoleBytes();

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
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

std::string Cp1251ToUtf8(std::string_view cp1251) {
  std::string out;
  out.reserve(cp1251.size() * 2);
  for (const char b : cp1251) AppendUtf8(out, Cp1251ToUnicode(static_cast<std::uint8_t>(b)));
  return out;
}

Cp1251FromUtf8 Utf8ToCp1251(std::string_view utf8) {
  Cp1251FromUtf8 result;
  result.outcome = Cp1251FromUtf8::Outcome::kConverted;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto c = NextUtf8Character(utf8, i);
    if (!c) return {Cp1251FromUtf8::Outcome::kNotUtf8, {}};
    if (const auto b = UnicodeToCp1251(*c)) {
      result.bytes += static_cast<char>(*b);
    } else {
      result.outcome = Cp1251FromUtf8::Outcome::kLacksCharacter;
      result.bytes += '?';
    }
  }
  return result;
}

std::string Cp866ToUtf8(std::string_view cp866) {
  std::string out;
  out.reserve(cp866.size() * 2);
  for (const char b : cp866) AppendUtf8(out, Cp866ToUnicode(static_cast<std::uint8_t>(b)));
  return out;
}

char* ToConsoleText(char* text) {
  for (char* p = text; *p != '\0'; ++p) {
    *p = static_cast<char>(kConsoleBytes[static_cast<unsigned char>(*p)]);
  }
  return text;
}

std::string ConsoleTextOf(std::string_view cp1251) {
  std::string copy(cp1251.substr(0, cp1251.find('\0')));
  ToConsoleText(copy.data());
  return copy;
}

}  // namespace cabrix
