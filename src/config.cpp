#include "config.hpp"

#include <array>
#include <functional>

#include "debug.hpp"
#include "util/text.hpp"

namespace zelvane {
namespace {

template <class E, std::size_t N>
std::string_view lookup(const std::array<std::string_view, N>& names, E value) {
  auto i = static_cast<std::size_t>(value);
  return i < N ? names[i] : std::string_view("?");
}

constexpr std::array<std::string_view, 12> kSourceKindNames = {
    "Registry", "GroupPolicy", "WinHttpDefault", "SystemConfigurationSetup",
    "SystemConfigurationState", "GSettings", "Kioslaverc", "KioslavercEnv", "Portal", "Env",
    "ConnectivityManager", "CfNetworkSystemSettings"};
constexpr std::array<std::string_view, 5> kSlotNames = {"Http", "Https", "Ftp", "Socks", "All"};
constexpr std::array<std::string_view, 5> kSlotTexts = {"http", "https", "ftp", "socks", "all"};
constexpr std::array<std::string_view, 6> kSchemeNames = {"Http", "Https", "Socks4",
                                                          "Socks4a", "Socks5", "Socks5h"};
constexpr std::array<std::string_view, 6> kSchemeTexts = {"http", "https", "socks4",
                                                          "socks4a", "socks5", "socks5h"};
constexpr std::array<std::string_view, 4> kRejectedKindNames = {
    "InvalidProxyEndpoint", "InvalidBypassPattern", "UnknownProxyScheme", "UnsupportedMapping"};
constexpr std::array<std::string_view, 4> kImplicitNames = {"Broad", "WinInet", "CfNetwork",
                                                            "Empty"};
constexpr std::array<std::string_view, 4> kPasswordNames = {"Present", "Absent", "NotRead",
                                                            "InKeychain"};
constexpr std::array<std::string_view, 7> kRejectedSourceNames = {
    "ProxyServer", "BypassList", "EnvironmentVariable", "Kioslaverc",
    "GSettings",   "SystemConfiguration", "ProxyInfo"};

std::size_t mix(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

std::size_t hash_host(const Host& host) {
  std::size_t h = host.value.index();
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::string>) {
          h = mix(h, std::hash<std::string>{}(v));
        } else {
          for (auto b : v.octets) h = mix(h, b);
        }
      },
      host.value);
  return h;
}

std::size_t hash_port(const std::optional<std::uint16_t>& port) {
  return port ? std::size_t{*port} + 1 : 0;
}

std::size_t hash_endpoint(const ProxyEndpoint& e) {
  std::size_t h = hash_host(e.host);
  h = mix(h, e.port);
  h = mix(h, e.scheme_hint ? static_cast<std::size_t>(*e.scheme_hint) + 1 : 0);
  if (e.auth) {
    h = mix(h, std::hash<std::string>{}(e.auth->username));
    h = mix(h, static_cast<std::size_t>(e.auth->password.kind));
    h = mix(h, std::hash<std::string>{}(e.auth->password.text));
  }
  return h;
}

}  // namespace

std::string_view name(SourceKind k) { return lookup(kSourceKindNames, k); }
std::string_view name(SchemeSlot s) { return lookup(kSlotNames, s); }
std::string_view name(ProxyScheme s) { return lookup(kSchemeNames, s); }
std::string_view name(RejectedKind k) { return lookup(kRejectedKindNames, k); }
std::string_view name(ImplicitBypass b) { return lookup(kImplicitNames, b); }
std::string_view name(PasswordState::Kind k) { return lookup(kPasswordNames, k); }
std::string_view slot_text(SchemeSlot s) { return lookup(kSlotTexts, s); }
std::string_view scheme_text(ProxyScheme s) { return lookup(kSchemeTexts, s); }

std::string url_text(const Host& host) {
  if (const auto* domain = host.as_domain()) return *domain;
  if (const auto* v4 = std::get_if<Ipv4Addr>(&host.value)) return to_string(*v4);
  return url_host_form(std::get<Ipv6Addr>(host.value));
}

std::uint64_t fnv1a64(std::string_view bytes) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char b : bytes) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  return h;
}

// ---- construction

ProxyConfig ProxyConfig::from_sources(std::vector<SourceEntry> sources) {
  ProxyConfig config;
  if (!sources.empty()) config.effective = sources.front().mode;
  config.sources = std::move(sources);
  config.captured_at = WallTime::now();
  return config;
}

ProxyConfig ProxyConfig::empty() { return from_sources({}); }

ProxyMode ProxyMode::attach_rejected(std::vector<RejectedValue> list) && {
  std::visit(
      [&](auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, Manual>) {
          for (const auto& r : list) {
            if (r.scheme && !m.per_scheme.contains(*r.scheme)) {
              m.per_scheme.emplace(*r.scheme, SchemeEntry{SchemeEntry::Unusable{r}});
            }
          }
          m.rejected = std::move(list);
        } else if constexpr (std::is_same_v<T, Pac> || std::is_same_v<T, PacInline>) {
          m.rejected = std::move(list);
        }
      },
      value);
  return std::move(*this);
}

const ProxyEndpoint* RouteStep::endpoint() const {
  return std::visit(
      [](const auto& s) -> const ProxyEndpoint* {
        if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Direct>) {
          return nullptr;
        } else {
          return &s.endpoint;
        }
      },
      value);
}

std::size_t RouteStep::hash() const {
  const ProxyEndpoint* e = endpoint();
  return mix(value.index(), e ? hash_endpoint(*e) : 0);
}

std::size_t BypassRule::hash() const {
  std::size_t h = value.index();
  std::visit(
      [&](const auto& r) {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, Cidr>) {
          h = mix(h, r.net.addr.value.index());
          std::visit([&](const auto& a) { for (auto b : a.octets) h = mix(h, b); },
                     r.net.addr.value);
          h = mix(h, r.net.prefix);
        } else if constexpr (std::is_same_v<T, Exact>) {
          h = mix(mix(h, hash_host(r.host)), hash_port(r.port));
        } else if constexpr (std::is_same_v<T, Domain>) {
          h = mix(h, std::hash<std::string>{}(r.suffix));
          h = mix(mix(h, r.match_self), hash_port(r.port));
        } else if constexpr (std::is_same_v<T, Wildcard>) {
          h = mix(mix(h, std::hash<std::string>{}(r.pattern)), hash_port(r.port));
        }
      },
      value);
  return h;
}

// ---- debug text

void debug_fmt(std::string& out, SourceKind k) { out += name(k); }
void debug_fmt(std::string& out, SchemeSlot s) { out += name(s); }
void debug_fmt(std::string& out, ProxyScheme s) { out += name(s); }
void debug_fmt(std::string& out, RejectedKind k) { out += name(k); }
void debug_fmt(std::string& out, ImplicitBypass b) { out += name(b); }
void debug_fmt(std::string& out, PasswordState::Kind k) { out += name(k); }

void debug_fmt(std::string& out, const Host& host) {
  std::visit(
      [&](const auto& h) {
        using T = std::decay_t<decltype(h)>;
        if constexpr (std::is_same_v<T, std::string>) {
          write_variant(out, "Domain", h);
        } else if constexpr (std::is_same_v<T, Ipv4Addr>) {
          write_variant(out, "Ipv4", h);
        } else {
          write_variant(out, "Ipv6", h);
        }
      },
      host.value);
}

void debug_fmt(std::string& out, const ProxyAuth& auth) {
  // A user name with a colon may be "user:password" stored whole: show what precedes it.
  std::string username = auth.username;
  if (auto colon = username.find(':'); colon != std::string::npos) {
    username = username.substr(0, colon) + ":***";
  }
  std::optional<std::string> password;
  if (auth.password.is_present()) password = "***";
  RecordBuilder(out, "ProxyAuth").field("username", username).field("password", password).finish();
}

void debug_fmt(std::string& out, const ProxyEndpoint& e) {
  RecordBuilder(out, "ProxyEndpoint")
      .field("scheme_hint", e.scheme_hint)
      .field("host", e.host)
      .field("port", e.port)
      .field("auth", e.auth)
      .finish();
}

void debug_fmt(std::string& out, const RejectedSource& source) {
  auto n = lookup(kRejectedSourceNames, source.kind);
  switch (source.kind) {
    case RejectedSource::Kind::ProxyServer:
    case RejectedSource::Kind::BypassList:
      out += n;
      break;
    default:
      write_variant(out, n, source.text);
  }
}

void debug_fmt(std::string& out, const RejectedValue& v) {
  RecordBuilder(out, "RejectedValue")
      .field("kind", v.kind)
      .field("source", v.source)
      .field("redacted_input", v.redacted_input)
      .field("scheme", v.scheme)
      .finish();
}

namespace {
struct NetText {
  const IpNet& net;
};
void debug_fmt(std::string& out, NetText n) { out += to_string(n.net); }
}  // namespace

void debug_fmt(std::string& out, const BypassRule& rule) {
  std::visit(
      [&](const auto& r) {
        using T = std::decay_t<decltype(r)>;
        if constexpr (std::is_same_v<T, BypassRule::All>) {
          out += "All";
        } else if constexpr (std::is_same_v<T, BypassRule::Local>) {
          out += "Local";
        } else if constexpr (std::is_same_v<T, BypassRule::SubtractImplicit>) {
          out += "SubtractImplicit";
        } else if constexpr (std::is_same_v<T, BypassRule::Cidr>) {
          write_variant(out, "Cidr", NetText{r.net});
        } else if constexpr (std::is_same_v<T, BypassRule::Exact>) {
          RecordBuilder(out, "Exact").field("host", r.host).field("port", r.port).finish();
        } else if constexpr (std::is_same_v<T, BypassRule::Domain>) {
          RecordBuilder(out, "Domain")
              .field("suffix", r.suffix)
              .field("match_self", r.match_self)
              .field("port", r.port)
              .finish();
        } else {
          RecordBuilder(out, "Wildcard").field("pattern", r.pattern).field("port", r.port).finish();
        }
      },
      rule.value);
}

void debug_fmt(std::string& out, const BypassRules& rules) {
  RecordBuilder(out, "BypassRules")
      .field("patterns", rules.patterns)
      .field("exclude_simple_hostnames", rules.exclude_simple_hostnames)
      .field("reversed_exceptions", rules.reversed_exceptions)
      .field("rejected", rules.rejected)
      .field("require_explicit_port", rules.require_explicit_port)
      .field("implicit", rules.implicit)
      .field("ipv4_mapped_as_ipv4", rules.ipv4_mapped_as_ipv4)
      .field("strip_trailing_dot", rules.strip_trailing_dot)
      .finish();
}

void debug_fmt(std::string& out, const SchemeEntry& entry) {
  std::visit(
      [&](const auto& e) {
        using T = std::decay_t<decltype(e)>;
        if constexpr (std::is_same_v<T, SchemeEntry::Use>) {
          write_variant(out, "Use", e.endpoint);
        } else if constexpr (std::is_same_v<T, SchemeEntry::Disabled>) {
          out += "Disabled";
        } else {
          write_variant(out, "Unusable", e.rejected);
        }
      },
      entry.value);
}

namespace {
struct Hex16 {
  std::uint64_t v;
};
void debug_fmt(std::string& out, Hex16 h) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = 60; shift >= 0; shift -= 4) out += kDigits[(h.v >> shift) & 0xf];
}
}  // namespace

void debug_fmt(std::string& out, const ProxyMode& mode) {
  std::visit(
      [&](const auto& m) {
        using T = std::decay_t<decltype(m)>;
        if constexpr (std::is_same_v<T, ProxyMode::Direct>) {
          out += "Direct";
        } else if constexpr (std::is_same_v<T, ProxyMode::WpadAutoDetect>) {
          out += "WpadAutoDetect";
        } else if constexpr (std::is_same_v<T, ProxyMode::Manual>) {
          RecordBuilder(out, "Manual")
              .field("per_scheme", m.per_scheme)
              .field("bypass", m.bypass)
              .field("rejected", m.rejected)
              .finish();
        } else if constexpr (std::is_same_v<T, ProxyMode::Pac>) {
          std::string url = util::redact_credentials(m.url.href());
          RecordBuilder(out, "Pac")
              .field("url", Unquoted{url})
              .field("rejected", m.rejected)
              .finish();
        } else {
          RecordBuilder(out, "PacInline")
              .field("len", m.script.size())
              .field("fnv1a", Hex16{fnv1a64(m.script)})
              .field("rejected", m.rejected)
              .finish();
        }
      },
      mode.value);
}

void debug_fmt(std::string& out, const SourceEntry& entry) {
  TupleBuilder(out).element(entry.kind).element(entry.mode).finish();
}

void debug_fmt(std::string& out, const ProxyConfig& config) {
  RecordBuilder(out, "ProxyConfig")
      .field("effective", config.effective)
      .field("sources", config.sources)
      .field("fallbacks", config.fallbacks)
      .field("captured_at", config.captured_at)
      .finish();
}

void debug_fmt(std::string& out, const RouteStep& step) {
  std::visit(
      [&](const auto& s) {
        using T = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<T, RouteStep::Direct>) {
          out += "Direct";
        } else if constexpr (std::is_same_v<T, RouteStep::Http>) {
          write_variant(out, "Http", s.endpoint);
        } else if constexpr (std::is_same_v<T, RouteStep::Https>) {
          write_variant(out, "Https", s.endpoint);
        } else if constexpr (std::is_same_v<T, RouteStep::Socks4>) {
          write_variant(out, "Socks4", s.endpoint);
        } else {
          write_variant(out, "Socks5", s.endpoint);
        }
      },
      step.value);
}

}  // namespace zelvane
