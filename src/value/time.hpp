// Durations and wall-clock times as the model holds them.
#pragma once

#include <compare>
#include <cstdint>

namespace zelvane::value {

// Whole seconds plus nanoseconds (0 to 999,999,999).
struct Duration {
  std::uint64_t secs = 0;
  std::uint32_t nanos = 0;

  static constexpr Duration from_nanos(std::uint64_t ns) {
    return {ns / 1'000'000'000u, static_cast<std::uint32_t>(ns % 1'000'000'000u)};
  }
  static constexpr Duration from_millis(std::uint64_t ms) {
    return {ms / 1000u, static_cast<std::uint32_t>(ms % 1000u) * 1'000'000u};
  }
  friend constexpr auto operator<=>(const Duration&, const Duration&) = default;
};

// A point of wall-clock time: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC
// (the Windows FILETIME count).
struct WallTime {
  std::int64_t intervals = 0;

  // The system's precise wall clock.
  static WallTime now();
  friend constexpr auto operator<=>(const WallTime&, const WallTime&) = default;
};

}  // namespace zelvane::value
