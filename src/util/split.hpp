// Splitting a text at any of a set of separators.
#pragma once

#include <cstddef>
#include <string_view>
#include <type_traits>

namespace zelvane::util {

// Calls f with every piece of the text between characters of `separators` (all ASCII), empty
// pieces included, in order; an f that returns bool stops the split by returning false.
template <class F>
void split_at_any(std::string_view text, std::string_view separators, F&& f) {
  for (std::size_t start = 0;;) {
    const std::size_t end = text.find_first_of(separators, start);
    const std::string_view piece = text.substr(start, end == std::string_view::npos ? end : end - start);
    if constexpr (std::is_same_v<decltype(f(piece)), bool>) {
      if (!f(piece)) return;
    } else {
      f(piece);
    }
    if (end == std::string_view::npos) return;
    start = end + 1;
  }
}

}  // namespace zelvane::util
