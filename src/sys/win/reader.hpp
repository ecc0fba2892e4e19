// Reading the Windows proxy configuration into a ProxyConfig with its sources and fallbacks,
// and the user's own settings that WPAD discovery falls back on.
#pragma once

#include <optional>
#include <string>

#include "config.hpp"
#include "error.hpp"
#include "watch.hpp"

namespace zelvane::sys::win {

class Platform;
class RegKey;

// The entry of read(): group policy on. Answers Unsupported where there is no system reader.
Result<ProxyConfig> read_windows_config_default();

#ifndef ZELVANE_PLATFORM_none
// The group-policy, current-user and WinHTTP-default steps, in that order; only
// options.group_policy is read.
Result<ProxyConfig> read_windows_config(const WatchOptions& options);
Result<ProxyConfig> read_windows_config(Platform& platform, const WatchOptions& options);

// None when the key holds no proxy settings.
Result<std::optional<ProxyMode>> read_internet_settings(const RegKey& key);
Result<ProxyMode> ie_settings_to_mode(bool auto_detect, const std::optional<std::string>& pac_url,
                                      const std::optional<std::string>& proxy,
                                      const std::optional<std::string>& bypass);

// What the native engine needs of the user's own settings when it asks for discovery.
struct WpadFallback {
  std::optional<Url> auto_config_url;
  ProxyMode manual{ProxyMode::Direct{}};  // Manual or Direct
};
Result<WpadFallback> read_wpad_fallback();
Result<WpadFallback> read_wpad_fallback(Platform& platform);
WpadFallback wpad_fallback_from_strings(const std::optional<std::string>& pac_url,
                                        const std::optional<std::string>& proxy,
                                        const std::optional<std::string>& bypass);
#endif

}  // namespace zelvane::sys::win
