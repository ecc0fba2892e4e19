#include "value/time.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

namespace zelvane::value {

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
