#include "util/ip_text.hpp"

#include <cstddef>
#include <utility>

#include "util/percent.hpp"

namespace zelvane::util {
namespace {

// One decimal octet of the standard syntax: "0", or 1-3 digits without a leading zero, at
// most 255.
std::optional<std::uint8_t> parse_standard_octet(std::string_view part) {
  if (part.empty() || part.size() > 3) return std::nullopt;
  if (part.size() > 1 && part[0] == '0') return std::nullopt;
  unsigned v = 0;
  for (char c : part) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 255) return std::nullopt;
  return static_cast<std::uint8_t>(v);
}

}  // namespace

std::optional<std::array<std::uint8_t, 4>> parse_ipv4_octets(std::string_view text) {
  std::array<std::uint8_t, 4> octets{};
  for (std::size_t i = 0; i < 4; ++i) {
    const std::size_t dot = text.find('.');
    if ((i < 3) == (dot == std::string_view::npos)) return std::nullopt;
    auto octet = parse_standard_octet(text.substr(0, dot));
    if (!octet) return std::nullopt;
    octets[i] = *octet;
    text = i < 3 ? text.substr(dot + 1) : std::string_view{};
  }
  return octets;
}

// The IPv6 parser of the WHATWG URL Standard, which reads exactly the RFC 4291 text form:
// 1-4 hex digits per group, one "::" standing for one or more zero groups, and a dotted
// tail of four standard octets in place of the last two groups.
std::optional<std::array<std::uint16_t, 8>> parse_ipv6_groups(std::string_view text) {
  std::array<std::uint16_t, 8> pieces{};
  std::size_t piece = 0;
  std::optional<std::size_t> compress;
  std::size_t p = 0;
  const std::size_t n = text.size();
  auto at = [&](std::size_t i) { return i < n ? text[i] : '\0'; };

  if (at(p) == ':') {
    if (at(p + 1) != ':') return std::nullopt;
    p += 2;
    compress = ++piece;
  }
  while (p < n) {
    if (piece == 8) return std::nullopt;
    if (text[p] == ':') {
      if (compress) return std::nullopt;
      ++p;
      compress = ++piece;
      continue;
    }
    unsigned value = 0;
    std::size_t length = 0;
    while (length < 4 && p < n && hex_value(text[p]) >= 0) {
      value = value * 16 + static_cast<unsigned>(hex_value(text[p]));
      ++p;
      ++length;
    }
    if (at(p) == '.') {
      if (length == 0 || piece > 6) return std::nullopt;
      auto v4 = parse_ipv4_octets(text.substr(p - length));
      if (!v4) return std::nullopt;
      pieces[piece++] = static_cast<std::uint16_t>(((*v4)[0] << 8) | (*v4)[1]);
      pieces[piece++] = static_cast<std::uint16_t>(((*v4)[2] << 8) | (*v4)[3]);
      p = n;
      break;
    }
    if (at(p) == ':') {
      ++p;
      if (p == n) return std::nullopt;
    } else if (p < n) {
      return std::nullopt;
    }
    if (length == 0) return std::nullopt;
    pieces[piece++] = static_cast<std::uint16_t>(value);
  }
  if (compress) {
    // Move the groups after "::" to the end; what they leave behind is the zero run.
    std::size_t swaps = piece - *compress;
    std::size_t i = 7;
    while (i != 0 && swaps > 0) {
      std::swap(pieces[i], pieces[*compress + swaps - 1]);
      --i;
      --swaps;
    }
  } else if (piece != 8) {
    return std::nullopt;
  }
  return pieces;
}

}  // namespace zelvane::util
