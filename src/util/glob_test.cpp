#include "util/glob.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvane::util {
namespace {

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

// ---------------------------------------------------------------------------------------
// glob_match

struct GlobCase {
  std::string pattern, text;
  bool matches;
};

TEST(GlobMatch, Table) {
  const std::vector<GlobCase> cases = {
      {"*", "", true},
      {"*", "anything at all", true},
      {"", "", true},
      {"", "a", false},
      {"**", "", true},
      {"**", "xyz", true},
      {"abc", "abc", true},
      {"abc", "abcd", false},
      {"abc", "ab", false},
      {"a*b*c", "abc", true},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "acb", false},
      {"A*", "abc", false},
      {"*.Example.com", "www.example.com", false},
      {"*.example.com", "www.example.com", true},
      {"*.example.com", "example.com", false},
      {"a*a", "a", false},  // the suffix never overlaps the prefix
      {"a*a", "aa", true},
      {"a**b", "ab", true},  // an empty middle piece matches at once
      {"a*b*b", "abb", true},
      {"a*b*b", "ab", false},  // nor does it overlap a middle match
      {"*ab*ab*", "abab", true},
      {"*ab*ab*", "aba", false},
      {"*x*yz", "xyzyz", true},
      {"10.*.*.1", "10.0.0.1", true},
      {"10.*.*.1", "10.0.1", false},
      {"*\xc3\xa9*", "caf\xc3\xa9!", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(glob_match(c.pattern, c.text), c.matches)
        << "pattern '" << c.pattern << "' text '" << c.text << "'";
  }
}

// Plain glob semantics with backtracking: the oracle for the exhaustive comparisons below.
bool reference_glob(std::string_view p, std::string_view t) {
  if (p.empty()) return t.empty();
  if (p[0] == '*') {
    for (std::size_t i = 0; i <= t.size(); ++i) {
      if (reference_glob(p.substr(1), t.substr(i))) return true;
    }
    return false;
  }
  return !t.empty() && p[0] == t[0] && reference_glob(p.substr(1), t.substr(1));
}

// Every text of length 0..max over the alphabet.
std::vector<std::string> all_words(std::string_view alphabet, std::size_t max) {
  std::vector<std::string> words = {""};
  std::vector<std::string> last = {""};
  for (std::size_t len = 1; len <= max; ++len) {
    std::vector<std::string> next;
    for (const auto& w : last) {
      for (char c : alphabet) next.push_back(w + c);
    }
    words.insert(words.end(), next.begin(), next.end());
    last = std::move(next);
  }
  return words;
}

TEST(GlobMatch, AgreesWithBacktrackingOnEveryShortPattern) {
  const auto patterns = all_words("ab*", 5);
  const auto texts = all_words("ab", 7);
  for (const auto& p : patterns) {
    for (const auto& t : texts) {
      ASSERT_EQ(glob_match(p, t), reference_glob(p, t)) << "pattern '" << p << "' text '" << t << "'";
    }
  }
}

// The middle pieces are found by a search of their own; these drive it through periodic and
// aperiodic needles over two and three letters.
TEST(GlobMatch, MiddlePieceFoundExactlyWhereASubstringSearchFindsIt) {
  const std::vector<std::pair<std::string, std::size_t>> alphabets = {{"ab", 6}, {"abc", 4}};
  for (const auto& [alphabet, needle_max] : alphabets) {
    const auto needles = all_words(alphabet, needle_max);
    const auto texts = all_words(alphabet, alphabet.size() == 2 ? 10 : 7);
    for (const auto& n : needles) {
      const std::string pattern = "*" + n + "*";
      for (const auto& t : texts) {
        ASSERT_EQ(glob_match(pattern, t), t.find(n) != std::string::npos)
            << "needle '" << n << "' text '" << t << "'";
      }
    }
  }
}

TEST(GlobMatch, LongPeriodicPieces) {
  const std::string text = repeat("ab", 3000) + "c" + repeat("ab", 10);
  EXPECT_TRUE(glob_match("*" + repeat("ab", 1000) + "c*", text));
  EXPECT_TRUE(glob_match("*" + repeat("ab", 1000) + "c*" + repeat("ab", 10), text));
  EXPECT_FALSE(glob_match("*" + repeat("ab", 1000) + "cc*", text));
  EXPECT_FALSE(glob_match("*" + repeat("ba", 11) + "*", "c" + repeat("ab", 11)));
  const std::string as = repeat("a", 20000);
  EXPECT_FALSE(glob_match("*" + repeat("a", 10000) + "b*", as));
  EXPECT_TRUE(glob_match("*" + repeat("a", 10000) + "*", as));
}

}  // namespace
}  // namespace zelvane::util
