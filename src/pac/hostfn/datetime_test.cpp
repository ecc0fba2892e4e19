#include "pac/hostfn/datetime.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "value/debug.hpp"

namespace zelvane::pac::hostfn {
namespace {

constexpr std::int64_t kIntervalsPerSecond = 10'000'000;
constexpr std::int64_t kEpochSeconds = 11'644'473'600;  // 1601-01-01 to 1970-01-01

value::WallTime unix_seconds(std::int64_t secs, std::int64_t extra_intervals = 0) {
  return {(secs + kEpochSeconds) * kIntervalsPerSecond + extra_intervals};
}

value::WallTime at(int y, unsigned mo, unsigned d, int h = 0, int mi = 0, int s = 0) {
  const std::chrono::sys_days day{std::chrono::year{y} / std::chrono::month{mo} / std::chrono::day{d}};
  return unix_seconds(std::int64_t{day.time_since_epoch().count()} * 86400 + h * 3600 + mi * 60 + s);
}

PacPolicy fixed(value::WallTime now, std::int32_t offset = 0) {
  PacPolicy p;
  p.now = now;
  p.local_utc_offset = offset;
  return p;
}

CivilTime civil(std::int64_t y, std::int64_t mo, std::int64_t d, std::int64_t h, std::int64_t mi,
                std::int64_t s, std::int64_t wd) {
  return {y, mo, d, h, mi, s, wd};
}

struct CivilCase {
  value::WallTime now;
  std::int32_t offset;
  bool utc;
  CivilTime expected;
};

TEST(CivilTime, BreaksDownTheMoment) {
  const std::vector<CivilCase> cases = {
      {unix_seconds(0), 0, false, civil(1970, 1, 1, 0, 0, 0, 4)},
      {unix_seconds(0), -1, false, civil(1969, 12, 31, 23, 59, 59, 3)},
      {unix_seconds(0), -1, true, civil(1970, 1, 1, 0, 0, 0, 4)},
      // Before the epoch the fraction rounds toward the past.
      {unix_seconds(0, -kIntervalsPerSecond / 2), 0, false, civil(1969, 12, 31, 23, 59, 59, 3)},
      {unix_seconds(0, kIntervalsPerSecond - 1), 0, false, civil(1970, 1, 1, 0, 0, 0, 4)},
      {at(2000, 2, 29, 12, 34, 56), 0, false, civil(2000, 2, 29, 12, 34, 56, 2)},
      {at(2026, 12, 11, 23, 30), 3600, false, civil(2026, 12, 12, 0, 30, 0, 6)},
      {at(2026, 12, 11, 23, 30), 3600, true, civil(2026, 12, 11, 23, 30, 0, 5)},
      {value::WallTime{0}, 0, false, civil(1601, 1, 1, 0, 0, 0, 1)},
      // The proleptic calendar has a year 0, a leap year.
      {at(0, 2, 29), 0, false, civil(0, 2, 29, 0, 0, 0, 2)},
      {at(0, 3, 1), 0, false, civil(0, 3, 1, 0, 0, 0, 3)},
      {at(-1, 12, 31, 23, 59, 59), 0, false, civil(-1, 12, 31, 23, 59, 59, 5)},
      {at(2100, 3, 1), 0, false, civil(2100, 3, 1, 0, 0, 0, 1)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(value::debug_text(civil_time_at(c.now, c.offset, c.utc)), value::debug_text(c.expected))
        << c.now.intervals << " " << c.offset;
  }
}

TEST(CivilTime, ExtremeMomentsAndOffsetsStayInRange) {
  using L = std::numeric_limits<std::int64_t>;
  using O = std::numeric_limits<std::int32_t>;
  for (const std::int64_t intervals : {L::min(), L::min() + 1, L::max(), std::int64_t{-1}}) {
    for (const std::int32_t offset : {O::min(), 0, O::max()}) {
      for (const bool utc : {false, true}) {
        const CivilTime t = civil_time_at(value::WallTime{intervals}, offset, utc);
        EXPECT_TRUE(t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31 && t.hour >= 0 &&
                    t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59 &&
                    t.weekday >= 0 && t.weekday <= 6)
            << value::debug_text(t);
      }
    }
  }
  // The last moment a FILETIME count can hold.
  EXPECT_EQ(value::debug_text(civil_time_at(value::WallTime{L::max()}, 0, true)),
            value::debug_text(civil(30828, 9, 14, 2, 48, 5, 4)));
}

TEST(CivilTime, WithoutAFixedMomentReadsTheSystemClock) {
  const PacPolicy p;
  const CivilTime before = civil_time_at(value::WallTime::now(), 0, true);
  const CivilTime t = civil_time(p, false);
  const CivilTime after = civil_time_at(value::WallTime::now(), 0, true);
  EXPECT_GE(t.year, before.year);
  EXPECT_LE(t.year, after.year);
  EXPECT_GE(t.year, 2024);
}

TEST(Names, WeekdaysAndMonths) {
  const std::vector<std::pair<std::string, std::optional<int>>> weekdays = {
      {"SUN", 0},  {"mon", 1},  {" Tue\t", 2},    {"WED", 3},       {"thu", 4},
      {"FRI", 5},  {"sAt", 6},  {"Monday", {}},   {"MO", {}},       {"", {}},
      {"JAN", {}}, {"M0N", {}}, {"MON\u3000", 1}, {"\u00a0SUN", 0}, {"S\u00dcN", {}},
  };
  for (const auto& [text, expected] : weekdays) EXPECT_EQ(parse_weekday(text), expected) << text;
  const std::vector<std::pair<std::string, std::optional<int>>> months = {
      {"JAN", 1},   {"feb", 2},      {"Mar", 3}, {"APR", 4},  {"MAY", 5},    {"JUN", 6},
      {"JUL", 7},   {"AUG", 8},      {"SEP", 9}, {"OCT", 10}, {" nov ", 11}, {"DEC", 12},
      {"SEPT", {}}, {"January", {}}, {"JA", {}}, {"MON", {}}, {"1", {}},
  };
  for (const auto& [text, expected] : months) EXPECT_EQ(parse_month(text), expected) << text;
}

TEST(TimeRangeArgs, FiniteNumbersTruncatedTowardZero) {
  using L = std::numeric_limits<std::int64_t>;
  const std::vector<std::pair<std::string, std::optional<std::int64_t>>> cases = {
      {"7", 7},
      {" 7.9 ", 7},
      {"-7.9", -7},
      {"+5", 5},
      {"5.", 5},
      {".5", 0},
      {"-0", 0},
      {"1E2", 100},
      {"1e+2", 100},
      {"250e-2", 2},
      {"1e-400", 0},  // underflows to a finite zero
      {"-1e-400", 0},
      {"0e999999", 0},
      {"0.0000001e-999999999999", 0},
      {"1e300", L::max()},
      {"-1e300", L::min()},
      {"123456789012345678901234567890", L::max()},
      {"9223372036854775807", L::max()},
      {"-9223372036854775808", L::min()},
      {"1e400", std::nullopt},  // not finite
      {"-1e99999999999999999999", std::nullopt},
      {"1000000000000000000000e-10000000000", 0},
      {"inf", std::nullopt},
      {"-Infinity", std::nullopt},
      {"nan", std::nullopt},
      {"", std::nullopt},
      {" ", std::nullopt},
      {".", std::nullopt},
      {"-", std::nullopt},
      {"e5", std::nullopt},
      {"5e", std::nullopt},
      {"5e+", std::nullopt},
      {"0x10", std::nullopt},
      {"1_000", std::nullopt},
      {"1,5", std::nullopt},
      {"1 2", std::nullopt},
      {"++1", std::nullopt},
      {"\u0667", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    const std::vector<std::string> args = {text};
    const auto got = time_range_args(args);
    if (expected) {
      ASSERT_TRUE(got) << text;
      EXPECT_EQ(*got, std::vector<std::int64_t>{*expected}) << text;
    } else {
      EXPECT_FALSE(got) << text;
    }
  }
  const std::vector<std::string> two = {"9", "x"};
  EXPECT_FALSE(time_range_args(two));
}

TEST(DateRangeArgs, MonthsDaysAndYears) {
  using K = DateArg::Kind;
  const std::vector<std::pair<std::string, std::optional<DateArg>>> cases = {
      {"1", DateArg{K::Day, 1}},
      {"31", DateArg{K::Day, 31}},
      {"1.9", DateArg{K::Day, 1}},
      {" jan ", DateArg{K::Month, 1}},
      {"DEC", DateArg{K::Month, 12}},
      {"1000", DateArg{K::Year, 1000}},
      {"1e3", DateArg{K::Year, 1000}},
      {"1e300", DateArg{K::Year, 9223372036854775807}},
      {"0", std::nullopt},
      {"32", std::nullopt},
      {"999", std::nullopt},
      {"-5", std::nullopt},
      {"0.9", std::nullopt},
      {"abc", std::nullopt},
      {"January", std::nullopt},
      {"GMT", std::nullopt},
  };
  for (const auto& [text, expected] : cases) {
    const std::vector<std::string> args = {text};
    const auto got = date_range_args(args);
    if (expected) {
      ASSERT_TRUE(got) << text;
      EXPECT_EQ(*got, std::vector<DateArg>{*expected}) << text;
    } else {
      EXPECT_FALSE(got) << text;
    }
  }
}

struct ClockCase {
  value::WallTime now;
  std::int32_t offset;
  std::vector<std::string> args;
  bool expected;
};

void check(bool (*body)(std::span<const std::string>, const PacPolicy&),
           const std::vector<ClockCase>& cases) {
  for (const auto& c : cases) {
    std::string shown;
    for (const auto& a : c.args) shown += "'" + a + "' ";
    EXPECT_EQ(body(c.args, fixed(c.now, c.offset)), c.expected)
        << shown << value::debug_text(civil_time_at(c.now, c.offset, false));
  }
}

const std::vector<std::string> kEight = {"SUN", "SAT", "1", "2", "3", "4", "5", "GMT"};

TEST(WeekdayRange, Forms) {
  const value::WallTime sat = at(2026, 12, 12, 10, 30);
  const value::WallTime fri_late = at(2026, 12, 11, 23, 30);
  check(weekday_range, {
                           {sat, 0, {"MON", "FRI"}, false},
                           {sat, 0, {"FRI", "MON"}, true},  // wraps
                           {sat, 0, {"SAT", "SUN"}, true},
                           {sat, 0, {"SUN", "FRI"}, false},
                           {sat, 0, {"SAT"}, true},
                           {sat, 0, {"sat"}, true},
                           {sat, 0, {"FRI"}, false},
                           {sat, 0, {"Saturday"}, false},
                           {sat, 0, {"GMT"}, false},
                           {sat, 0, {}, false},
                           {sat, 0, {"MON", "TUE", "WED"}, false},
                           {sat, 0, {"SAT", "xyz"}, false},
                           {sat, 0, {"SAT", "GMT"}, true},
                           {sat, 0, {"GMT", "SAT"}, false},
                           {fri_late, 3600, {"SAT"}, true},
                           {fri_late, 3600, {"SAT", " gmt\t"}, false},
                           {fri_late, 3600, {"FRI", "GmT"}, true},
                           {fri_late, 3600, {"FRI", "SAT", "GMT"}, true},
                           {sat, 0, kEight, false},
                       });
}

TEST(DateRange, Forms) {
  const value::WallTime first = at(2026, 5, 1, 12);
  check(date_range,
        {
            {first, 0, {"1"}, true},
            {at(2026, 5, 2), 0, {"1"}, false},
            {first, 0, {"1.9"}, true},
            {first, 0, {"MAY"}, true},
            {first, 0, {"2026"}, true},
            {first, 0, {"2025"}, false},
            {at(2026, 2, 10), 0, {"JAN", "MAR"}, true},
            {at(2026, 4, 1), 0, {"JAN", "MAR"}, false},
            {at(2026, 12, 31), 0, {"DEC", "FEB"}, true},
            {at(2027, 1, 15), 0, {"DEC", "FEB"}, true},
            {at(2027, 2, 28), 0, {"DEC", "FEB"}, true},
            {at(2027, 3, 1), 0, {"DEC", "FEB"}, false},
            {first, 0, {"1", "MAR"}, false},
            {first, 0, {"0"}, false},
            {first, 0, {"32"}, false},
            {first, 0, {"999"}, false},
            {first, 0, {"abc"}, false},
            {first, 0, {"2000", "1999"}, true},  // wraps over every year
            {at(1, 1, 1), 0, {"2000", "1999"}, true},
            {first, 0, {"10", "5"}, true},
            {at(2026, 5, 7), 0, {"10", "5"}, false},
            {at(2026, 7, 4), 0, {"1", "JUN", "15", "AUG"}, true},
            {at(2026, 8, 15), 0, {"1", "JUN", "15", "AUG"}, true},
            {at(2026, 8, 16), 0, {"1", "JUN", "15", "AUG"}, false},
            {at(2026, 12, 20), 0, {"15", "DEC", "15", "JAN"}, true},
            {at(2026, 1, 10), 0, {"15", "DEC", "15", "JAN"}, true},
            {at(2026, 6, 1), 0, {"15", "DEC", "15", "JAN"}, false},
            {at(2021, 1, 31), 0, {"JUN", "2020", "AUG", "2021"}, true},
            {at(2021, 9, 1), 0, {"JUN", "2020", "AUG", "2021"}, false},
            {at(2021, 1, 31), 0, {"2020", "JUN", "2021", "AUG"}, false},
            {at(2020, 6, 15), 0, {"1", "JAN", "2020", "31", "DEC", "2020"}, true},
            {at(2021, 1, 1), 0, {"1", "JAN", "2020", "31", "DEC", "2020"}, false},
            {at(2019, 12, 31), 0, {"1", "JAN", "2020", "31", "DEC", "2020"}, false},
            // Seven arguments ending in GMT: the six-value form in UTC.
            {at(2021, 1, 1, 0, 30), -3600, {"1", "JAN", "2020", "31", "DEC", "2020"}, true},
            {at(2021, 1, 1, 0, 30), -3600, {"1", "JAN", "2020", "31", "DEC", "2020", "GMT"}, false},
            {first, 0, {"1", "MAY", "2026"}, false},
            {first, 0, {"1", "MAY", "1", "JUN", "2026"}, false},
            {first, 0, {"MAY", "1", "JUN", "1"}, false},
            {first, 0, {"2026", "MAY", "2026", "JUN"}, false},
            {first, 0, {"2026", "MAY", "1", "2026", "JUN", "1"}, false},
            {first, 0, {}, false},
            {first, 0, {"GMT"}, false},
            {first, 0, {"GMT", "1"}, false},
            // Bounds that overflow make the call false, not wrapped.
            {first, 0, {"JAN", "1e300", "DEC", "1e300"}, false},
            {first, 0, {"1", "JAN", "1e300", "31", "DEC", "1e300"}, false},
            {first, 0, {"JAN", "1000", "DEC", "1e16"}, true},
            {first, 0, kEight, false},
        });
}

TEST(TimeRange, Forms) {
  const value::WallTime late = at(2026, 12, 11, 23, 30);
  check(time_range, {
                        {late, 3600, {"0"}, true},
                        {late, 3600, {"0", "GMT"}, false},
                        {late, 3600, {"23", " gmt "}, true},
                        {late, 0, {"22", "2"}, false},  // two hours never wrap
                        {late, 0, {"22", "23"}, true},
                        {late, 0, {"23", "23"}, true},
                        {late, 0, {"22", "0", "2", "0"}, true},
                        {at(2026, 1, 1, 2, 0, 59), 0, {"22", "0", "2", "0"}, true},
                        {at(2026, 1, 1, 2, 1, 0), 0, {"22", "0", "2", "0"}, false},
                        {at(2026, 1, 1, 21, 59, 59), 0, {"22", "0", "2", "0"}, false},
                        {at(2026, 1, 1, 22, 0, 0), 0, {"22", "0", "2", "0"}, true},
                        {at(2026, 1, 1, 9, 0, 0), 0, {"9", "0", "17", "0"}, true},
                        {at(2026, 1, 1, 17, 0, 59), 0, {"9", "0", "17", "0"}, true},
                        {at(2026, 1, 1, 17, 1, 0), 0, {"9", "0", "17", "0"}, false},
                        {at(2026, 1, 1, 17, 0, 0), 0, {"9", "0", "0", "17", "0", "0"}, true},
                        {at(2026, 1, 1, 17, 0, 1), 0, {"9", "0", "0", "17", "0", "0"}, false},
                        {at(2026, 1, 1, 8, 59, 59), 0, {"9", "0", "0", "17", "0", "0"}, false},
                        {at(2026, 1, 1, 12, 0, 0), 0, {"12"}, true},
                        {at(2026, 1, 1, 12, 59, 59), 0, {"12"}, true},
                        {at(2026, 1, 1, 13, 0, 0), 0, {"12"}, false},
                        {at(2026, 1, 1, 7, 15), 0, {"7.9"}, true},
                        {late, 0, {"25"}, false},
                        {late, 0, {"inf"}, false},
                        {late, 0, {"nan"}, false},
                        {late, 0, {"abc"}, false},
                        {late, 0, {"1e300", "0", "1", "0"}, false},
                        {late, 0, {"0", "0", "1e300", "0"}, false},
                        {late, 0, {"-1e300", "0", "0", "0", "0", "0"}, false},
                        // No range check: minutes past 59 and negative values count as given.
                        {at(2026, 1, 1, 0, 0, 30), 0, {"-1", "59", "0", "0"}, true},
                        {at(2026, 1, 1, 1, 30), 0, {"0", "90", "0", "91"}, true},
                        {late, 0, {}, false},
                        {late, 0, {"1", "2", "3"}, false},
                        {late, 0, {"1", "2", "3", "4", "5"}, false},
                        {late, 0, {"GMT"}, false},
                        {late, 0, kEight, false},
                    });
}

}  // namespace
}  // namespace zelvane::pac::hostfn
