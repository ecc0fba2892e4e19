#include "parse/server_list.hpp"

#include <chrono>
#include <cstdint>
#include <random>

#include "parse/endpoint.hpp"
#include "util/text.hpp"
#include "util/utf8.hpp"

namespace zelvane::parse {
namespace {

constexpr std::string_view kServerSeparators = "; \t\r\n";
constexpr std::string_view kWindowsBypassSeparators = ";, \t\r\n";

void set_entry(PerScheme& map, SchemeSlot slot, SchemeEntry entry) {
  map.insert_or_assign(slot, std::move(entry));
}

RejectedValue refused(RejectedKind kind, std::string_view entry, std::optional<SchemeSlot> slot) {
  return {kind, RejectedSource::proxy_server(), util::redact(entry), slot};
}

struct PacKeyword {
  std::string_view name;
  std::size_t step;  // RouteStep alternative
  std::optional<ProxyScheme> hint;
  std::uint16_t port;
};
constexpr PacKeyword kPacKeywords[] = {
    {"PROXY", 1, ProxyScheme::Http, 80},      {"HTTP", 1, ProxyScheme::Http, 80},
    {"HTTPS", 2, ProxyScheme::Https, 443},    {"SOCKS", 3, ProxyScheme::Socks4, 1080},
    {"SOCKS4", 3, ProxyScheme::Socks4, 1080}, {"SOCKS5", 4, ProxyScheme::Socks5h, 1080},
    {"DIRECT", 0, std::nullopt, 0},
};

RouteStep make_step(std::size_t kind, ProxyEndpoint endpoint) {
  switch (kind) {
    case 1: return {RouteStep::Http{std::move(endpoint)}};
    case 2: return {RouteStep::Https{std::move(endpoint)}};
    case 3: return {RouteStep::Socks4{std::move(endpoint)}};
    default: return {RouteStep::Socks5{std::move(endpoint)}};
  }
}

bool is_ascii_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

// Whether the address holds a white-space character that ASCII white space did not already
// split (U+00A0, a vertical tab, ...).
bool holds_unicode_whitespace(std::string_view text) {
  while (!text.empty()) {
    util::DecodedChar c = util::decode_utf8(text);
    if (util::is_unicode_whitespace(c.code_point)) return true;
    text.remove_prefix(c.length);
  }
  return false;
}

// Keys of the duplicate test: drawn from the system once per thread, then stepped for each
// list (cheap, never fails, and no two lists share a key).
std::size_t next_hash_key() {
  thread_local std::size_t key = [] {
    std::size_t seed = reinterpret_cast<std::uintptr_t>(&seed);
    try {
      std::random_device device;
      seed ^= (static_cast<std::size_t>(device()) << 32) | device();
    } catch (...) {
      // No entropy source: the address and the clock still differ between processes.
      seed ^= static_cast<std::size_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    return seed;
  }();
  return key += 0x9e3779b97f4a7c15ull;
}

// One PAC answer item: a step, or nothing when the item is skipped.
std::optional<RouteStep> pac_item(std::string_view item) {
  std::string_view tokens[2];
  std::size_t count = 0;
  for (std::size_t i = 0; i < item.size();) {
    while (i < item.size() && is_ascii_space(item[i])) ++i;
    if (i == item.size()) break;
    std::size_t end = i;
    while (end < item.size() && !is_ascii_space(item[end])) ++end;
    if (count == 2) return std::nullopt;  // three or more tokens
    tokens[count++] = item.substr(i, end - i);
    i = end;
  }
  if (count == 0) return std::nullopt;
  std::string keyword = util::ascii_upper(tokens[0]);
  for (const auto& k : kPacKeywords) {
    if (keyword != k.name) continue;
    if (k.step == 0) {
      if (count == 1) return RouteStep{RouteStep::Direct{}};
      return std::nullopt;
    }
    if (count == 1) return std::nullopt;
    std::string_view address = tokens[1];
    if (address.find_first_of("/?#") != std::string_view::npos) return std::nullopt;
    if (holds_unicode_whitespace(address)) return std::nullopt;
    auto endpoint = parse_endpoint(address, k.port);
    if (!endpoint) return std::nullopt;
    endpoint->auth.reset();
    if (endpoint->port == 0) endpoint->port = k.port;
    endpoint->scheme_hint = k.hint;
    return make_step(k.step, std::move(*endpoint));
  }
  return std::nullopt;
}

}  // namespace

ProxyServerList parse_proxy_server(std::string_view text) {
  ProxyServerList list;
  util::split_at_any(text, kServerSeparators, [&](std::string_view piece) {
    std::string_view entry = util::trim_unicode_whitespace(piece);
    if (entry.empty()) return;
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos || entry.find_first_of("/?:#") < eq) {
      if (auto e = parse_endpoint(entry, 80)) {
        set_entry(list.per_scheme, SchemeSlot::All, {SchemeEntry::Use{std::move(*e)}});
      } else {
        list.rejected.push_back(refused(RejectedKind::InvalidProxyEndpoint, entry, SchemeSlot::All));
      }
      return;
    }
    auto slot = parse_scheme_slot(entry.substr(0, eq));
    if (!slot) {
      list.rejected.push_back(refused(RejectedKind::UnknownProxyScheme, entry, std::nullopt));
      return;
    }
    std::string_view value = util::trim_unicode_whitespace(entry.substr(eq + 1));
    if (value.empty()) {
      set_entry(list.per_scheme, *slot, {SchemeEntry::Disabled{}});
      return;
    }
    const bool socks = *slot == SchemeSlot::Socks;
    if (auto e = parse_endpoint(value, socks ? 1080 : 80)) {
      if (socks && !e->scheme_hint) e->scheme_hint = ProxyScheme::Socks4;
      set_entry(list.per_scheme, *slot, {SchemeEntry::Use{std::move(*e)}});
    } else {
      // A refused socks entry stands for every scheme, as a working one would (below).
      list.rejected.push_back(refused(RejectedKind::InvalidProxyEndpoint, entry,
                                      socks ? SchemeSlot::All : *slot));
    }
  });
  // A lone SOCKS proxy serves every scheme that names no proxy of its own.
  if (!list.per_scheme.contains(SchemeSlot::All)) {
    auto socks = list.per_scheme.find(SchemeSlot::Socks);
    if (socks != list.per_scheme.end() && std::holds_alternative<SchemeEntry::Use>(socks->second.value)) {
      SchemeEntry copy = socks->second;
      for (SchemeSlot s : {SchemeSlot::Http, SchemeSlot::Https, SchemeSlot::Ftp, SchemeSlot::All}) {
        list.per_scheme.try_emplace(s, copy);
      }
    }
  }
  return list;
}

ProxyMode parse_proxy_settings(std::string_view server_text, std::string_view bypass_text) {
  ProxyServerList list = parse_proxy_server(server_text);
  if (list.per_scheme.empty() && list.rejected.empty()) return {ProxyMode::Direct{}};
  BypassRules bypass =
      BypassRules::parse(bypass_text, kWindowsBypassSeparators, BypassDialect::WindowsStyle);
  return ProxyMode{ProxyMode::Manual{std::move(list.per_scheme), std::move(bypass), {}}}
      .attach_rejected(std::move(list.rejected));
}

BypassRules parse_no_proxy(std::string_view text) {
  return BypassRules::parse(text, ",", BypassDialect::NoProxyStyle);
}

Result<std::vector<RouteStep>> parse_pac_result(std::string_view text) {
  CandidateList candidates;
  util::split_at_any(text, ";\r\n", [&](std::string_view item) {
    if (auto step = pac_item(item)) candidates.push(std::move(*step));
    return candidates.size() < CandidateList::kLimit;  // the rest is not read
  });
  if (auto steps = std::move(candidates).finish()) return std::move(*steps);
  return std::unexpected(Error(Error::PacInvalidResult{util::sanitize_message(text)}));
}

std::size_t CandidateList::KeyedHash::operator()(const RouteStep& s) const {
  std::size_t h = s.hash() ^ key;
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  return h;
}

CandidateList::CandidateList() : seen_(0, KeyedHash{next_hash_key()}) {}

void CandidateList::push(RouteStep step) {
  if (steps_.size() >= kLimit) return;
  if (!seen_.insert(step).second) return;
  steps_.push_back(std::move(step));
}

std::optional<std::vector<RouteStep>> CandidateList::finish() && {
  if (steps_.empty()) return std::nullopt;
  return std::move(steps_);
}

}  // namespace zelvane::parse
