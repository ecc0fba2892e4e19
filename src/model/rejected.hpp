// A value refused while reading a setting: what kind of refusal, where the value came from, and
// its text with any credential redacted.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/scheme.hpp"

namespace zelvane::model {

enum class RejectedKind : std::uint8_t {
  InvalidProxyEndpoint,
  InvalidBypassPattern,
  UnknownProxyScheme,
  UnsupportedMapping,
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

// "InvalidProxyEndpoint", ...
std::string_view name(RejectedKind k);

void debug_fmt(std::string& out, RejectedKind k);
void debug_fmt(std::string& out, const RejectedSource& source);
void debug_fmt(std::string& out, const RejectedValue& value);

}  // namespace zelvane::model
