#include "bypass/match.hpp"

#include <algorithm>
#include <variant>

#include "bypass/rules.hpp"
#include "util/ascii.hpp"
#include "util/glob.hpp"
#include "util/overloaded.hpp"
#include "value/ip.hpp"

namespace zelvane::bypass {

using namespace model;
using namespace value;

namespace {

bool is_ascii_upper(char c) { return c >= 'A' && c <= 'Z'; }
bool is_non_ascii(char c) { return static_cast<unsigned char>(c) >= 0x80; }

void lower_in_place(std::string& text) {
  for (char& c : text) {
    if (is_ascii_upper(c)) c = static_cast<char>(c - 'A' + 'a');
  }
}

// The key of the host, as a view of the host's own text when that is already the key (the
// common case: URL parsers give lower-case ASCII domains), else of `storage`.
std::string_view key_of(const Host& host, std::string& storage) {
  if (const std::string* name = host.as_domain()) {
    const bool upper = std::ranges::any_of(*name, is_ascii_upper);
    const bool non_ascii = std::ranges::any_of(*name, is_non_ascii);
    if (!upper && !non_ascii) return *name;
    std::optional<std::string> ascii;
    if (non_ascii) ascii = wildcard_to_ascii(*name);
    if (ascii) {
      storage = std::move(*ascii);
    } else {
      storage = *name;
    }
    lower_in_place(storage);
    return storage;
  }
  if (const auto* v4 = std::get_if<Ipv4Addr>(&host.value)) {
    storage = to_string(*v4);
  } else {
    storage = to_string(std::get<Ipv6Addr>(host.value));
  }
  return storage;
}

std::optional<IpAddr> address_of(const Host& host) {
  if (const auto* v4 = std::get_if<Ipv4Addr>(&host.value)) return IpAddr{*v4};
  if (const auto* v6 = std::get_if<Ipv6Addr>(&host.value)) return IpAddr{*v6};
  return std::nullopt;
}

// ::ffff:a.b.c.d as a.b.c.d when the list compares mapped addresses as IPv4.
IpAddr unmapped(const IpAddr& addr, bool map) {
  if (map && !addr.is_ipv4()) {
    if (auto v4 = std::get<Ipv6Addr>(addr.value).to_ipv4_mapped()) return IpAddr{*v4};
  }
  return addr;
}

bool is_v6_loopback(const Ipv6Addr& a) {
  return std::all_of(a.octets.begin(), a.octets.end() - 1, [](std::uint8_t o) { return o == 0; }) &&
         a.octets[15] == 1;
}
bool is_v4(const Ipv4Addr& a, std::uint8_t o0, std::uint8_t o1, std::uint8_t o2, std::uint8_t o3) {
  return a.octets == std::array<std::uint8_t, 4>{o0, o1, o2, o3};
}

bool implicit_name(ImplicitBypass set, std::string_view key) {
  switch (set) {
    case ImplicitBypass::Broad:
      if (key.ends_with('.')) key.remove_suffix(1);
      return key == "localhost" || key == "loopback" || key.ends_with(".localhost");
    case ImplicitBypass::WinInet:
      return key == "localhost" || key == "loopback";
    case ImplicitBypass::CfNetwork:
      return key == "localhost";
    case ImplicitBypass::Empty:
      return false;
  }
  return false;
}

bool implicit_v4(ImplicitBypass set, const Ipv4Addr& a) {
  switch (set) {
    case ImplicitBypass::Broad:
      return a.octets[0] == 127;
    case ImplicitBypass::WinInet:
      return is_v4(a, 127, 0, 0, 1) || (a.octets[0] == 169 && a.octets[1] == 254);
    case ImplicitBypass::CfNetwork:
      return is_v4(a, 127, 0, 0, 1);
    case ImplicitBypass::Empty:
      return false;
  }
  return false;
}

bool implicit_v6(ImplicitBypass set, const Ipv6Addr& a) {
  switch (set) {
    case ImplicitBypass::Broad: {
      if (is_v6_loopback(a)) return true;
      const auto v4 = a.to_ipv4_mapped();
      return v4 && v4->octets[0] == 127;
    }
    case ImplicitBypass::WinInet:
      return is_v6_loopback(a) || (a.octets[0] == 0xfe && (a.octets[1] & 0xc0) == 0x80);
    case ImplicitBypass::CfNetwork:
      return is_v6_loopback(a);
    case ImplicitBypass::Empty:
      return false;
  }
  return false;
}

bool implicit_of(ImplicitBypass set, const Host& host, std::string_view key) {
  if (const auto* v4 = std::get_if<Ipv4Addr>(&host.value)) return implicit_v4(set, *v4);
  if (const auto* v6 = std::get_if<Ipv6Addr>(&host.value)) return implicit_v6(set, *v6);
  return implicit_name(set, key);
}

// What the rules are compared with, worked out once per destination. Not copyable: the
// views may point into its own storage.
struct Destination {
  Destination(const BypassRules& rules, const Host& host, std::optional<std::uint16_t> dest_port)
      : key(key_of(host, storage)), port(dest_port) {
    name = key;
    if (rules.strip_trailing_dot && name.ends_with('.')) name.remove_suffix(1);
    if (auto a = address_of(host)) addr = unmapped(*a, rules.ipv4_mapped_as_ipv4);
  }
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  std::string storage;
  std::string_view key;        // the whole key
  std::string_view name;       // the key the name rules compare with
  std::optional<IpAddr> addr;  // none for a domain; mapped as the list says
  std::optional<std::uint16_t> port;
};

bool port_passes(std::optional<std::uint16_t> rule_port, std::optional<std::uint16_t> port) {
  return !rule_port || rule_port == port;
}

bool name_equals(const std::string& rule_name, std::string_view name) {
  // The destination's key has no upper-case ASCII letter, so a case-blind comparison is the
  // comparison with the rule's key, short of a non-ASCII rule that needs its punycode.
  if (std::ranges::any_of(rule_name, is_non_ascii)) {
    return host_key(Host::domain(rule_name)) == name;
  }
  return util::equals_ignore_ascii_case(rule_name, name);
}

bool exact_matches(const BypassRule::Exact& rule, const Destination& d, bool map) {
  if (!port_passes(rule.port, d.port)) return false;
  if (const std::string* rule_name = rule.host.as_domain()) return name_equals(*rule_name, d.name);
  // NOLINTNEXTLINE(bugprone-unchecked-optional-access): a host that is no domain is an address
  const IpAddr rule_addr = *address_of(rule.host);
  if (!d.addr) {
    // An address's text starts with a digit, or for IPv6 with a hexadecimal one or ':'; most
    // names are told apart without writing the address out.
    const char first = d.name.empty() ? '\0' : d.name.front();
    const bool could_be = (first >= '0' && first <= '9') || (first >= 'a' && first <= 'f') || first == ':';
    return could_be && to_string(rule_addr) == d.name;
  }
  return unmapped(rule_addr, map) == *d.addr;
}

bool domain_matches(const BypassRule::Domain& rule, const Destination& d) {
  if (!port_passes(rule.port, d.port)) return false;
  std::string_view suffix = rule.suffix;
  if (suffix.starts_with('.')) suffix.remove_prefix(1);
  if (suffix.empty() || d.name.size() < suffix.size()) return false;
  const std::size_t cut = d.name.size() - suffix.size();
  if (!util::equals_ignore_ascii_case(d.name.substr(cut), suffix)) return false;
  return cut == 0 ? rule.match_self : d.name[cut - 1] == '.';
}

bool wildcard_matches(const BypassRule::Wildcard& rule, const Destination& d) {
  if (!port_passes(rule.port, d.port)) return false;
  if (std::ranges::any_of(rule.pattern, is_ascii_upper)) {
    return util::glob_match(util::ascii_lower(rule.pattern), d.name);
  }
  return util::glob_match(rule.pattern, d.name);
}

bool cidr_matches(const BypassRule::Cidr& rule, const Destination& d, bool map) {
  if (!d.addr) return false;
  if (map && !rule.net.addr.is_ipv4() && rule.net.prefix >= 96) {
    if (auto v4 = std::get<Ipv6Addr>(rule.net.addr.value).to_ipv4_mapped()) {
      return net_contains(IpNet{IpAddr{*v4}, static_cast<std::uint8_t>(rule.net.prefix - 96)}, *d.addr);
    }
  }
  return net_contains(rule.net, *d.addr);
}

}  // namespace

std::string host_key(const Host& host) {
  std::string storage;
  const std::string_view key = key_of(host, storage);
  if (key.data() == storage.data()) return storage;
  return std::string(key);
}

bool implicit_contains(ImplicitBypass set, const Host& host) {
  std::string storage;
  return implicit_of(set, host, key_of(host, storage));
}

std::optional<std::uint16_t> destination_port(const BypassRules& rules, const Url& url) {
  const std::optional<std::uint16_t> own = url.port();
  if (own || rules.require_explicit_port) return own;
  const std::string_view scheme = url.scheme();
  if (scheme == "http" || scheme == "ws") return 80;
  if (scheme == "https" || scheme == "wss") return 443;
  if (scheme == "ftp") return 21;
  return std::nullopt;
}

bool matches(const BypassRules& rules, const Url& url) {
  const std::optional<Host> host = url.host();
  if (!host) return false;
  return matches_host(rules, *host, destination_port(rules, url));
}

bool matches_host(const BypassRules& rules, const Host& host, std::optional<std::uint16_t> port) {
  const Destination d(rules, host, port);
  if (d.key.empty()) return false;
  const bool implicit = implicit_of(rules.implicit, host, d.key);
  // A refused entry might have named this very host: an exception list that has lost entries
  // never sends an unlisted host direct.
  const bool unlisted_answer = rules.reversed_exceptions && rules.rejected.empty();

  if (rules.exclude_simple_hostnames && d.key.find('.') == std::string_view::npos) {
    const bool subtracts = std::ranges::any_of(rules.patterns, [](const BypassRule& r) {
      return std::holds_alternative<BypassRule::SubtractImplicit>(r.value);
    });
    if (!(subtracts && implicit)) return true;
  }

  const bool map = rules.ipv4_mapped_as_ipv4;
  enum class Outcome { Pass, Hit, Withdrawn };
  const auto hit_if = [](bool hit) { return hit ? Outcome::Hit : Outcome::Pass; };
  for (auto it = rules.patterns.rbegin(); it != rules.patterns.rend(); ++it) {
    const Outcome outcome =
        std::visit(util::Overloaded{
                       [](const BypassRule::All&) { return Outcome::Hit; },
                       [&](const BypassRule::Cidr& r) { return hit_if(cidr_matches(r, d, map)); },
                       [&](const BypassRule::Exact& r) { return hit_if(exact_matches(r, d, map)); },
                       [&](const BypassRule::Domain& r) { return hit_if(domain_matches(r, d)); },
                       [&](const BypassRule::Wildcard& r) { return hit_if(wildcard_matches(r, d)); },
                       [&](const BypassRule::Local&) {
                         return hit_if(!d.addr && d.key.find('.') == std::string_view::npos);
                       },
                       // Withdraws the implicit set for every rule before it in the list.
                       [&](const BypassRule::SubtractImplicit&) {
                         return implicit ? Outcome::Withdrawn : Outcome::Pass;
                       },
                   },
                   it->value);
    if (outcome == Outcome::Hit) return !rules.reversed_exceptions;
    if (outcome == Outcome::Withdrawn) return unlisted_answer;
  }
  return implicit || unlisted_answer;
}

}  // namespace zelvane::bypass
