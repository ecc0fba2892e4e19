#include "debug.hpp"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace zelvane {
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
    {"overlong four-byte form", "\xf0\x80\x80\xaf"sv,
     R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"encoded surrogate", "\xed\xa0\x80"sv, R"("\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"above U+10FFFF", "\xf4\x90\x80\x80"sv, R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"sv},
    {"bytes that never lead", "\xf5\xc1"sv, R"("\u{fffd}\u{fffd}")"sv},
    {"encoded NUL stays invalid", "\xc0\x80"sv, R"("\u{fffd}\u{fffd}")"sv},
    {"highest valid and last before surrogates", "\U0010fffd\ud7ff"sv,
     R"("\u{10fffd}\u{d7ff}")"sv},
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

}  // namespace
}  // namespace zelvane
