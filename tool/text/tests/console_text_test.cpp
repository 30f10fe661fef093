#include <gtest/gtest.h>

#include <string>

#include "text/messages.h"
#include "text/scan.h"

namespace cabrix {
namespace {

TEST(Cp1251Text, EncodesCyrillicAndSigns) {
  constexpr Cp1251Text text{"Аая ЁёЯ№…%"};
  EXPECT_EQ(text.str(), "\xC0\xE0\xFF \xA8\xB8\xDF\xB9\x85%");
}

TEST(ScanDecimal, ReadsLikeTheCLibrary) {
  std::size_t pos = 0;
  EXPECT_EQ(ScanDecimal("12x", pos), 12);
  EXPECT_EQ(pos, 2u);
  pos = 0;
  EXPECT_EQ(ScanDecimal("  -1", pos), -1);
  pos = 0;
  EXPECT_EQ(ScanDecimal("+7", pos), 7);
  for (const char* bad : {"", "x", "-", " +", "."}) {
    pos = 0;
    EXPECT_FALSE(ScanDecimal(bad, pos).has_value()) << bad;
    EXPECT_EQ(pos, 0u);
  }
}

}  // namespace
}  // namespace cabrix
