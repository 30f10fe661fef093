// POSIX only: turning millisecond bounds into poll() time-outs.
#pragma once

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <optional>

namespace cabrix::platform {

using SteadyClock = std::chrono::steady_clock;

// The poll() time-out that ends at or just after `deadline`: whole milliseconds rounded up, so
// that a wait never ends early, and clamped to what poll() takes (the caller loops). -1 waits
// without a bound.
inline int PollTimeoutMs(const std::optional<SteadyClock::time_point>& deadline) {
  if (!deadline) return -1;
  const auto now = SteadyClock::now();
  if (now >= *deadline) return 0;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now).count();
  return static_cast<int>(std::min<std::int64_t>(left, INT_MAX));
}

}  // namespace cabrix::platform
