// The text of an enumerator from a table indexed by its value, "?" past the table's end.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace zelvane::model {

template <class E, std::size_t N>
std::string_view name_in(const std::array<std::string_view, N>& names, E value) {
  auto i = static_cast<std::size_t>(value);
  return i < N ? names[i] : std::string_view("?");
}

}  // namespace zelvane::model
