// Unicode White_Space: the test for one code point, and trimming both ends of a text.
#pragma once

#include <string_view>

namespace zelvane::util {

// Unicode White_Space at both ends, and the test for one code point.
bool is_unicode_whitespace(char32_t c);
std::string_view trim_unicode_whitespace(std::string_view text);
}  // namespace zelvane::util
