// The standard text syntax of IP addresses, read into bytes and groups: what both the address
// values and the credential redaction (which must tell an IPv6 literal from user:password)
// recognise.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace zelvane::util {

// Four decimal octets without leading zeros.
std::optional<std::array<std::uint8_t, 4>> parse_ipv4_octets(std::string_view text);
// RFC 4291 text: hex groups, at most one "::", an optional dotted IPv4 tail, no zone index.
std::optional<std::array<std::uint16_t, 8>> parse_ipv6_groups(std::string_view text);

}  // namespace zelvane::util
