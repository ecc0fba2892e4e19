// A glob that knows only '*', in time linear in the text whatever the pattern.
#pragma once

#include <string_view>

namespace zelvane::util {

// A glob that knows only '*', byte for byte and case-sensitive.
bool glob_match(std::string_view pattern, std::string_view text);

}  // namespace zelvane::util
