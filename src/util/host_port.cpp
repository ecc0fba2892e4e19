#include "util/host_port.hpp"

#include <algorithm>
#include <cstddef>

#include "util/utf8.hpp"

namespace zelvane::util {
namespace {

constexpr std::size_t npos = std::string_view::npos;

bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::expected<std::optional<std::uint16_t>, std::string> parse_port(std::string_view text) {
  if (text.empty()) return std::nullopt;
  if (std::all_of(text.begin(), text.end(), is_ascii_digit)) {
    std::uint32_t value = 0;
    for (char c : text) {
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
      if (value > 65535) {
        return std::unexpected("invalid port: " + std::to_string(text.size()) +
                               "-digit number is out of the 0-65535 range");
      }
    }
    return static_cast<std::uint16_t>(value);
  }
  const std::size_t characters = count_chars(text);
  const auto digits = static_cast<std::size_t>(std::count_if(text.begin(), text.end(), is_ascii_digit));
  return std::unexpected("invalid port: " + std::to_string(characters) + " character" +
                         (characters == 1 ? "" : "s") + " (" + std::to_string(digits) + " ASCII digit" +
                         (digits == 1 ? "" : "s") + ", " + std::to_string(characters - digits) +
                         " other), expected only ASCII digits 0-9");
}

std::expected<HostPort, std::string> split_host_port(std::string_view text) {
  std::size_t colon = npos;
  if (text.starts_with('[')) {
    const std::size_t close = text.find(']');
    if (close == npos) return std::unexpected("unbalanced '[' in IPv6 literal");
    if (close + 1 == text.size()) return HostPort{text, std::nullopt};
    if (text[close + 1] != ':') return std::unexpected("unexpected trailing text after IPv6 literal");
    colon = close + 1;
  } else {
    colon = text.find(':');
    if (colon == npos || text.find(':', colon + 1) != npos) return HostPort{text, std::nullopt};
  }
  auto port = parse_port(text.substr(colon + 1));
  if (!port) return std::unexpected(std::move(port.error()));
  return HostPort{text.substr(0, colon), *port};
}

}  // namespace zelvane::util
