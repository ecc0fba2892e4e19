#include "util/trim.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvane::util {
namespace {

TEST(IsUnicodeWhitespace, TheWhiteSpaceProperty) {
  for (char32_t c : {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x20, 0x85, 0xA0, 0x1680, 0x2000, 0x2005, 0x200A, 0x2028,
                     0x2029, 0x202F, 0x205F, 0x3000}) {
    EXPECT_TRUE(is_unicode_whitespace(c)) << std::hex << static_cast<std::uint32_t>(c);
  }
  for (char32_t c : {0x00, 0x08, 0x0E, 0x1F, 0x21, 0x84, 0x86, 0x9F, 0x180E, 0x1FFF, 0x200B, 0x2027, 0x202A,
                     0x205E, 0x3001, 0xFEFF}) {
    EXPECT_FALSE(is_unicode_whitespace(c)) << std::hex << static_cast<std::uint32_t>(c);
  }
}

TEST(TrimUnicodeWhitespace, Table) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""},
      {"a", "a"},
      {"  a b  ", "a b"},
      {"\t\n\v\f\r a", "a"},
      {"\xe3\x80\x80"
       "a\xc2\xa0",
       "a"},                                      // IDEOGRAPHIC SPACE, NO-BREAK SPACE
      {"\xe2\x80\xa8\xc2\x85 \xe1\x9a\x80", ""},  // LINE SEPARATOR, NEL, OGHAM SPACE MARK
      {"a\xe2\x80\x8b", "a\xe2\x80\x8b"},         // ZERO WIDTH SPACE is not white space
      {"\xe2\x80", "\xe2\x80"},                   // a cut sequence stays
      {"\xe2\xc2\xa0", "\xe2"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(trim_unicode_whitespace(in), out) << "'" << in << "'";
}

}  // namespace
}  // namespace zelvane::util
