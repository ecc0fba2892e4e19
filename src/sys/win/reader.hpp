// Reading the Windows proxy configuration into a ProxyConfig with its sources and fallbacks,
// and the user's own settings that WPAD discovery falls back on.
#pragma once

#include <optional>
#include <string>

#include "model/config.hpp"
#include "model/error.hpp"
#include "sys/reader.hpp"

namespace zelvane::sys::win {

class Platform;
class RegKey;

// The group-policy (unless options.group_policy is off), current-user and WinHTTP-default
// steps, in that order.
model::Result<model::ProxyConfig> read_windows_config(const ReadOptions& options);
model::Result<model::ProxyConfig> read_windows_config(Platform& platform, const ReadOptions& options);

// None when the key holds no proxy settings.
model::Result<std::optional<model::ProxyMode>> read_internet_settings(const RegKey& key);
model::Result<model::ProxyMode> ie_settings_to_mode(bool auto_detect,
                                                    const std::optional<std::string>& pac_url,
                                                    const std::optional<std::string>& proxy,
                                                    const std::optional<std::string>& bypass);

// What the native engine needs of the user's own settings when it asks for discovery.
struct WpadFallback {
  std::optional<value::Url> auto_config_url;
  model::ProxyMode manual{model::ProxyMode::Direct{}};  // Manual or Direct
};
model::Result<WpadFallback> read_wpad_fallback();
model::Result<WpadFallback> read_wpad_fallback(Platform& platform);
WpadFallback wpad_fallback_from_strings(const std::optional<std::string>& pac_url,
                                        const std::optional<std::string>& proxy,
                                        const std::optional<std::string>& bypass);
}  // namespace zelvane::sys::win
