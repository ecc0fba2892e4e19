#include "pac/hostfn/datetime.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <initializer_list>
#include <limits>

#include "util/ascii.hpp"
#include "util/trim.hpp"
#include "value/debug.hpp"

namespace zelvane::pac::hostfn {
namespace {

using Limits = std::numeric_limits<std::int64_t>;

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t saturating_add(std::int64_t a, std::int64_t b) {
  std::int64_t sum;
  if (__builtin_add_overflow(a, b, &sum)) return b > 0 ? Limits::max() : Limits::min();
  return sum;
}

// a * k1 + b * k2 + c, or none when any step overflows.
std::optional<std::int64_t> combine(std::int64_t a, std::int64_t k1, std::int64_t b, std::int64_t k2,
                                    std::int64_t c) {
  std::int64_t x, y, out;
  if (__builtin_mul_overflow(a, k1, &x) || __builtin_mul_overflow(b, k2, &y) ||
      __builtin_add_overflow(x, y, &out) || __builtin_add_overflow(out, c, &out)) {
    return std::nullopt;
  }
  return out;
}

// The wrap-around test: a range whose end comes before its start wraps.
bool in_range(std::int64_t c, std::int64_t a, std::int64_t b) {
  return b < a ? (c >= a || c <= b) : (a <= c && c <= b);
}

// The trailing "GMT" argument: removed, and the clock read in UTC.
bool take_gmt(std::span<const std::string>& args) {
  if (args.empty()) return false;
  const std::string_view last = util::trim_unicode_whitespace(args.back());
  if (last.size() != 3 || !util::equals_ignore_ascii_case(last, "gmt")) return false;
  args = args.first(args.size() - 1);
  return true;
}

std::optional<int> parse_name(std::string_view text, std::span<const std::string_view> names, int first) {
  text = util::trim_unicode_whitespace(text);
  if (text.size() != 3) return std::nullopt;
  const std::string upper = util::ascii_upper(text);
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (upper == names[i]) return first + static_cast<int>(i);
  }
  return std::nullopt;
}

constexpr std::array<std::string_view, 7> kWeekdays = {"SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT"};
constexpr std::array<std::string_view, 12> kMonths = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                      "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal floating-point text (sign, digits with an optional point and at least one digit,
// an optional exponent) read as a finite double; the words inf, infinity and nan are numbers
// of the grammar but never finite, so they fail like anything else.
std::optional<double> read_finite_number(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t mantissa = i;
  std::size_t int_digits = 0, frac_digits = 0;
  while (i < text.size() && is_digit(text[i])) ++i, ++int_digits;
  const std::size_t point = i;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && is_digit(text[i])) ++i, ++frac_digits;
  }
  if (int_digits + frac_digits == 0) return std::nullopt;
  const std::size_t mantissa_end = i;
  std::int64_t exponent = 0;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    bool exp_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    for (; i < text.size(); ++i) {
      if (!is_digit(text[i])) return std::nullopt;
      exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1'000'000'000);
    }
    if (exp_negative) exponent = -exponent;
  }
  if (i != text.size()) return std::nullopt;

  // from_chars takes no '+', and reports both overflow and underflow as out of range.
  double value = 0;
  const char* begin = text.data() + mantissa;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // The power of ten of the leading nonzero digit tells overflow (not finite) from
    // underflow (a finite zero).
    const std::string_view digits = text.substr(mantissa, mantissa_end - mantissa);
    const std::size_t lead = digits.find_first_of("123456789");
    if (lead == std::string_view::npos) return negative ? -0.0 : 0.0;
    const std::int64_t int_len = static_cast<std::int64_t>(point - mantissa);
    const std::int64_t lead_pos = static_cast<std::int64_t>(lead);
    const std::int64_t magnitude =
        exponent + (lead_pos < int_len ? int_len - lead_pos - 1 : int_len - lead_pos);
    if (magnitude > 0) return std::nullopt;
    return negative ? -0.0 : 0.0;
  }
  if (ec != std::errc{} || ptr != end || !std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

// Toward zero, saturating at the 64-bit limits.
std::int64_t truncate(double value) {
  constexpr double kTwo63 = 9223372036854775808.0;
  if (value >= kTwo63) return Limits::max();
  if (value < -kTwo63) return Limits::min();
  return static_cast<std::int64_t>(value);
}

std::optional<std::int64_t> read_integer(std::string_view text) {
  const auto value = read_finite_number(util::trim_unicode_whitespace(text));
  if (!value) return std::nullopt;
  return truncate(*value);
}

}  // namespace

void debug_fmt(std::string& out, const CivilTime& t) {
  value::RecordBuilder(out, "CivilTime")
      .field("year", t.year)
      .field("month", t.month)
      .field("day", t.day)
      .field("hour", t.hour)
      .field("minute", t.minute)
      .field("second", t.second)
      .field("weekday", t.weekday)
      .finish();
}

CivilTime civil_time_at(value::WallTime at, std::int32_t utc_offset, bool utc) {
  // 100 ns intervals count from 1601; the Unix epoch lies a whole number of seconds later,
  // so flooring first keeps the subtraction in range.
  constexpr std::int64_t kIntervalsPerSecond = 10'000'000;
  constexpr std::int64_t kEpochSeconds = 11'644'473'600;
  std::int64_t secs = floor_div(at.intervals, kIntervalsPerSecond) - kEpochSeconds;
  if (!utc) secs = saturating_add(secs, utc_offset);

  const std::int64_t days = floor_div(secs, 86400);
  const std::int64_t of_day = secs - days * 86400;
  CivilTime t;
  t.hour = of_day / 3600;
  t.minute = of_day / 60 % 60;
  t.second = of_day % 60;
  t.weekday = ((days + 4) % 7 + 7) % 7;

  // Days to civil date in eras of 400 years, each year counted from 1 March.
  const std::int64_t z = days + 719468;
  const std::int64_t era = floor_div(z, 146097);
  const std::int64_t doe = z - era * 146097;                                       // [0, 146096]
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
  const std::int64_t mp = (5 * doy + 2) / 153;                                     // [0, 11]
  t.day = doy - (153 * mp + 2) / 5 + 1;
  t.month = mp < 10 ? mp + 3 : mp - 9;
  t.year = yoe + era * 400 + (t.month <= 2 ? 1 : 0);
  return t;
}

CivilTime civil_time(const PacPolicy& policy, bool utc) {
  return civil_time_at(policy.now.value_or(value::WallTime::now()), policy.local_utc_offset, utc);
}

std::optional<int> parse_weekday(std::string_view text) { return parse_name(text, kWeekdays, 0); }
std::optional<int> parse_month(std::string_view text) { return parse_name(text, kMonths, 1); }

std::optional<std::vector<DateArg>> date_range_args(std::span<const std::string> args) {
  std::vector<DateArg> out;
  out.reserve(args.size());
  for (const std::string& arg : args) {
    if (const auto month = parse_month(arg)) {
      out.push_back({DateArg::Kind::Month, *month});
      continue;
    }
    const auto value = read_integer(arg);
    if (!value) return std::nullopt;
    if (*value >= 1 && *value <= 31) {
      out.push_back({DateArg::Kind::Day, *value});
    } else if (*value >= 1000) {
      out.push_back({DateArg::Kind::Year, *value});
    } else {
      return std::nullopt;
    }
  }
  return out;
}

std::optional<std::vector<std::int64_t>> time_range_args(std::span<const std::string> args) {
  std::vector<std::int64_t> out;
  out.reserve(args.size());
  for (const std::string& arg : args) {
    const auto value = read_integer(arg);
    if (!value) return std::nullopt;
    out.push_back(*value);
  }
  return out;
}

bool weekday_range(std::span<const std::string> args, const PacPolicy& policy) {
  if (args.empty() || args.size() > kMaxClockArgs) return false;
  const bool utc = take_gmt(args);
  if (args.empty() || args.size() > 2) return false;
  const auto first = parse_weekday(args[0]);
  if (!first) return false;
  std::optional<int> second;
  if (args.size() == 2) {
    second = parse_weekday(args[1]);
    if (!second) return false;
  }
  const std::int64_t today = civil_time(policy, utc).weekday;
  return second ? in_range(today, *first, *second) : today == *first;
}

bool date_range(std::span<const std::string> args, const PacPolicy& policy) {
  if (args.size() > kMaxClockArgs) return false;
  const bool utc = take_gmt(args);
  const auto parsed = date_range_args(args);
  if (!parsed || parsed->empty()) return false;
  const std::vector<DateArg>& a = *parsed;
  using K = DateArg::Kind;
  const auto kinds = [&](std::initializer_list<K> expected) {
    return std::equal(a.begin(), a.end(), expected.begin(), expected.end(),
                      [](const DateArg& arg, K k) { return arg.kind == k; });
  };
  const bool one = a.size() == 1;
  const bool two = a.size() == 2 && a[0].kind == a[1].kind;
  const bool day_month = kinds({K::Day, K::Month, K::Day, K::Month});
  const bool month_year = kinds({K::Month, K::Year, K::Month, K::Year});
  const bool full = kinds({K::Day, K::Month, K::Year, K::Day, K::Month, K::Year});
  if (!one && !two && !day_month && !month_year && !full) return false;

  const CivilTime now = civil_time(policy, utc);
  const auto current = [&](K k) { return k == K::Day ? now.day : k == K::Month ? now.month : now.year; };
  if (one) return current(a[0].kind) == a[0].value;
  if (two) return in_range(current(a[0].kind), a[0].value, a[1].value);
  std::optional<std::int64_t> c, lo, hi;
  if (day_month) {
    c = combine(now.month, 100, now.day, 1, 0);
    lo = combine(a[1].value, 100, a[0].value, 1, 0);
    hi = combine(a[3].value, 100, a[2].value, 1, 0);
  } else if (month_year) {
    c = combine(now.year, 100, now.month, 1, 0);
    lo = combine(a[1].value, 100, a[0].value, 1, 0);
    hi = combine(a[3].value, 100, a[2].value, 1, 0);
  } else {
    c = combine(now.year, 10000, now.month, 100, now.day);
    lo = combine(a[2].value, 10000, a[1].value, 100, a[0].value);
    hi = combine(a[5].value, 10000, a[4].value, 100, a[3].value);
  }
  if (!c || !lo || !hi) return false;
  return in_range(*c, *lo, *hi);
}

bool time_range(std::span<const std::string> args, const PacPolicy& policy) {
  if (args.size() > kMaxClockArgs) return false;
  const bool utc = take_gmt(args);
  const auto parsed = time_range_args(args);
  if (!parsed) return false;
  const std::vector<std::int64_t>& v = *parsed;
  if (v.size() != 1 && v.size() != 2 && v.size() != 4 && v.size() != 6) return false;

  const CivilTime now = civil_time(policy, utc);
  if (v.size() == 1) return now.hour == v[0];
  if (v.size() == 2) return v[0] <= now.hour && now.hour <= v[1];
  const std::int64_t c = now.hour * 3600 + now.minute * 60 + now.second;
  std::optional<std::int64_t> lo, hi;
  if (v.size() == 4) {
    // The end covers its whole last minute.
    lo = combine(v[0], 3600, v[1], 60, 0);
    hi = combine(v[2], 3600, v[3], 60, 59);
  } else {
    lo = combine(v[0], 3600, v[1], 60, v[2]);
    hi = combine(v[3], 3600, v[4], 60, v[5]);
  }
  if (!lo || !hi) return false;
  return in_range(c, *lo, *hi);
}

}  // namespace zelvane::pac::hostfn
