#include "support/test_address.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace cabrix::test {

std::string LoopbackAddressFor(std::string_view name) {
  // FNV-1a over the name; 24 bits of it make the three low bytes.
  std::uint32_t h = 2166136261u;
  for (const char c : name) {
    h ^= static_cast<unsigned char>(c);
    h *= 16777619u;
  }
  unsigned a = (h >> 16) & 0xFF;
  unsigned b = (h >> 8) & 0xFF;
  unsigned c = h & 0xFF;
  if (c == 0 || c == 255) c = 1 + (h >> 24) % 254;
  if (a == 0 && b == 0 && c == 1) c = 2;
  return "127." + std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c);
}

std::string TestAddress() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "127.0.0.2";
  // Two checkouts testing side by side on one machine give each run a salt of its own.
  const char* salt = std::getenv("CABRIX_TEST_ADDRESS_SALT");
  return LoopbackAddressFor(std::string(salt != nullptr ? salt : "") + info->test_suite_name() +
                            "." + info->name());
}

}  // namespace cabrix::test
