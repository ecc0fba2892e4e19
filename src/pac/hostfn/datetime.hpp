// The clock functions of the PAC script (weekdayRange, dateRange, timeRange) and the clock
// they share. Local time is the UTC clock shifted by the policy's offset; the operating
// system's time zone is never consulted. A fixed moment comes from PacPolicy::now.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pac/hostfn/policy.hpp"
#include "value/time.hpp"

namespace zelvane::pac::hostfn {

// A clock function given more arguments than this answers false without converting any.
inline constexpr std::size_t kMaxClockArgs = 7;

// One moment in the proleptic Gregorian calendar.
struct CivilTime {
  std::int64_t year = 0;     // any; 0 and negative years exist
  std::int64_t month = 0;    // 1 to 12
  std::int64_t day = 0;      // 1 to 31
  std::int64_t hour = 0;     // 0 to 23
  std::int64_t minute = 0;   // 0 to 59
  std::int64_t second = 0;   // 0 to 59
  std::int64_t weekday = 0;  // 0 = Sunday to 6 = Saturday
  friend bool operator==(const CivilTime&, const CivilTime&) = default;
};
void debug_fmt(std::string& out, const CivilTime& t);

// The moment `at` in UTC when `utc`, else shifted by `utc_offset` seconds (saturating).
CivilTime civil_time_at(value::WallTime at, std::int32_t utc_offset, bool utc);
// The current moment: PacPolicy::now when set, else the system's wall clock.
CivilTime civil_time(const PacPolicy& policy, bool utc);

// SUN..SAT as 0..6, JAN..DEC as 1..12: white space trimmed, any ASCII case, three letters.
std::optional<int> parse_weekday(std::string_view text);
std::optional<int> parse_month(std::string_view text);

struct DateArg {
  enum class Kind { Day, Month, Year };
  Kind kind;
  std::int64_t value;
  friend bool operator==(const DateArg&, const DateArg&) = default;
};
// A month name, a day (1 to 31) or a year (1000 or more); none when any argument is none of
// these, which makes the call false.
std::optional<std::vector<DateArg>> date_range_args(std::span<const std::string> args);
// Finite numbers truncated toward zero (saturating); none when any argument is not one.
std::optional<std::vector<std::int64_t>> time_range_args(std::span<const std::string> args);

// The bodies, on the converted argument texts (at most kMaxClockArgs; more gives false).
// A last argument of "GMT" (trimmed, any case) reads the clock in UTC.
bool weekday_range(std::span<const std::string> args, const PacPolicy& policy);
bool date_range(std::span<const std::string> args, const PacPolicy& policy);
bool time_range(std::span<const std::string> args, const PacPolicy& policy);

}  // namespace zelvane::pac::hostfn
