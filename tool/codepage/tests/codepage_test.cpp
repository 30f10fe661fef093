#include <gtest/gtest.h>

#include <set>
#include <string>

#include "codepage/codepage.h"

namespace cabrix {
namespace {

std::string Converted(std::string text) {
  ToConsoleText(text.data());
  return text;
}

TEST(ToConsoleText, MapsEveryByteByItsRule) {
  EXPECT_EQ(Converted(""), "");
  // "Параметры:\n" from Windows-1251 to code page 866.
  EXPECT_EQ(Converted("\xCF\xE0\xF0\xE0\xEC\xE5\xF2\xF0\xFB:\n"),
            "\x8F\xA0\xE0\xA0\xAC\xA5\xE2\xE0\xEB:\n");
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::string out = Converted(all);
  for (int b = 1; b < 256; ++b) {
    const auto got = static_cast<unsigned char>(out[b - 1]);
    int want = b;
    if (b >= 0xF0) want = b - 0x10;
    else if (b >= 0xC0) want = b - 0x40;
    else if (b == 0xB9) want = 0xFC;
    EXPECT_EQ(got, want) << "byte " << b;
  }
  EXPECT_EQ(static_cast<unsigned char>(Converted("\xA8")[0]), 0xA8);  // Ё stays
  EXPECT_EQ(static_cast<unsigned char>(Converted("\xB8")[0]), 0xB8);  // ё stays
}

TEST(ToConsoleText, StopsAtTheFirstZeroByte) {
  std::string text("\xC0\0\xC0", 3);
  ToConsoleText(text.data());
  EXPECT_EQ(static_cast<unsigned char>(text[0]), 0x80);
  EXPECT_EQ(static_cast<unsigned char>(text[2]), 0xC0);
}

TEST(Cp1251Utf8, EveryByteHasAUtf8FormThatComesBack) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const Cp1251FromUtf8 back = Utf8ToCp1251(Cp1251ToUtf8(byte));
    EXPECT_EQ(back.outcome, Cp1251FromUtf8::Outcome::kConverted) << "byte " << b;
    EXPECT_EQ(back.bytes, byte) << "byte " << b;
  }
  // 0x98 has no character in Windows-1251: it keeps its place as U+0098.
  EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8\xB9\x96\x80\x98"), "АяЁё№–Ђ\u0098");
}

TEST(Cp1251Utf8, TextThatIsNoUtf8OrLacksACharacterIsToldApart) {
  using Outcome = Cp1251FromUtf8::Outcome;
  const struct {
    const char* utf8;
    Outcome outcome;
    const char* bytes;
  } rows[] = {
      {"Ёлка.txt", Outcome::kConverted, "\xA8\xEB\xEA\xE0.txt"},
      {"\xC0\xE0.txt", Outcome::kNotUtf8, ""},  // Windows-1251 already
      {"a\xC3(", Outcome::kNotUtf8, ""},        // a continuation byte missing
      {"\xC0\x80", Outcome::kNotUtf8, ""},      // overlong
      {"\xED\xA0\x80", Outcome::kNotUtf8, ""},  // a surrogate
      {"\xE2\x82", Outcome::kNotUtf8, ""},      // cut off
      {"a\xF0\x9F\x98\x80z", Outcome::kLacksCharacter, "a?z"},
      {"日本.txt", Outcome::kLacksCharacter, "??.txt"},
  };
  for (const auto& row : rows) {
    const Cp1251FromUtf8 got = Utf8ToCp1251(row.utf8);
    EXPECT_EQ(got.outcome, row.outcome) << row.utf8;
    EXPECT_EQ(got.bytes, row.bytes) << row.utf8;
  }
}

TEST(Cp866, EveryUpperByteIsItsOwnCharacter) {
  std::set<char32_t> seen;
  for (int b = 0x80; b <= 0xFF; ++b) {
    const char32_t c = Cp866ToUnicode(static_cast<std::uint8_t>(b));
    EXPECT_GE(c, 0xA0u) << b;
    seen.insert(c);
  }
  EXPECT_EQ(seen.size(), 128u);
  EXPECT_EQ(Cp866ToUtf8("\x80\x9F\xA0\xAF\xE0\xEF"), "АЯапря");
  EXPECT_EQ(Cp866ToUtf8("\xB0\xB3\xC4\xC5\xCD\xDB\xDF"), "░│─┼═█▀");
  EXPECT_EQ(Cp866ToUtf8("\xF0\xF1\xF2\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF"), "ЁёЄў°∙·√№¤■\u00A0");
  EXPECT_EQ(Cp866ToUtf8("\x8F\xA0\xE0\xA0\xAC\xA5\xE2\xE0\xEB:\r\n%s\t\x01"), "Параметры:\r\n%s\t\x01");
}

}  // namespace
}  // namespace cabrix
