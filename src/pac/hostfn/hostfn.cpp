#include "pac/hostfn/hostfn.hpp"

#include <array>
#include <cstdint>
#include <variant>

#include "util/ascii.hpp"
#include "util/glob.hpp"
#include "util/split.hpp"
#include "util/trim.hpp"
#include "util/utf8.hpp"
#include "value/host.hpp"

namespace zelvane::pac::hostfn {
namespace {

// The trimmed text, unbracketed when it is "[v6]" with a standard IPv6 address inside.
std::string_view unbracket(std::string_view text) {
  text = util::trim_unicode_whitespace(text);
  if (text.size() >= 2 && text.front() == '[' && text.back() == ']') {
    const std::string_view inner = text.substr(1, text.size() - 2);
    if (value::parse_ipv6_standard(inner)) return inner;
  }
  return text;
}

// An IPv4 address in any of the URL host parser's forms (127.1, 0x7f.0.0.1, a trailing dot).
std::optional<value::Ipv4Addr> url_ipv4(std::string_view text) {
  const auto host = value::parse_host(text);
  if (!host) return std::nullopt;
  if (const auto* v4 = std::get_if<value::Ipv4Addr>(&host->value)) return *v4;
  return std::nullopt;
}

// The character at the start of a non-empty text, as its bytes: comparing bytes keeps two
// different invalid sequences apart although both decode to U+FFFD.
std::string_view first_char(std::string_view text) { return text.substr(0, util::decode_utf8(text).length); }

// An optional '+', then decimal digits up to 2^32 - 1.
std::optional<std::uint32_t> read_u32_decimal(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xffffffffu) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

struct Range4 {
  std::uint32_t base;
  int prefix;
};
constexpr Range4 v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, int prefix) {
  return {value::Ipv4Addr{{a, b, c, 0}}.to_u32(), prefix};
}
constexpr std::array kInternalV4 = {
    v4(0, 0, 0, 8),     v4(10, 0, 0, 8),      v4(100, 64, 0, 10),  v4(127, 0, 0, 8),    v4(169, 254, 0, 16),
    v4(172, 16, 0, 12), v4(192, 0, 0, 24),    v4(192, 0, 2, 24),   v4(192, 88, 99, 24), v4(192, 168, 0, 16),
    v4(198, 18, 0, 15), v4(198, 51, 100, 24), v4(203, 0, 113, 24), v4(224, 0, 0, 4),    v4(240, 0, 0, 4),
};

}  // namespace

bool is_plain_host_name(std::string_view host) { return host.find_first_of(".:") == std::string_view::npos; }

bool dns_domain_is(std::string_view host, std::string_view domain) {
  return util::ascii_lower(host).ends_with(util::ascii_lower(domain));
}

bool local_host_or_domain_is(std::string_view host, std::string_view hostdom) {
  const std::string h = util::ascii_lower(host);
  const std::string d = util::ascii_lower(hostdom);
  if (h == d) return true;
  if (h.find('.') != std::string::npos) return false;
  return d.size() > h.size() && d.starts_with(h) && d[h.size()] == '.';
}

std::optional<value::Ipv4Addr> dns_resolve_v4(std::string_view text, const PacPolicy& policy,
                                              Resolver& resolver) {
  const std::string_view host = unbracket(text);
  if (const auto literal = url_ipv4(host)) return literal;
  if (value::parse_ipv6_standard(host)) return std::nullopt;
  return resolve_with_policy(host, policy, resolver);
}

std::optional<std::string> dns_resolve(std::string_view host, const PacPolicy& policy, Resolver& resolver) {
  const auto address = dns_resolve_v4(host, policy, resolver);
  if (!address) return std::nullopt;
  return to_string(*address);
}

bool is_resolvable(std::string_view text, const PacPolicy& policy, Resolver& resolver) {
  const std::string_view host = unbracket(text);
  if (url_ipv4(host) || value::parse_ipv6_standard(host)) return true;
  return resolve_with_policy(host, policy, resolver).has_value();
}

std::optional<value::Ipv4Addr> resolve_with_policy(std::string_view name, const PacPolicy& policy,
                                                   Resolver& resolver) {
  if (name.empty() || !policy.resolve_dns) return std::nullopt;
  if (name.find('\0') != std::string_view::npos) return std::nullopt;
  const std::vector<value::IpAddr> answers = resolver.lookup(name);
  return first_usable_ipv4(answers, policy);
}

std::optional<value::Ipv4Addr> first_usable_ipv4(std::span<const value::IpAddr> addresses,
                                                 const PacPolicy& policy) {
  for (const value::IpAddr& address : addresses) {
    std::optional<value::Ipv4Addr> candidate;
    if (const auto* a4 = std::get_if<value::Ipv4Addr>(&address.value)) {
      candidate = *a4;
    } else {
      candidate = std::get<value::Ipv6Addr>(address.value).to_ipv4_mapped();
    }
    if (!candidate) continue;
    if (policy.allow_internal_addresses || !is_internal_address(*candidate)) return candidate;
  }
  return std::nullopt;
}

bool is_internal_address(value::Ipv4Addr address) {
  const std::uint32_t a = address.to_u32();
  for (const Range4& r : kInternalV4) {
    const std::uint32_t mask = ~std::uint32_t{0} << (32 - r.prefix);
    if ((a & mask) == r.base) return true;
  }
  return false;
}

bool is_internal_address(const value::Ipv6Addr& address) {
  if (const auto mapped = address.to_ipv4_mapped()) return is_internal_address(*mapped);
  const auto& o = address.octets;
  bool zero_to_14 = true;
  for (std::size_t i = 0; i < 15; ++i) zero_to_14 = zero_to_14 && o[i] == 0;
  if (zero_to_14 && (o[15] == 0 || o[15] == 1)) return true;  // :: and ::1
  if ((o[0] & 0xfe) == 0xfc) return true;                     // fc00::/7
  if (o[0] == 0xfe && (o[1] & 0xc0) == 0x80) return true;     // fe80::/10
  return o[0] == 0xff;                                        // ff00::/8
}

bool is_internal_address(const value::IpAddr& address) {
  return std::visit([](const auto& a) { return is_internal_address(a); }, address.value);
}

std::optional<value::Ipv4Addr> parse_dotted_quad(std::string_view text) {
  value::Ipv4Addr out;
  std::size_t part = 0;
  bool ok = true;
  util::split_at_any(text, ".", [&](std::string_view piece) {
    unsigned value = 0;
    ok = part < 4 && !piece.empty() && piece.size() <= 3;
    for (const char c : piece) {
      ok = ok && c >= '0' && c <= '9';
      value = value * 10 + static_cast<unsigned>(c - '0');
    }
    ok = ok && value <= 255;
    if (ok) out.octets[part++] = static_cast<std::uint8_t>(value);
    return ok;
  });
  if (!ok || part != 4) return std::nullopt;
  return out;
}

bool is_in_net(std::string_view host, std::string_view pattern, std::string_view mask,
               const PacPolicy& policy, Resolver& resolver) {
  const auto p = parse_dotted_quad(pattern);
  if (!p) return false;
  const auto m = parse_dotted_quad(mask);
  if (!m) return false;
  auto h = parse_dotted_quad(host);
  if (!h) h = dns_resolve_v4(host, policy, resolver);
  if (!h) return false;
  return ((h->to_u32() ^ p->to_u32()) & m->to_u32()) == 0;
}

std::string my_ip_address(const PacPolicy& policy) {
  return policy.my_ip_address ? to_string(*policy.my_ip_address) : std::string("127.0.0.1");
}

std::size_t dns_domain_levels(std::string_view host) {
  std::size_t dots = 0;
  for (const char c : host) dots += c == '.';
  return dots;
}

bool sh_exp_match(std::string_view text, std::string_view pattern) {
  if (pattern.find('?') == std::string_view::npos) return util::glob_match(pattern, text);

  // One backtrack point: the pattern just after the latest '*', and the subject position from
  // which that '*' is next extended. Without '?' the glob above stays linear; with it, the
  // step budget bounds the walk, since no deadline can interrupt a host function.
  constexpr std::uint32_t kMaxSteps = std::uint32_t{1} << 24;
  std::size_t s = 0, p = 0;
  std::optional<std::size_t> star_p, star_s;
  for (std::uint32_t steps = 0;; ++steps) {
    if (s == text.size()) {
      return pattern.find_first_not_of('*', p) == std::string_view::npos;
    }
    if (steps >= kMaxSteps) return false;
    if (p < pattern.size()) {
      if (pattern[p] == '*') {
        star_p = ++p;
        star_s = s;
        continue;
      }
      const std::string_view pc = first_char(pattern.substr(p));
      const std::string_view sc = first_char(text.substr(s));
      if (pc == "?" || pc == sc) {
        p += pc.size();
        s += sc.size();
        continue;
      }
    }
    if (!star_p) return false;
    *star_s += first_char(text.substr(*star_s)).size();
    s = *star_s;
    p = *star_p;
  }
}

std::uint32_t convert_addr(std::string_view text) {
  std::uint32_t out = 0;
  int part = 0;
  util::split_at_any(text, ".", [&](std::string_view piece) {
    const std::uint32_t value = read_u32_decimal(util::trim_unicode_whitespace(piece)).value_or(0);
    out |= (value & 0xffu) << (8 * (3 - part));
    return ++part < 4;
  });
  return out;
}

std::int32_t convert_addr_number(std::string_view ipaddr) {
  return static_cast<std::int32_t>(convert_addr(ipaddr));
}

}  // namespace zelvane::pac::hostfn
