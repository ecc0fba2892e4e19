// Where a setting was read: the kind of source, and the setting it gave.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/mode.hpp"

namespace zelvane::model {

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

struct SourceEntry {
  SourceKind kind;
  ProxyMode mode;
  friend bool operator==(const SourceEntry&, const SourceEntry&) = default;
};

// "Registry", "GroupPolicy", ...
std::string_view name(SourceKind k);

void debug_fmt(std::string& out, SourceKind k);
void debug_fmt(std::string& out, const SourceEntry& entry);

}  // namespace zelvane::model
