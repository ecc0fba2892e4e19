// IP addresses and networks, with their three text forms: debug text (RFC 5952, mapped
// addresses as ::ffff:a.b.c.d), the URL serialiser's form (used in exports and step URLs),
// and the standard syntax that bypass entries are read in.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zelvane::value {

struct Ipv4Addr {
  std::array<std::uint8_t, 4> octets{};

  static constexpr Ipv4Addr from_u32(std::uint32_t v) {
    return {{static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
             static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}};
  }
  constexpr std::uint32_t to_u32() const {
    return (std::uint32_t{octets[0]} << 24) | (std::uint32_t{octets[1]} << 16) |
           (std::uint32_t{octets[2]} << 8) | std::uint32_t{octets[3]};
  }
  friend constexpr auto operator<=>(const Ipv4Addr&, const Ipv4Addr&) = default;
};

struct Ipv6Addr {
  std::array<std::uint8_t, 16> octets{};

  static Ipv6Addr from_segments(const std::array<std::uint16_t, 8>& segments);
  std::array<std::uint16_t, 8> segments() const;
  // The IPv4 address of ::ffff:a.b.c.d, none for any other address.
  std::optional<Ipv4Addr> to_ipv4_mapped() const;
  friend constexpr auto operator<=>(const Ipv6Addr&, const Ipv6Addr&) = default;
};

struct IpAddr {
  std::variant<Ipv4Addr, Ipv6Addr> value;
  bool is_ipv4() const { return std::holds_alternative<Ipv4Addr>(value); }
  friend bool operator==(const IpAddr&, const IpAddr&) = default;
};

// An address with a prefix length; the address is kept as written (host bits not cleared).
struct IpNet {
  IpAddr addr;
  std::uint8_t prefix = 0;
  friend bool operator==(const IpNet&, const IpNet&) = default;
};

// Dotted decimal.
std::string to_string(Ipv4Addr addr);
// RFC 5952: lower-case hex, the longest run of two or more zero groups as "::" (the first
// of equal runs), an IPv4-mapped address as ::ffff:a.b.c.d.
std::string to_string(const Ipv6Addr& addr);
std::string to_string(const IpAddr& addr);
// address/prefix, the address as above.
std::string to_string(const IpNet& net);
// The URL serialiser's host form: compressed hex in brackets, mapped addresses included
// ([::ffff:7f00:1]).
std::string url_host_form(const Ipv6Addr& addr);

// The standard syntax: four decimal octets without leading zeros; RFC 4291 text (hex groups,
// at most one "::", an optional dotted IPv4 tail, no zone index).
std::optional<Ipv4Addr> parse_ipv4_standard(std::string_view text);
std::optional<Ipv6Addr> parse_ipv6_standard(std::string_view text);
std::optional<IpAddr> parse_ip_standard(std::string_view text);
// address '/' decimal prefix length of at most 32 or 128.
std::optional<IpNet> parse_ip_net(std::string_view text);
// Whether addr lies in net (the network's host bits ignored).
bool net_contains(const IpNet& net, const IpAddr& addr);

void debug_fmt(std::string& out, Ipv4Addr addr);
void debug_fmt(std::string& out, const Ipv6Addr& addr);
void debug_fmt(std::string& out, const IpAddr& addr);

}  // namespace zelvane::value
