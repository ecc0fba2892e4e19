#include "util/utf8.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvane::util {
namespace {

// ---------------------------------------------------------------------------------------
// count_chars

TEST(CountChars, Table) {
  const std::vector<std::pair<std::string, std::size_t>> cases = {
      {"", 0},
      {"abc", 3},
      {"\xc3\xa9", 1},
      {"\xe2\x82\xac", 1},
      {"\xf0\x9f\x98\x80", 1},
      {"a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", 4},
  };
  for (const auto& [in, n] : cases) EXPECT_EQ(count_chars(in), n) << "'" << in << "'";
}

}  // namespace
}  // namespace zelvane::util
