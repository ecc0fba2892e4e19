#include "util/percent.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvane::util {
namespace {

TEST(PercentDecodeUtf8, Table) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"plain", "plain"},
      {"p%40ss", "p@ss"},
      {"%41%42", "AB"},
      {"%e2%82%Ac", "\xe2\x82\xac"},
      {"%25", "%"},
      {"%2541", "%41"},  // decoded once only
      {"100%", "100%"},  // too near the end
      {"%4", "%4"},
      {"%zz", "%zz"},
      {"%4g%41", "%4gA"},
      {"%00", std::string("\0", 1)},
      // Not UTF-8 once decoded: the input as it was, never a partial decode.
      {"%C3%28", "%C3%28"},
      {"a%20b%FF", "a%20b%FF"},
      {"%ED%A0%80", "%ED%A0%80"},        // a surrogate
      {"%C0%AF", "%C0%AF"},              // an overlong '/'
      {"%F4%90%80%80", "%F4%90%80%80"},  // beyond U+10FFFF
      {"%F0%9F%98%80", "\xf0\x9f\x98\x80"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(percent_decode_utf8(in), out) << "'" << in << "'";
}

TEST(EscapePercent, Table) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""}, {"abc", "abc"}, {"100%", "100%25"}, {"%25", "%2525"}, {"%%", "%25%25"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(escape_percent(in), out) << "'" << in << "'";
}

}  // namespace
}  // namespace zelvane::util
