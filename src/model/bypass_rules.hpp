// Bypass rules: the destinations that go direct whatever the proxy setting, with the flags of
// the list they were read from. Parsing and the list text live in src/bypass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/rejected.hpp"
#include "value/host.hpp"
#include "value/ip.hpp"

namespace zelvane::model {

using value::Host;
using value::IpNet;

enum class ImplicitBypass : std::uint8_t { Broad, WinInet, CfNetwork, Empty };

// The style of a bypass list: the no_proxy variable's, or the Windows ProxyOverride value's.
enum class BypassDialect : std::uint8_t { NoProxyStyle, WindowsStyle };

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
  friend bool operator==(const BypassRules&, const BypassRules&) = default;
};

// "Broad", "WinInet", ...
std::string_view name(ImplicitBypass b);

void debug_fmt(std::string& out, ImplicitBypass b);
void debug_fmt(std::string& out, const BypassRule& rule);
void debug_fmt(std::string& out, const BypassRules& rules);

}  // namespace zelvane::model
