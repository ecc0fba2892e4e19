#include "bypass/rules.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <utility>

#include "value/ip.hpp"
#include "value/host.hpp"
#include "util/host_port.hpp"
#include "util/redact.hpp"
#include "util/split.hpp"
#include "util/trim.hpp"
#include "util/ascii.hpp"
#include "util/utf8.hpp"
#include "util/overloaded.hpp"
#include "util/probe_set.hpp"

namespace zelvane::bypass {

using namespace model;
using namespace value;

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool is_windows_trim_char(char c) { return (c >= '\t' && c <= '\r') || c == ' '; }

bool has_non_ascii(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Bytes that are not UTF-8 are no white space; the host checks further on refuse them.
bool has_unicode_whitespace(std::string_view text) {
  while (!text.empty()) {
    const util::DecodedChar d = util::decode_utf8(text);
    if (d.valid && util::is_unicode_whitespace(d.code_point)) return true;
    text.remove_prefix(d.length);
  }
  return false;
}

bool has_empty_label(std::string_view text) {
  return text.starts_with('.') || text.ends_with('.') || text.find("..") != npos;
}

std::string_view without_trailing_dot(std::string_view text) {
  if (text.ends_with('.')) text.remove_suffix(1);
  return text;
}

bool is_domain(const Host& host) { return host.as_domain() != nullptr; }

Host host_of(const IpAddr& addr) {
  return std::visit([](const auto& a) { return Host{a}; }, addr.value);
}

BypassRule rule(auto value) { return BypassRule{std::move(value)}; }

// A name with a number for its last label that no parser reads, such as '*.*.1', still
// makes a glob over dotted addresses.
bool is_address_pattern(std::string_view text) {
  return text.find('*') != npos && std::count(text.begin(), text.end(), '.') <= 2 &&
         text.find_first_not_of("0123456789*.") == npos;
}

// A network whose address a URL parser reads as IPv4 although it is not four plain decimal
// octets ('010.1.2.0/24' is 8.1.2.0/24): the address taken as the URL parser reads it, so
// that the network and the destinations it is meant for agree.
std::optional<IpNet> url_ipv4_network(std::string_view lower) {
  const std::size_t slash = lower.find('/');
  if (slash == npos) return std::nullopt;
  const std::string_view addr = lower.substr(0, slash);
  if (parse_ip_standard(addr)) return std::nullopt;
  if (std::count(addr.begin(), addr.end(), '.') != 3 || has_empty_label(addr)) return std::nullopt;
  if (has_forbidden_host_char(addr)) return std::nullopt;
  const auto host = parse_host(addr);
  if (!host) return std::nullopt;
  const auto* v4 = std::get_if<Ipv4Addr>(&host->value);
  if (!v4) return std::nullopt;
  return parse_ip_net(to_string(*v4) + "/" + std::string(lower.substr(slash + 1)));
}

// The host of an entry from the port split on (after any '[' ']' are gone).
EntryOutcome parse_host_entry(std::string_view host_part, bool bracketed, std::optional<std::uint16_t> port,
                              BypassDialect dialect) {
  const bool windows = dialect == BypassDialect::WindowsStyle;
  // Windows compares a trailing dot as written: the rule would match only names spelled so.
  if (windows && host_part.ends_with('.') && host_part.find_first_not_of("*.") != npos) {
    return Refused{};
  }
  if (bracketed) {
    const auto parsed = parse_host(host_part);
    if (!parsed || is_domain(*parsed)) return Refused{};
  }
  if (has_forbidden_host_char(host_part)) return Refused{};

  std::string host(host_part);
  if (has_non_ascii(host)) {
    auto ascii = wildcard_to_ascii(host);
    if (!ascii) return Refused{};
    host = std::move(*ascii);
  }

  // An empty label inside the name: no destination could match it.
  {
    std::string_view inner = host;
    if (inner.starts_with("*.")) {
      inner.remove_prefix(2);
    } else if (inner.starts_with('.')) {
      inner.remove_prefix(1);
    }
    inner = without_trailing_dot(inner);
    if (!inner.empty() && has_empty_label(inner)) return Refused{};
  }

  // A subdomain form needs a name to hang from: an address has no subdomains, and a name
  // the host parser refuses ('.example.123') names nothing.
  const bool star_dot = host.starts_with("*.");
  if (star_dot || host.starts_with('.')) {
    const std::string_view parent = without_trailing_dot(std::string_view(host).substr(star_dot ? 2 : 1));
    if (!parent.empty()) {
      const auto parsed = parse_host(parent);
      if (parsed ? !is_domain(*parsed) : !is_address_pattern(parent)) return Refused{};
    }
  }

  if (star_dot) {
    const std::string_view tail = without_trailing_dot(std::string_view(host).substr(2));
    if (tail.empty()) return NoRule{};
    if (tail.find('*') != npos) return rule(BypassRule::Wildcard{"*." + std::string(tail), port});
    return rule(BypassRule::Domain{"." + std::string(tail), false, port});
  }

  const std::string_view h = without_trailing_dot(host);
  if (h.empty()) return NoRule{};
  if (const auto addr = parse_ip_standard(h)) return rule(BypassRule::Exact{host_of(*addr), port});
  if (h.find('*') != npos) {
    std::string pattern = h.starts_with('.') ? "*" + std::string(h) : std::string(h);
    return rule(BypassRule::Wildcard{std::move(pattern), port});
  }
  if (h.starts_with('.')) {
    if (h == ".") return NoRule{};
    return rule(BypassRule::Domain{std::string(h), false, port});
  }
  auto parsed = parse_host(h);
  if (!parsed) return Refused{};
  if (windows) {
    // Windows compares "10.1" as text, while a URL parser reads it as 10.0.0.1.
    if (std::holds_alternative<Ipv4Addr>(parsed->value)) return Refused{};
    return rule(BypassRule::Exact{std::move(*parsed), port});
  }
  if (!is_domain(*parsed)) return rule(BypassRule::Exact{std::move(*parsed), port});
  return rule(BypassRule::Domain{"." + std::string(h), true, port});
}

std::string with_port(std::string text, const std::optional<std::uint16_t>& port) {
  if (port) text += ":" + std::to_string(*port);
  return text;
}

struct RuleHash {
  std::size_t operator()(const BypassRule& r) const { return r.hash(); }
};

}  // namespace

std::string_view trim_windows_entry(std::string_view piece) {
  while (!piece.empty() && is_windows_trim_char(piece.front())) piece.remove_prefix(1);
  while (!piece.empty() && is_windows_trim_char(piece.back())) piece.remove_suffix(1);
  return piece;
}

std::string_view trim_entry(std::string_view piece, BypassDialect dialect) {
  return dialect == BypassDialect::WindowsStyle ? trim_windows_entry(piece)
                                                : util::trim_unicode_whitespace(piece);
}

bool has_forbidden_host_char(std::string_view text) {
  while (!text.empty()) {
    const util::DecodedChar d = util::decode_utf8(text);
    text.remove_prefix(d.length);
    if (!d.valid) continue;
    const char32_t c = d.code_point;
    if (c <= 0x1F || (c >= 0x7F && c <= 0x9F)) return true;
    if (c < 0x80 && std::string_view("#%<>?[\\]^|").find(static_cast<char>(c)) != npos) return true;
  }
  return false;
}

std::optional<std::string> wildcard_to_ascii(std::string_view host) {
  std::string out;
  out.reserve(host.size());
  for (bool first = true;; first = false) {
    const std::size_t dot = host.find('.');
    const std::string_view label = host.substr(0, dot);
    if (!first) out += '.';
    if (!has_non_ascii(label)) {
      out += label;
    } else {
      // A glob mixed with non-ASCII text in one label has no punycode form.
      if (label.find('*') != npos) return std::nullopt;
      // A label alone may not be a valid name (a number, say): under a fixed ASCII last
      // label it always reads as a domain, and the label's ASCII form is what precedes it.
      auto parsed = parse_url_host(std::string(label) + ".a");
      if (!parsed) return std::nullopt;
      const std::string* domain = parsed->as_domain();
      if (domain == nullptr || !domain->ends_with(".a")) return std::nullopt;
      // A full-width ',' ';' '*' or ':' maps to its ASCII twin, which the rule's own text
      // could not carry: a list would split at it, or read a glob or a port into it.
      const std::string_view mapped = std::string_view(*domain).substr(0, domain->size() - 2);
      if (mapped.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-_.") != npos) return std::nullopt;
      out.append(mapped);
    }
    if (dot == npos) return out;
    host.remove_prefix(dot + 1);
  }
}

EntryOutcome parse_entry(std::string_view trimmed, BypassDialect dialect) {
  if (trimmed.empty()) return NoRule{};
  const std::string lower = util::ascii_lower(trimmed);
  if (lower == "<-loopback>") return rule(BypassRule::SubtractImplicit{});
  if (lower == "<local>") return rule(BypassRule::Local{});
  if (lower == "*") return rule(BypassRule::All{});

  // Credentials belong to a proxy URL, never to a bypass list.
  if (lower.find('@') != npos) return Refused{};
  if (has_unicode_whitespace(lower)) return Refused{};
  // A bypass entry applies to every scheme, so it cannot name one.
  if (lower.find("://") != npos) return Refused{};
  if (dialect == BypassDialect::WindowsStyle) {
    // Windows reads no network block and no leading '.' as a subdomain rule; either one
    // there invalidates the whole list, so neither may pass here.
    if (lower.find('/') != npos) return Refused{};
    if (lower.starts_with('.') && lower.find_first_not_of('.') != npos) return Refused{};
  }

  if (auto net = url_ipv4_network(lower)) return rule(BypassRule::Cidr{*net});
  if (auto net = parse_ip_net(lower)) return rule(BypassRule::Cidr{*net});
  if (lower.find('/') != npos) return Refused{};

  const auto split = util::split_host_port(lower);
  if (!split) return Refused{};
  std::string_view host = split->host;
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  return parse_host_entry(host, bracketed, split->port, dialect);
}

void push_entry(BypassRules& rules, std::string_view trimmed, BypassDialect dialect) {
  EntryOutcome outcome = parse_entry(trimmed, dialect);
  if (auto* r = std::get_if<BypassRule>(&outcome)) {
    rules.patterns.push_back(std::move(*r));
  } else if (std::holds_alternative<Refused>(outcome)) {
    rules.rejected.push_back(RejectedValue{RejectedKind::InvalidBypassPattern, RejectedSource::bypass_list(),
                                           util::redact(trimmed), std::nullopt});
  }
}

namespace {

// Positions plus one, as the sets below hold them: a hostile list of millions of entries then
// costs four bytes a slot beside the list itself. Past what a slot can name, the list is
// simply no longer de-duplicated.
using Slot = std::uint32_t;
bool nameable(std::size_t i) { return i < std::numeric_limits<Slot>::max(); }

// The rules seen since the last "<-loopback>", held as positions in the list itself.
class SeenRules {
 public:
  explicit SeenRules(const std::vector<BypassRule>& rules) : set_(Hash{&rules}, Equal{&rules}) {}
  // Whether rules[i] is new (and now seen); a "<-loopback>" is always new and forgets the rest,
  // since which side of it a rule stands on decides the match.
  bool admit(std::size_t i, const std::vector<BypassRule>& rules) {
    if (std::holds_alternative<BypassRule::SubtractImplicit>(rules[i].value)) {
      set_.clear();
      return true;
    }
    return !nameable(i) || set_.insert(static_cast<Slot>(i + 1));
  }

 private:
  struct Hash {
    const std::vector<BypassRule>* rules;
    std::size_t operator()(Slot s) const { return (*rules)[s - 1].hash(); }
  };
  struct Equal {
    const std::vector<BypassRule>* rules;
    bool operator()(Slot a, Slot b) const { return (*rules)[a - 1] == (*rules)[b - 1]; }
  };
  util::ProbeSet<Slot, Hash, Equal> set_;
};

// The refused entries kept so far, by their stored text: a refusal repeated in the list is
// reported once, so a list of one bad entry repeated millions of times costs one record.
class SeenRefusals {
 public:
  explicit SeenRefusals(const std::vector<RejectedValue>& refused) : set_(Hash{&refused}, Equal{&refused}) {}
  bool admit(std::size_t i) { return !nameable(i) || set_.insert(static_cast<Slot>(i + 1)); }

 private:
  struct Hash {
    const std::vector<RejectedValue>* refused;
    std::size_t operator()(Slot s) const {
      return std::hash<std::string>{}((*refused)[s - 1].redacted_input);
    }
  };
  struct Equal {
    const std::vector<RejectedValue>* refused;
    bool operator()(Slot a, Slot b) const { return (*refused)[a - 1] == (*refused)[b - 1]; }
  };
  util::ProbeSet<Slot, Hash, Equal> set_;
};

}  // namespace

void dedup_rules(std::vector<BypassRule>& rules) {
  SeenRules seen(rules);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (kept != i) rules[kept] = std::move(rules[i]);
    // The set refers to positions: the rule is tested where it now stands.
    if (seen.admit(kept, rules)) ++kept;
  }
  rules.resize(kept);
}

BypassRules parse(std::string_view text, std::string_view separators, BypassDialect dialect) {
  BypassRules rules;
  // De-duplicated as the list is read: a list of one entry repeated millions of times keeps
  // one rule, never millions before a final pass.
  SeenRules seen(rules.patterns);
  SeenRefusals refused(rules.rejected);
  util::split_at_any(text, separators, [&](std::string_view piece) {
    const std::size_t patterns = rules.patterns.size(), rejected = rules.rejected.size();
    push_entry(rules, trim_entry(piece, dialect), dialect);
    if (rules.patterns.size() > patterns && !seen.admit(patterns, rules.patterns)) {
      rules.patterns.pop_back();
    }
    if (rules.rejected.size() > rejected && !refused.admit(rejected)) rules.rejected.pop_back();
  });
  const bool no_proxy = dialect == BypassDialect::NoProxyStyle;
  rules.implicit = no_proxy ? ImplicitBypass::Broad : ImplicitBypass::WinInet;
  rules.ipv4_mapped_as_ipv4 = no_proxy;
  rules.strip_trailing_dot = no_proxy;
  return rules;
}

std::string to_text(const BypassRule& rule) {
  return std::visit(
      util::Overloaded{
          [](const BypassRule::All&) -> std::string { return "*"; },
          [](const BypassRule::Cidr& r) -> std::string { return to_string(r.net); },
          [](const BypassRule::Exact& r) -> std::string {
            // IPv6 in brackets in its RFC 5952 form: the list text a person would write.
            const auto* v6 = std::get_if<Ipv6Addr>(&r.host.value);
            return with_port(v6 ? "[" + to_string(*v6) + "]" : url_text(r.host), r.port);
          },
          [](const BypassRule::Domain& r) -> std::string {
            std::string text;
            if (r.suffix.starts_with('.')) {
              text = r.match_self ? r.suffix.substr(1) : r.suffix;
            } else {
              text = r.match_self ? r.suffix : "." + r.suffix;
            }
            return with_port(std::move(text), r.port);
          },
          [](const BypassRule::Wildcard& r) -> std::string { return with_port(r.pattern, r.port); },
          [](const BypassRule::Local&) -> std::string { return "<local>"; },
          [](const BypassRule::SubtractImplicit&) -> std::string { return "<-loopback>"; },
      },
      rule.value);
}

}  // namespace zelvane::bypass
