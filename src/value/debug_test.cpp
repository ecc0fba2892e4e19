#include "value/debug.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

namespace zelvane::value {
namespace {

using namespace std::string_view_literals;

struct QuotedCase {
  std::string_view name;
  std::string_view input;
  std::string_view expected;
};

// Expectations follow the escape rules in order: the six short escapes, Grapheme_Extend as
// \u{...} wherever it stands, other printable characters as they are, the rest as \u{...}.
const std::vector<QuotedCase> kQuotedCases = {
    {"empty", ""sv, R"("")"sv},
    {"plain ascii and space", "a b~"sv, R"("a b~")"sv},
    {"quote and backslash", R"(a"b\c)"sv, R"("a\"b\\c")"sv},
    {"apostrophe unchanged", "it's"sv, R"("it's")"sv},
    {"short escapes", "\t\0\r\n"sv, R"("\t\0\r\n")"sv},
    {"other C0 controls", "\x07\x1b\x01"sv, R"("\u{7}\u{1b}\u{1}")"sv},
    {"DEL and C1 control", "\x7f\u0085"sv, R"("\u{7f}\u{85}")"sv},
    {"combining acute after a letter", "e\u0301"sv, R"("e\u{301}")"sv},
    {"combining acute at the start", "\u0301x"sv, R"("\u{301}x")"sv},
    // Printable by category (Me, Mc) but Grapheme_Extend: the property decides.
    {"enclosing keycap", "1\u20e3"sv, R"("1\u{20e3}")"sv},
    {"spacing mark with Other_Grapheme_Extend", "\u09be"sv, R"("\u{9be}")"sv},
    {"spacing mark without it", "\u0903"sv, "\"\u0903\""sv},
    {"halfwidth voiced sound marks", "\uff76\uff9e\uff9f"sv, "\"\uff76\uff9e\uff9f\""sv},
    {"letters of other scripts", "\u00e9\u0436\u4e2d"sv, "\"\u00e9\u0436\u4e2d\""sv},
    {"four-byte symbol", "\U0001f600"sv, "\"\U0001f600\""sv},
    {"replacement character itself", "\ufffd"sv, "\"\ufffd\""sv},
    {"zero width space (Cf)", "a\u200bb"sv, R"("a\u{200b}b")"sv},
    {"soft hyphen (Cf)", "\u00ad"sv, R"("\u{ad}")"sv},
    {"byte order mark (Cf)", "\ufeff"sv, R"("\u{feff}")"sv},
    {"line and paragraph separators", "\u2028\u2029"sv, R"("\u{2028}\u{2029}")"sv},
    {"spaces other than U+0020 (Zs)", "\u00a0\u3000"sv, R"("\u{a0}\u{3000}")"sv},
    {"unassigned", "\u0378\U000e0000"sv, R"("\u{378}\u{e0000}")"sv},
    {"noncharacters", "\uffff\U0010ffff"sv, R"("\u{ffff}\u{10ffff}")"sv},
    {"private use", "\ue000\U000f0000"sv, R"("\u{e000}\u{f0000}")"sv},
    // Not UTF-8: every byte that begins no well-formed sequence is one \u{fffd}, and decoding
    // resumes at the next byte, so a valid character right after is kept whole.
    {"lone invalid byte", "\xff"sv, R"("\u{fffd}")"sv},
    {"lone continuation byte", "a\x80z"sv, R"("a\u{fffd}z")"sv},
    {"invalid byte before a valid character", "\xfe\u4e2d"sv, "\"\\u{fffd}\u4e2d\""sv},
    {"cut sequence before ascii", "\xe4\xb8x"sv, R"("\u{fffd}\u{fffd}x")"sv},
    {"cut sequence at the end", "x\xf0\x9f\x98"sv, R"("x\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"lead byte before a new lead", "\xe4\xe4\xb8\xad"sv, "\"\\u{fffd}\u4e2d\""sv},
    {"overlong two-byte form", "\xc0\xaf"sv, R"("\u{fffd}\u{fffd}")"sv},
    {"overlong three-byte form", "\xe0\x80\xaf"sv, R"("\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"overlong four-byte form", "\xf0\x80\x80\xaf"sv, R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"encoded surrogate", "\xed\xa0\x80"sv, R"("\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"above U+10FFFF", "\xf4\x90\x80\x80"sv, R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"bytes that never lead", "\xf5\xc1"sv, R"("\u{fffd}\u{fffd}")"sv},
    {"encoded NUL stays invalid", "\xc0\x80"sv, R"("\u{fffd}\u{fffd}")"sv},
    {"highest valid and last before surrogates", "\U0010fffd\ud7ff"sv, R"("\u{10fffd}\u{d7ff}")"sv},
};

TEST(DebugQuotedTest, EscapesByTheRules) {
  for (const auto& c : kQuotedCases) {
    EXPECT_EQ(quoted(c.input), c.expected) << c.name;
  }
}

TEST(DebugQuotedTest, AppendsToWhatIsThere) {
  std::string out = "x=";
  write_quoted(out, "a\nb");
  EXPECT_EQ(out, R"(x="a\nb")");
  EXPECT_EQ(debug_text(std::string("\"")), R"("\"")");
  EXPECT_EQ(debug_text("\t"), R"("\t")");
  EXPECT_EQ(debug_text(Unquoted{"a\"b"}), "a\"b");
}

struct DurationCase {
  Duration duration;
  std::string_view expected;
};

TEST(DebugDurationTest, LargestUnitWithExactFraction) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const std::vector<DurationCase> cases = {
      {{5, 0}, "5s"},
      {{1, 500'000'000}, "1.5s"},
      {Duration::from_millis(200), "200ms"},
      {Duration::from_millis(250), "250ms"},
      {{60, 0}, "60s"},
      {{0, 1'500'000}, "1.5ms"},
      {{1, 1}, "1.000000001s"},
      {{}, "0ns"},
      {{0, 1}, "1ns"},
      {{0, 999}, "999ns"},
      {{0, 1'000}, "1\u00b5s"},
      {{0, 1'500}, "1.5\u00b5s"},
      {{0, 1'001}, "1.001\u00b5s"},
      {{0, 999'999}, "999.999\u00b5s"},
      {{0, 1'000'000}, "1ms"},
      {{0, 1'000'001}, "1.000001ms"},
      {{0, 999'999'999}, "999.999999ms"},
      {Duration::from_nanos(1'000'000'000), "1s"},
      {{1, 250'000'000}, "1.25s"},
      {{1, 100}, "1.0000001s"},
      {{max, 999'999'999}, "18446744073709551615.999999999s"},
      // Nanoseconds past a second (a Duration built field by field) carry into the seconds.
      {{0, 1'500'000'000}, "1.5s"},
      {{2, 4'000'000'000}, "6s"},
      {{max, 1'000'000'000}, "18446744073709551615s"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(debug_text(c.duration), c.expected) << c.duration.secs << "s + " << c.duration.nanos << "ns";
  }
}

struct FormCase {
  std::string_view name;
  std::function<std::string()> render;
  std::string_view expected;
};

TEST(DebugFormsTest, BuildersAndPlainValues) {
  const std::vector<FormCase> cases = {
      {"record without fields is its bare name",
       [] {
         std::string out;
         RecordBuilder(out, "Direct").finish();
         return out;
       },
       "Direct"},
      {"record with fields",
       [] {
         std::string out;
         RecordBuilder(out, "Point").field("x", 1).field("y", -2).field("label", "a\"").finish();
         return out;
       },
       R"(Point { x: 1, y: -2, label: "a\"" })"},
      {"one-element tuple",
       [] {
         std::string out;
         TupleBuilder(out).element(7).finish();
         return out;
       },
       "(7,)"},
      {"three-element tuple",
       [] {
         std::string out;
         TupleBuilder(out).element(1).element("b").element(true).finish();
         return out;
       },
       R"((1, "b", true))"},
      {"empty list", [] { return debug_text(std::vector<int>{}); }, "[]"},
      {"list",
       [] {
         return debug_text(std::vector<std::string>{"a", "b"});
       },
       R"(["a", "b"])"},
      {"nested list",
       [] {
         return debug_text(std::vector<std::vector<int>>{{1}, {}});
       },
       "[[1], []]"},
      {"empty map", [] { return debug_text(std::map<std::string, int>{}); }, "{}"},
      {"map",
       [] {
         return debug_text(std::map<std::string, int>{{"b", 2}, {"a", 1}});
       },
       R"({"a": 1, "b": 2})"},
      {"none", [] { return debug_text(std::optional<int>{}); }, "None"},
      {"some", [] { return debug_text(std::optional<std::string>{"x"}); }, R"(Some("x"))"},
      {"some none", [] { return debug_text(std::optional<std::optional<int>>{std::in_place}); },
       "Some(None)"},
      {"booleans", [] { return debug_text(true) + debug_text(false); }, "truefalse"},
      {"negative integer", [] { return debug_text(std::numeric_limits<std::int64_t>::min()); },
       "-9223372036854775808"},
      {"byte-sized integer is a number", [] { return debug_text(std::uint8_t{200}); }, "200"},
      {"wall-clock time", [] { return debug_text(WallTime{134080416000000000}); },
       "SystemTime { intervals: 134080416000000000 }"},
      {"wall-clock time before 1601", [] { return debug_text(WallTime{-1}); },
       "SystemTime { intervals: -1 }"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.render(), c.expected) << c.name;
  }
}

TEST(WallTimeTest, NowIsPlausibleAndMovesForward) {
  // FILETIME counts of 2020-01-01 and 2100-01-01, 00:00 UTC.
  constexpr std::int64_t k2020 = 132'223'104'000'000'000;
  constexpr std::int64_t k2100 = 157'469'184'000'000'000;
  WallTime first = WallTime::now();
  EXPECT_GT(first.intervals, k2020);
  EXPECT_LT(first.intervals, k2100);

  // The clock never goes back between reads and does advance: a bounded number of reads,
  // no assertion about how long they take.
  WallTime last = first;
  bool advanced = false;
  for (int i = 0; i < 10'000'000 && !advanced; ++i) {
    WallTime next = WallTime::now();
    ASSERT_GE(next, last);
    advanced = next > first;
    last = next;
  }
  EXPECT_TRUE(advanced);
}

}  // namespace
}  // namespace zelvane::value
