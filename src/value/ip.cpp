#include "value/ip.hpp"

#include <cstddef>
#include <utility>

#include "util/ip_text.hpp"

namespace zelvane::value {
namespace {

constexpr char kHex[] = "0123456789abcdef";

void append_hex(std::string& out, std::uint16_t v) {
  bool started = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const unsigned digit = (v >> shift) & 0xfu;
    if (digit != 0 || started || shift == 0) {
      out += kHex[digit];
      started = true;
    }
  }
}

// The first of the longest runs of two or more zero groups, as [begin, end); begin == end
// when there is none.
std::pair<std::size_t, std::size_t> longest_zero_run(const std::array<std::uint16_t, 8>& s) {
  std::size_t best_begin = 0, best_len = 0;
  for (std::size_t i = 0; i < 8;) {
    if (s[i] != 0) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < 8 && s[j] == 0) ++j;
    if (j - i > best_len) {
      best_begin = i;
      best_len = j - i;
    }
    i = j;
  }
  if (best_len < 2) return {0, 0};
  return {best_begin, best_begin + best_len};
}

// Hex groups without leading zeros, the first longest zero run written "::".
std::string compressed_hex(const std::array<std::uint16_t, 8>& s) {
  auto [begin, end] = longest_zero_run(s);
  std::string out;
  for (std::size_t i = 0; i < 8;) {
    if (begin != end && i == begin) {
      out += "::";
      i = end;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    append_hex(out, s[i]);
    ++i;
  }
  return out;
}

bool prefix_matches(const std::uint8_t* a, const std::uint8_t* b, unsigned prefix) {
  const unsigned whole = prefix / 8, rest = prefix % 8;
  for (unsigned i = 0; i < whole; ++i) {
    if (a[i] != b[i]) return false;
  }
  if (rest == 0) return true;
  const auto mask = static_cast<std::uint8_t>(0xffu << (8 - rest));
  return (a[whole] & mask) == (b[whole] & mask);
}

}  // namespace

Ipv6Addr Ipv6Addr::from_segments(const std::array<std::uint16_t, 8>& segments) {
  Ipv6Addr a;
  for (std::size_t i = 0; i < 8; ++i) {
    a.octets[2 * i] = static_cast<std::uint8_t>(segments[i] >> 8);
    a.octets[2 * i + 1] = static_cast<std::uint8_t>(segments[i]);
  }
  return a;
}

std::array<std::uint16_t, 8> Ipv6Addr::segments() const {
  std::array<std::uint16_t, 8> s{};
  for (std::size_t i = 0; i < 8; ++i) {
    s[i] = static_cast<std::uint16_t>((octets[2 * i] << 8) | octets[2 * i + 1]);
  }
  return s;
}

std::optional<Ipv4Addr> Ipv6Addr::to_ipv4_mapped() const {
  for (std::size_t i = 0; i < 10; ++i) {
    if (octets[i] != 0) return std::nullopt;
  }
  if (octets[10] != 0xff || octets[11] != 0xff) return std::nullopt;
  return Ipv4Addr{{octets[12], octets[13], octets[14], octets[15]}};
}

std::string to_string(Ipv4Addr addr) {
  std::string out;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i > 0) out += '.';
    out += std::to_string(addr.octets[i]);
  }
  return out;
}

std::string to_string(const Ipv6Addr& addr) {
  if (auto v4 = addr.to_ipv4_mapped()) return "::ffff:" + to_string(*v4);
  return compressed_hex(addr.segments());
}

std::string to_string(const IpAddr& addr) {
  return std::visit([](const auto& a) { return to_string(a); }, addr.value);
}

std::string to_string(const IpNet& net) { return to_string(net.addr) + "/" + std::to_string(net.prefix); }

std::string url_host_form(const Ipv6Addr& addr) { return "[" + compressed_hex(addr.segments()) + "]"; }

std::optional<Ipv4Addr> parse_ipv4_standard(std::string_view text) {
  if (auto octets = util::parse_ipv4_octets(text)) return Ipv4Addr{*octets};
  return std::nullopt;
}

std::optional<Ipv6Addr> parse_ipv6_standard(std::string_view text) {
  if (auto groups = util::parse_ipv6_groups(text)) return Ipv6Addr::from_segments(*groups);
  return std::nullopt;
}

std::optional<IpAddr> parse_ip_standard(std::string_view text) {
  if (auto v4 = parse_ipv4_standard(text)) return IpAddr{*v4};
  if (auto v6 = parse_ipv6_standard(text)) return IpAddr{*v6};
  return std::nullopt;
}

// The prefix length is written like an octet of the standard syntax: decimal digits only,
// no sign, no white space, and no leading zero ("/08" is refused rather than guessed at).
std::optional<IpNet> parse_ip_net(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  auto addr = parse_ip_standard(text.substr(0, slash));
  if (!addr) return std::nullopt;
  const std::string_view digits = text.substr(slash + 1);
  if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) {
    return std::nullopt;
  }
  unsigned prefix = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    prefix = prefix * 10 + static_cast<unsigned>(c - '0');
  }
  if (prefix > (addr->is_ipv4() ? 32u : 128u)) return std::nullopt;
  return IpNet{*addr, static_cast<std::uint8_t>(prefix)};
}

bool net_contains(const IpNet& net, const IpAddr& addr) {
  if (net.addr.is_ipv4() != addr.is_ipv4()) return false;
  return std::visit(
      [&](const auto& n) {
        const auto& a = std::get<std::decay_t<decltype(n)>>(addr.value);
        return prefix_matches(n.octets.data(), a.octets.data(), net.prefix);
      },
      net.addr.value);
}

void debug_fmt(std::string& out, Ipv4Addr addr) { out += to_string(addr); }
void debug_fmt(std::string& out, const Ipv6Addr& addr) { out += to_string(addr); }
void debug_fmt(std::string& out, const IpAddr& addr) { out += to_string(addr); }

}  // namespace zelvane::value
