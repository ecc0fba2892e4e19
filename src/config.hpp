// The configuration model: one reading of the proxy configuration, its sources, the setting
// in force, what was refused while parsing, and the steps of a route. Plain owned values:
// copies are deep, equality is field by field, and the debug text never holds a password or
// the text of an inline script.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "ip.hpp"
#include "time.hpp"
#include "url.hpp"

namespace zelvane {

enum class SourceKind : std::uint8_t {
  Registry,
  GroupPolicy,
  WinHttpDefault,
  SystemConfigurationSetup,
  SystemConfigurationState,
  GSettings,
  Kioslaverc,
  KioslavercEnv,
  Portal,
  Env,
  ConnectivityManager,
  CfNetworkSystemSettings,
};

enum class SchemeSlot : std::uint8_t { Http, Https, Ftp, Socks, All };
inline constexpr SchemeSlot kAllSlots[] = {SchemeSlot::Http, SchemeSlot::Https, SchemeSlot::Ftp,
                                           SchemeSlot::Socks, SchemeSlot::All};

enum class ProxyScheme : std::uint8_t { Http, Https, Socks4, Socks4a, Socks5, Socks5h };

enum class RejectedKind : std::uint8_t {
  InvalidProxyEndpoint,
  InvalidBypassPattern,
  UnknownProxyScheme,
  UnsupportedMapping,
};

enum class ImplicitBypass : std::uint8_t { Broad, WinInet, CfNetwork, Empty };

// The style of a bypass list: the no_proxy variable's, or the Windows ProxyOverride value's.
enum class BypassDialect : std::uint8_t { NoProxyStyle, WindowsStyle };

struct EnvLayer;
enum class Precedence : std::uint8_t;

// Variant names, as debug text and export show them ("Registry", "Https", "Socks5h", ...).
std::string_view name(SourceKind k);
std::string_view name(SchemeSlot s);
std::string_view name(ProxyScheme s);
std::string_view name(RejectedKind k);
std::string_view name(ImplicitBypass b);
// Lower-case texts: "http", "https", "ftp", "socks", "all".
std::string_view slot_text(SchemeSlot s);
// Lower-case texts: "http", "https", "socks4", "socks4a", "socks5", "socks5h".
std::string_view scheme_text(ProxyScheme s);

struct PasswordState {
  enum class Kind : std::uint8_t { Present, Absent, NotRead, InKeychain };
  Kind kind = Kind::Absent;
  std::string text;  // the password, only for Present

  static PasswordState present(std::string password) { return {Kind::Present, std::move(password)}; }
  static PasswordState absent() { return {Kind::Absent, {}}; }
  bool is_present() const { return kind == Kind::Present; }
  friend bool operator==(const PasswordState&, const PasswordState&) = default;
};
std::string_view name(PasswordState::Kind k);

struct ProxyAuth {
  std::string username;
  PasswordState password;
  friend bool operator==(const ProxyAuth&, const ProxyAuth&) = default;
};

// A host as the host parser gives it: a lower-case ASCII domain, or an address.
struct Host {
  std::variant<std::string, Ipv4Addr, Ipv6Addr> value;

  static Host domain(std::string name) { return {std::move(name)}; }
  const std::string* as_domain() const { return std::get_if<std::string>(&value); }
  friend bool operator==(const Host&, const Host&) = default;
};

// The host as a URL writes it: a domain unchanged, IPv4 dotted, IPv6 in brackets in the URL
// serialiser's form.
std::string url_text(const Host& host);

struct ProxyEndpoint {
  std::optional<ProxyScheme> scheme_hint;
  Host host;
  std::uint16_t port = 0;
  std::optional<ProxyAuth> auth;
  friend bool operator==(const ProxyEndpoint&, const ProxyEndpoint&) = default;
};

struct RejectedSource {
  enum class Kind : std::uint8_t {
    ProxyServer,
    BypassList,
    EnvironmentVariable,
    Kioslaverc,
    GSettings,
    SystemConfiguration,
    ProxyInfo,
  };
  Kind kind = Kind::ProxyServer;
  std::string text;  // the variable name or setting text of the variants that carry one

  static RejectedSource proxy_server() { return {Kind::ProxyServer, {}}; }
  static RejectedSource bypass_list() { return {Kind::BypassList, {}}; }
  static RejectedSource environment_variable(std::string name) {
    return {Kind::EnvironmentVariable, std::move(name)};
  }
  friend bool operator==(const RejectedSource&, const RejectedSource&) = default;
};

struct RejectedValue {
  RejectedKind kind = RejectedKind::InvalidProxyEndpoint;
  RejectedSource source;
  std::string redacted_input;
  std::optional<SchemeSlot> scheme;
  friend bool operator==(const RejectedValue&, const RejectedValue&) = default;
};

struct BypassRule {
  struct All {
    friend bool operator==(const All&, const All&) = default;
  };
  struct Cidr {
    IpNet net;
    friend bool operator==(const Cidr&, const Cidr&) = default;
  };
  struct Exact {
    Host host;
    std::optional<std::uint16_t> port;
    friend bool operator==(const Exact&, const Exact&) = default;
  };
  struct Domain {
    std::string suffix;
    bool match_self = false;
    std::optional<std::uint16_t> port;
    friend bool operator==(const Domain&, const Domain&) = default;
  };
  struct Wildcard {
    std::string pattern;
    std::optional<std::uint16_t> port;
    friend bool operator==(const Wildcard&, const Wildcard&) = default;
  };
  struct Local {
    friend bool operator==(const Local&, const Local&) = default;
  };
  struct SubtractImplicit {
    friend bool operator==(const SubtractImplicit&, const SubtractImplicit&) = default;
  };

  std::variant<All, Cidr, Exact, Domain, Wildcard, Local, SubtractImplicit> value;

  // Consistent with ==, for the de-duplication of a list.
  std::size_t hash() const;
  // The list text of the rule, as the export writes it (src/bypass).
  std::string to_text() const;
  friend bool operator==(const BypassRule&, const BypassRule&) = default;
};

struct BypassRules {
  std::vector<BypassRule> patterns;
  bool exclude_simple_hostnames = false;
  bool reversed_exceptions = false;
  std::vector<RejectedValue> rejected;
  bool require_explicit_port = false;
  ImplicitBypass implicit = ImplicitBypass::Broad;
  bool ipv4_mapped_as_ipv4 = false;
  bool strip_trailing_dot = false;

  // Every character of `separators` (all ASCII) ends an entry. Never fails (src/bypass).
  static BypassRules parse(std::string_view text, std::string_view separators,
                           BypassDialect dialect);
  friend bool operator==(const BypassRules&, const BypassRules&) = default;
};

struct SchemeEntry {
  struct Use {
    ProxyEndpoint endpoint;
    friend bool operator==(const Use&, const Use&) = default;
  };
  struct Disabled {
    friend bool operator==(const Disabled&, const Disabled&) = default;
  };
  struct Unusable {
    RejectedValue rejected;
    friend bool operator==(const Unusable&, const Unusable&) = default;
  };

  std::variant<Use, Disabled, Unusable> value;
  friend bool operator==(const SchemeEntry&, const SchemeEntry&) = default;
};

// Keyed by slot, so equality and debug text never depend on the order entries were added in.
using PerScheme = std::map<SchemeSlot, SchemeEntry>;

struct ProxyMode {
  struct Direct {
    friend bool operator==(const Direct&, const Direct&) = default;
  };
  struct Manual {
    PerScheme per_scheme;
    BypassRules bypass;
    std::vector<RejectedValue> rejected;
    friend bool operator==(const Manual&, const Manual&) = default;
  };
  struct Pac {
    Url url;
    std::vector<RejectedValue> rejected;
    friend bool operator==(const Pac&, const Pac&) = default;
  };
  struct PacInline {
    std::string script;
    std::vector<RejectedValue> rejected;
    friend bool operator==(const PacInline&, const PacInline&) = default;
  };
  struct WpadAutoDetect {
    friend bool operator==(const WpadAutoDetect&, const WpadAutoDetect&) = default;
  };

  std::variant<Direct, Manual, Pac, PacInline, WpadAutoDetect> value;

  template <class T>
  bool is() const {
    return std::holds_alternative<T>(value);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&value);
  }

  // Enters each refused value that names an empty slot as that slot's Unusable entry (the
  // first one wins) and makes the list the mode's rejected list; Direct and WpadAutoDetect
  // drop the list.
  ProxyMode attach_rejected(std::vector<RejectedValue> list) &&;
  friend bool operator==(const ProxyMode&, const ProxyMode&) = default;
};

struct SourceEntry {
  SourceKind kind;
  ProxyMode mode;
  friend bool operator==(const SourceEntry&, const SourceEntry&) = default;
};

struct ProxyConfig {
  ProxyMode effective;
  std::vector<SourceEntry> sources;
  std::vector<SourceKind> fallbacks;
  WallTime captured_at;

  // effective = a copy of the first source's mode (Direct without sources), captured now.
  static ProxyConfig from_sources(std::vector<SourceEntry> sources);
  static ProxyConfig empty();
  // Joins an environment layer into a reading by precedence (Ignore never reaches it).
  static ProxyConfig merge_env(ProxyConfig config, const EnvLayer& layer, Precedence precedence);

  // Two readings with the same content are equal whenever they were taken.
  friend bool operator==(const ProxyConfig& a, const ProxyConfig& b) {
    return a.effective == b.effective && a.sources == b.sources && a.fallbacks == b.fallbacks;
  }
};

struct RouteStep {
  struct Direct {
    friend bool operator==(const Direct&, const Direct&) = default;
  };
  struct Http {
    ProxyEndpoint endpoint;
    friend bool operator==(const Http&, const Http&) = default;
  };
  struct Https {
    ProxyEndpoint endpoint;
    friend bool operator==(const Https&, const Https&) = default;
  };
  struct Socks4 {
    ProxyEndpoint endpoint;
    friend bool operator==(const Socks4&, const Socks4&) = default;
  };
  struct Socks5 {
    ProxyEndpoint endpoint;
    friend bool operator==(const Socks5&, const Socks5&) = default;
  };

  std::variant<Direct, Http, Https, Socks4, Socks5> value;

  // The endpoint of a proxy step; null for Direct.
  const ProxyEndpoint* endpoint() const;
  std::size_t hash() const;
  // The proxy URL of the step, credentials included; none for Direct or an endpoint that
  // makes no URL (src/parse).
  std::optional<Url> proxy_url() const;
  friend bool operator==(const RouteStep&, const RouteStep&) = default;
};

// The 64-bit FNV-1a hash that stands for an inline script in debug text.
std::uint64_t fnv1a64(std::string_view bytes);

void debug_fmt(std::string& out, SourceKind k);
void debug_fmt(std::string& out, SchemeSlot s);
void debug_fmt(std::string& out, ProxyScheme s);
void debug_fmt(std::string& out, RejectedKind k);
void debug_fmt(std::string& out, ImplicitBypass b);
void debug_fmt(std::string& out, PasswordState::Kind k);
void debug_fmt(std::string& out, const Host& host);
void debug_fmt(std::string& out, const ProxyAuth& auth);
void debug_fmt(std::string& out, const ProxyEndpoint& endpoint);
void debug_fmt(std::string& out, const RejectedSource& source);
void debug_fmt(std::string& out, const RejectedValue& value);
void debug_fmt(std::string& out, const BypassRule& rule);
void debug_fmt(std::string& out, const BypassRules& rules);
void debug_fmt(std::string& out, const SchemeEntry& entry);
void debug_fmt(std::string& out, const ProxyMode& mode);
void debug_fmt(std::string& out, const SourceEntry& entry);
void debug_fmt(std::string& out, const ProxyConfig& config);
void debug_fmt(std::string& out, const RouteStep& step);

}  // namespace zelvane
