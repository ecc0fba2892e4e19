#include "value/time.hpp"

#include <cmath>

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace zelvane::value {

std::expected<Duration, std::string_view> Duration::from_secs_f64(double seconds) {
  if (seconds < 0.0) return std::unexpected("cannot convert float seconds to Duration: value is negative");
  // 2^64: the first whole number of seconds a Duration cannot hold.
  if (!(seconds < 18446744073709551616.0)) {
    return std::unexpected("cannot convert float seconds to Duration: value is either too big or NaN");
  }
  const double whole = std::floor(seconds);
  auto secs = static_cast<std::uint64_t>(whole);
  auto nanos = static_cast<std::uint64_t>(std::nearbyint((seconds - whole) * 1e9));
  if (nanos >= 1'000'000'000u) {
    // Rounding up to the next second; below 2^64 a double's fraction is zero long before
    // the seconds could overflow.
    ++secs;
    nanos -= 1'000'000'000u;
  }
  return Duration{secs, static_cast<std::uint32_t>(nanos)};
}

WallTime WallTime::now() {
#ifdef _WIN32
  FILETIME ft;
  GetSystemTimePreciseAsFileTime(&ft);
  return {static_cast<std::int64_t>((std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime)};
#else
  // 100 ns intervals between 1601-01-01 and the Unix epoch.
  constexpr std::int64_t kUnixEpochIntervals = 116'444'736'000'000'000;
  auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
  return {kUnixEpochIntervals + ns / 100};
#endif
}

}  // namespace zelvane::value
