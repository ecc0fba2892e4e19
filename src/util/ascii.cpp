#include "util/ascii.hpp"

#include <algorithm>

namespace zelvane::util {
namespace {
char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower_ascii(c);
  return out;
}

std::string ascii_upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

bool equals_ignore_ascii_case(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return lower_ascii(x) == lower_ascii(y); });
}

}  // namespace zelvane::util
