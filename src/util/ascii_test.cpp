#include "util/ascii.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvane::util {
namespace {

TEST(AsciiLower, OnlyAsciiLetters) {
  EXPECT_EQ(ascii_lower("HeLLo-World_09"), "hello-world_09");
  EXPECT_EQ(ascii_lower("\xc3\x89"
                        "A"),
            "\xc3\x89"
            "a");
}

}  // namespace
}  // namespace zelvane::util
