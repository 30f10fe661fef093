// Loopback addresses per test, so that every test can give its own plcsim port 1200 and tests
// run in parallel without clashing. Only 127.0.0.0/8 is ever handed out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cabrix::test {

inline constexpr std::uint16_t kPlcPort = 1200;

// A fixed address 127.a.b.c for the name (the same name always gives the same address), never
// 127.0.0.1 and never ending in .0 or .255.
std::string LoopbackAddressFor(std::string_view name);

// LoopbackAddressFor("<salt><suite>.<test>") of the running GoogleTest test (parameterised names
// included), where the salt is $CABRIX_TEST_ADDRESS_SALT (empty when unset); "127.0.0.2" outside
// a test.
std::string TestAddress();

}  // namespace cabrix::test
