// Durations, instants of the monotonic clock and wall-clock times as the model holds them.
#pragma once

#include <chrono>
#include <compare>
#include <cstdint>
#include <expected>
#include <optional>
#include <string_view>

namespace zelvane::value {

// An instant of the monotonic clock: deadlines and the times waits end at.
using MonotonicInstant = std::chrono::steady_clock::time_point;

// Whole seconds plus nanoseconds (0 to 999,999,999; one built field by field may hold more, and
// the conversions count them all).
struct Duration {
  std::uint64_t secs = 0;
  std::uint32_t nanos = 0;

  static constexpr Duration from_nanos(std::uint64_t ns) {
    return {ns / 1'000'000'000u, static_cast<std::uint32_t>(ns % 1'000'000'000u)};
  }
  static constexpr Duration from_millis(std::uint64_t ms) {
    return {ms / 1000u, static_cast<std::uint32_t>(ms % 1000u) * 1'000'000u};
  }
  // Seconds as a float, to the nearest nanosecond; the text says why a value has none (it is
  // negative, NaN, or 2^64 seconds or more).
  static std::expected<Duration, std::string_view> from_secs_f64(double seconds);

  // The whole milliseconds (what is left below one is dropped); none past 64 bits.
  constexpr std::optional<std::uint64_t> whole_millis() const {
    constexpr std::uint64_t kMax = UINT64_MAX;
    if (secs > kMax / 1000u) return std::nullopt;
    const std::uint64_t whole = secs * 1000u;
    const std::uint64_t rest = nanos / 1'000'000u;
    if (rest > kMax - whole) return std::nullopt;
    return whole + rest;
  }
  // The whole milliseconds, or `ceiling` when there are more.
  constexpr std::uint64_t millis_at_most(std::uint64_t ceiling) const {
    const std::optional<std::uint64_t> ms = whole_millis();
    return ms && *ms < ceiling ? *ms : ceiling;
  }
  // The same time as the clock library counts it; none past what its nanoseconds hold (some
  // 292 years).
  constexpr std::optional<std::chrono::nanoseconds> to_nanoseconds() const {
    constexpr auto kMax = static_cast<std::uint64_t>(std::chrono::nanoseconds::max().count());
    if (secs > kMax / 1'000'000'000u) return std::nullopt;
    const std::uint64_t total = secs * 1'000'000'000u + nanos;
    if (total > kMax) return std::nullopt;
    return std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(total));
  }

  friend constexpr auto operator<=>(const Duration&, const Duration&) = default;
};

// `now` plus `d`: the deadline of a wait that starts now; none when the sum is past what the
// clock holds, for a wait without end.
constexpr std::optional<MonotonicInstant> deadline_after(MonotonicInstant now, Duration d) {
  const std::optional<std::chrono::nanoseconds> span = d.to_nanoseconds();
  if (!span || *span > MonotonicInstant::max() - now) return std::nullopt;
  return now + *span;
}

// A point of wall-clock time: 100-nanosecond intervals since 1601-01-01 00:00:00 UTC
// (the Windows FILETIME count).
struct WallTime {
  std::int64_t intervals = 0;

  // The system's precise wall clock.
  static WallTime now();
  friend constexpr auto operator<=>(const WallTime&, const WallTime&) = default;
};

}  // namespace zelvane::value
