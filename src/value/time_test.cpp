#include "value/time.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <string_view>

namespace zelvane::value {
namespace {

using std::chrono::nanoseconds;

constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr std::int64_t kI64Max = std::numeric_limits<std::int64_t>::max();

TEST(Duration, ConversionsCountEveryNanosecondUpToTheirLimits) {
  constexpr std::uint64_t kCeiling = 0xFFFFFFFE;
  struct Case {
    const char* name;
    Duration d;
    std::optional<std::uint64_t> millis;
    std::optional<nanoseconds> nanos;
    std::uint64_t at_most;  // millis_at_most(kCeiling)
  };
  const Case cases[] = {
      {"zero", {}, 0, nanoseconds(0), 0},
      {"below a millisecond", {0, 999'999}, 0, nanoseconds(999'999), 0},
      {"nanoseconds past a second, as a field may hold",
       {1, 2'500'000'000u},
       3'500,
       nanoseconds(3'500'000'000),
       3'500},
      {"at the ceiling", {4'294'967, 294'000'000}, kCeiling, nanoseconds(kCeiling * 1'000'000), kCeiling},
      {"a millisecond past it",
       {4'294'967, 295'000'000},
       kCeiling + 1,
       nanoseconds((kCeiling + 1) * 1'000'000),
       kCeiling},
      {"the most nanoseconds",
       {9'223'372'036, 854'775'807},
       9'223'372'036'854,
       nanoseconds(kI64Max),
       kCeiling},
      {"one nanosecond more", {9'223'372'036, 854'775'808}, 9'223'372'036'854, std::nullopt, kCeiling},
      {"the most milliseconds", {kU64Max / 1000, 615'000'000}, kU64Max, std::nullopt, kCeiling},
      {"one millisecond more", {kU64Max / 1000, 616'000'000}, std::nullopt, std::nullopt, kCeiling},
      {"seconds past any millisecond count", {kU64Max / 1000 + 1, 0}, std::nullopt, std::nullopt, kCeiling},
      {"the longest duration", {kU64Max, 999'999'999}, std::nullopt, std::nullopt, kCeiling},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.d.whole_millis(), c.millis);
    EXPECT_EQ(c.d.to_nanoseconds(), c.nanos);
    EXPECT_EQ(c.d.millis_at_most(kCeiling), c.at_most);
  }
}

TEST(Duration, FloatSecondsRoundToTheNearestNanosecond) {
  constexpr std::string_view kNegative = "cannot convert float seconds to Duration: value is negative";
  constexpr std::string_view kTooBig =
      "cannot convert float seconds to Duration: value is either too big or NaN";
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  // The largest double below 2^64.
  const double largest = std::nextafter(18446744073709551616.0, 0.0);
  struct Case {
    double seconds;
    std::expected<Duration, std::string_view> want;
  };
  const Case cases[] = {
      {0.0, Duration{}},
      {-0.0, Duration{}},
      {1.5, Duration{1, 500'000'000}},
      {1e-10, Duration{}},
      {0.9999999999, Duration{1, 0}},  // rounded up into the next second
      {largest, Duration{18'446'744'073'709'549'568u, 0}},
      {-1e-9, std::unexpected(kNegative)},
      {-kInfinity, std::unexpected(kNegative)},
      {18446744073709551616.0, std::unexpected(kTooBig)},
      {kInfinity, std::unexpected(kTooBig)},
      {std::numeric_limits<double>::quiet_NaN(), std::unexpected(kTooBig)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(Duration::from_secs_f64(c.seconds), c.want);
  }
}

TEST(Deadline, IsNowPlusTheDurationOrNoneWhenTheClockCannotHoldTheSum) {
  const MonotonicInstant epoch{};
  const MonotonicInstant max = MonotonicInstant::max();
  const MonotonicInstant now = epoch + std::chrono::hours(1);
  struct Case {
    const char* name;
    MonotonicInstant now;
    Duration d;
    std::optional<MonotonicInstant> want;
  };
  const Case cases[] = {
      {"zero", now, {}, now},
      {"five seconds", now, {5, 0}, now + std::chrono::seconds(5)},
      {"up to the clock's last instant", max - nanoseconds(1), {0, 1}, max},
      {"one nanosecond past it", max - nanoseconds(1), {0, 2}, std::nullopt},
      {"the clock's whole range", epoch, {9'223'372'036, 854'775'807}, max},
      {"more than the clock counts", epoch, {9'223'372'036, 854'775'808}, std::nullopt},
      {"the longest duration", now, {kU64Max, 999'999'999}, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(deadline_after(c.now, c.d), c.want);
  }
}

}  // namespace
}  // namespace zelvane::value
