// ASCII case: lower-casing, upper-casing and comparing regardless of case.
#pragma once

#include <string>
#include <string_view>

namespace zelvane::util {

// ASCII letters lower-cased, upper-cased, or compared regardless of case.
std::string ascii_lower(std::string_view text);
std::string ascii_upper(std::string_view text);
bool equals_ignore_ascii_case(std::string_view a, std::string_view b);

}  // namespace zelvane::util
