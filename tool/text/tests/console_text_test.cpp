#include <gtest/gtest.h>

#include <string>

#include "text/messages.h"

namespace cabrix {
namespace {

TEST(Cp1251Text, EncodesCyrillicAndSigns) {
  constexpr Cp1251Text text{"Аая ЁёЯ№…%"};
  EXPECT_EQ(text.str(), "\xC0\xE0\xFF \xA8\xB8\xDF\xB9\x85%");
}

}  // namespace
}  // namespace cabrix
