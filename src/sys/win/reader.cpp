#include "sys/win/reader.hpp"

#include "bypass/lists.hpp"
#include "sys/win/platform.hpp"
#include "sys/win/registry.hpp"
#include "sys/win/win32util.hpp"
#include "util/redact.hpp"
#include "util/trim.hpp"

namespace zelvane::sys::win {

using namespace model;
using namespace value;

namespace {

constexpr std::string_view kPolicyPath =
    "Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr std::string_view kUserPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// WinHTTP's "not found", as the HRESULT of ERROR_FILE_NOT_FOUND.
constexpr std::int32_t kHresultFileNotFound = static_cast<std::int32_t>(0x80070002u);

std::string_view trimmed(const std::optional<std::string>& text) {
  return text ? util::trim_unicode_whitespace(*text) : std::string_view();
}

// The five values of an Internet Settings key, each read to its end before the next.
struct InternetSettings {
  std::optional<std::uint32_t> proxy_enable;
  std::optional<std::string> proxy_server, proxy_override, auto_config_url;
  std::optional<std::uint32_t> auto_detect;
};

Result<InternetSettings> read_values(const RegKey& key, bool with_auto_detect) {
  InternetSettings s;
  auto enable = key.read_dword("ProxyEnable");
  if (!enable) return std::unexpected(std::move(enable.error()));
  s.proxy_enable = *enable;
  auto server = key.read_string("ProxyServer");
  if (!server) return std::unexpected(std::move(server.error()));
  s.proxy_server = std::move(*server);
  auto bypass = key.read_string("ProxyOverride");
  if (!bypass) return std::unexpected(std::move(bypass.error()));
  s.proxy_override = std::move(*bypass);
  auto url = key.read_string("AutoConfigURL");
  if (!url) return std::unexpected(std::move(url.error()));
  s.auto_config_url = std::move(*url);
  if (with_auto_detect) {
    auto detect = key.read_dword("AutoDetect");
    if (!detect) return std::unexpected(std::move(detect.error()));
    s.auto_detect = *detect;
  }
  return s;
}

// The proxy text counts only while ProxyEnable is exactly 1.
std::optional<std::string> enabled_server(const InternetSettings& s) {
  return s.proxy_enable == 1u ? s.proxy_server : std::nullopt;
}

ProxyMode manual_or_direct(const std::optional<std::string>& proxy,
                           const std::optional<std::string>& bypass) {
  std::string_view server = trimmed(proxy);
  if (server.empty()) return {ProxyMode::Direct{}};
  return bypass::parse_proxy_settings(server, bypass ? std::string_view(*bypass) : std::string_view());
}

// Group policy: any failure, a refused URL included, is only listed.
void read_group_policy(Platform& platform, std::vector<SourceEntry>& sources_out,
                       std::vector<SourceKind>& fallbacks) {
  auto key = RegKey::open(platform, kHkeyLocalMachine, kPolicyPath, kKeyRead,
                          "opening HKLM group policy Internet Settings key");
  if (!key) {
    fallbacks.push_back(SourceKind::GroupPolicy);
    return;
  }
  if (!*key) return;
  auto mode = read_internet_settings(**key);
  (*key)->release();
  if (!mode) {
    fallbacks.push_back(SourceKind::GroupPolicy);
  } else if (*mode) {
    sources_out.push_back({SourceKind::GroupPolicy, std::move(**mode)});
  }
}

Result<ProxyMode> read_current_user(Platform& platform, std::vector<SourceKind>& fallbacks) {
  IeProxyConfig ie;
  CallResult call = platform.winhttp_get_ie_proxy_config_for_current_user(ie);
  if (call.ok) {
    return ie_settings_to_mode(ie.auto_detect, wide_to_string(ie.auto_config_url), wide_to_string(ie.proxy),
                               wide_to_string(ie.proxy_bypass));
  }
  if (hresult_from_win32(call.last_error) != kHresultFileNotFound) {
    fallbacks.push_back(SourceKind::Registry);
  }
  auto key =
      RegKey::open(platform, kHkeyCurrentUser, kUserPath, kKeyRead, "opening HKCU Internet Settings key");
  if (!key) return std::unexpected(std::move(key.error()));
  if (!*key) return ProxyMode{ProxyMode::Direct{}};
  auto mode = read_internet_settings(**key);
  (*key)->release();
  if (!mode) return std::unexpected(std::move(mode.error()));
  if (!*mode) return ProxyMode{ProxyMode::Direct{}};
  return std::move(**mode);
}

void read_winhttp_default(Platform& platform, std::vector<SourceEntry>& sources_out,
                          std::vector<SourceKind>& fallbacks) {
  ProxyInfo info;
  CallResult call = platform.winhttp_get_default_proxy_configuration(info);
  if (!call.ok) {
    if (hresult_from_win32(call.last_error) != kHresultFileNotFound) {
      fallbacks.push_back(SourceKind::WinHttpDefault);
    }
    return;
  }
  ProxyMode mode{ProxyMode::Direct{}};
  if (info.access_type == kWinHttpAccessTypeNamedProxy) {
    mode = manual_or_direct(wide_to_string(info.proxy), wide_to_string(info.proxy_bypass));
  }
  sources_out.push_back({SourceKind::WinHttpDefault, std::move(mode)});
}

}  // namespace

Result<ProxyConfig> read_windows_config(Platform& platform, const ReadOptions& options) {
  std::vector<SourceKind> fallbacks;
  std::vector<SourceEntry> policy;
  if (options.group_policy) read_group_policy(platform, policy, fallbacks);
  auto user = read_current_user(platform, fallbacks);
  if (!user) return std::unexpected(std::move(user.error()));
  std::vector<SourceEntry> others;
  read_winhttp_default(platform, others, fallbacks);

  std::vector<SourceEntry> sources;
  sources.push_back({SourceKind::Registry, std::move(*user)});
  for (auto& s : policy) sources.push_back(std::move(s));
  for (auto& s : others) sources.push_back(std::move(s));
  ProxyConfig config = ProxyConfig::from_sources(std::move(sources));
  config.fallbacks = std::move(fallbacks);
  return config;
}

Result<ProxyConfig> read_windows_config(const ReadOptions& options) {
  return read_windows_config(default_platform(), options);
}

Result<std::optional<ProxyMode>> read_internet_settings(const RegKey& key) {
  auto values = read_values(key, true);
  if (!values) return std::unexpected(std::move(values.error()));
  const InternetSettings& s = *values;
  if (!s.proxy_enable && !s.auto_detect && trimmed(s.auto_config_url).empty()) {
    return std::optional<ProxyMode>();
  }
  auto mode =
      ie_settings_to_mode(s.auto_detect == 1u, s.auto_config_url, enabled_server(s), s.proxy_override);
  if (!mode) return std::unexpected(std::move(mode.error()));
  return std::optional<ProxyMode>(std::move(*mode));
}

Result<ProxyMode> ie_settings_to_mode(bool auto_detect, const std::optional<std::string>& pac_url,
                                      const std::optional<std::string>& proxy,
                                      const std::optional<std::string>& bypass) {
  if (auto_detect) return ProxyMode{ProxyMode::WpadAutoDetect{}};
  if (std::string_view url = trimmed(pac_url); !url.empty()) {
    auto parsed = Url::parse(url);
    if (!parsed) {
      return std::unexpected(Error(Error::InvalidProxyUrl{util::redact(url), parsed.error()}));
    }
    return ProxyMode{ProxyMode::Pac{std::move(*parsed), {}}};
  }
  return manual_or_direct(proxy, bypass);
}

WpadFallback wpad_fallback_from_strings(const std::optional<std::string>& pac_url,
                                        const std::optional<std::string>& proxy,
                                        const std::optional<std::string>& bypass) {
  WpadFallback fallback;
  if (std::string_view url = trimmed(pac_url); !url.empty()) {
    if (auto parsed = Url::parse(url)) fallback.auto_config_url = std::move(*parsed);
  }
  fallback.manual = manual_or_direct(proxy, bypass);
  return fallback;
}

Result<WpadFallback> read_wpad_fallback(Platform& platform) {
  IeProxyConfig ie;
  if (platform.winhttp_get_ie_proxy_config_for_current_user(ie).ok) {
    return wpad_fallback_from_strings(wide_to_string(ie.auto_config_url), wide_to_string(ie.proxy),
                                      wide_to_string(ie.proxy_bypass));
  }
  auto key = RegKey::open(platform, kHkeyCurrentUser, kUserPath, kKeyRead,
                          "opening HKCU Internet Settings key for the WPAD fallback");
  if (!key) return std::unexpected(std::move(key.error()));
  if (!*key) return WpadFallback{};
  auto values = read_values(**key, false);
  (*key)->release();
  if (!values) return std::unexpected(std::move(values.error()));
  return wpad_fallback_from_strings(values->auto_config_url, enabled_server(*values), values->proxy_override);
}

Result<WpadFallback> read_wpad_fallback() { return read_wpad_fallback(default_platform()); }

}  // namespace zelvane::sys::win

namespace zelvane::sys {

model::Result<model::ProxyConfig> read_system(const ReadOptions& options) {
  return win::read_windows_config(options);
}

bool has_system_reader() { return true; }

}  // namespace zelvane::sys
