#include "env/env.hpp"

#include <array>
#include <memory>

#include "parse/endpoint.hpp"
#include "bypass/lists.hpp"
#include "util/redact.hpp"
#include "util/trim.hpp"
#include "util/ascii.hpp"
#include "util/utf8.hpp"

#ifdef _WIN32
#include <windows.h>
#else
extern char** environ;
#endif

namespace zelvane::env {

using namespace model;
using namespace value;

namespace {

struct ProxyVariable {
  std::string_view name;
  SchemeSlot slot;
};
// Read in this order; no variable names the Socks slot.
constexpr std::array<ProxyVariable, 4> kProxyVariables = {{
    {"http_proxy", SchemeSlot::Http},
    {"https_proxy", SchemeSlot::Https},
    {"ftp_proxy", SchemeSlot::Ftp},
    {"all_proxy", SchemeSlot::All},
}};

// In a CGI environment a client can set HTTP_PROXY through a "Proxy:" request header, so no
// variable of that name may be trusted (httpoxy).
std::optional<Error> cgi_guard(const EnvVars& vars) {
  const std::string* method = nullptr;
  if (auto it = vars.find("REQUEST_METHOD"); it != vars.end()) {
    method = &it->second;
  } else if (const auto* entry = env::find_ignore_case(vars, "REQUEST_METHOD")) {
    method = &entry->second;
  }
  if (method == nullptr || method->empty()) return std::nullopt;
  if (auto key = env::find_http_proxy_key(vars)) return Error(Error::CgiHttpProxy{std::string(*key)});
  return std::nullopt;
}

Result<EnvLayer> read_vars(const EnvVars& vars) {
  if (auto refused = cgi_guard(vars)) return std::unexpected(std::move(*refused));
  EnvLayer layer;
  for (const auto& var : kProxyVariables) {
    auto value = env::lookup(vars, var.name);
    if (!value) continue;
    std::string_view trimmed = util::trim_unicode_whitespace(*value);
    if (trimmed.empty()) {
      layer.per_scheme.insert_or_assign(var.slot, SchemeEntry{SchemeEntry::Disabled{}});
      continue;
    }
    if (auto endpoint = parse::parse_endpoint(trimmed, 80)) {
      layer.per_scheme.insert_or_assign(var.slot, SchemeEntry{SchemeEntry::Use{std::move(*endpoint)}});
    } else {
      layer.rejected.push_back({RejectedKind::InvalidProxyEndpoint,
                                RejectedSource::environment_variable(std::string(var.name)),
                                util::redact(trimmed), var.slot});
    }
  }
  layer.bypass = bypass::parse_no_proxy(lookup(vars, "no_proxy").value_or(""));
  layer.captured_at = WallTime::now();
  return layer;
}

#ifdef _WIN32
EnvVars process_vars() {
  wchar_t* block = GetEnvironmentStringsW();
  if (block == nullptr) return {};
  // Freed however the gathering ends: the block is the process's own copy.
  struct Free {
    void operator()(wchar_t* b) const noexcept { FreeEnvironmentStringsW(b); }
  };
  const std::unique_ptr<wchar_t, Free> owned(block);
  return gather_block(reinterpret_cast<const char16_t*>(block), is_read_name);
}
#else
EnvVars process_vars() {
  EnvVars vars;
  for (char** p = environ; p != nullptr && *p != nullptr; ++p) {
    std::string_view entry(*p);
    std::size_t eq = entry.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view name = entry.substr(0, eq);
    if (!util::is_valid_utf8(name)) continue;
    vars.emplace(std::string(name), util::utf8_lossy(entry.substr(eq + 1)));
  }
  return vars;
}
#endif

}  // namespace

Result<EnvLayer> read_process_env() { return read_vars(process_vars()); }

EnvVars gather_block(const char16_t* block, bool (*keep)(std::string_view name)) {
  EnvVars vars;
  if (block == nullptr) return vars;
  for (const char16_t* p = block; *p != u'\0';) {
    const std::u16string_view entry(p);
    p += entry.size() + 1;
    // The per-drive directories' names start with '=': the name's own '=' comes after it.
    const std::size_t eq = entry.find(u'=', 1);
    if (eq == std::u16string_view::npos) continue;
    auto name = util::utf16_to_utf8_strict(entry.substr(0, eq));
    if (!name || (keep != nullptr && !keep(*name))) continue;
    if (vars.contains(*name)) continue;
    vars.emplace(std::move(*name), util::utf16_to_utf8_lossy(entry.substr(eq + 1)));
  }
  return vars;
}

std::optional<EnvVars> process_block_vars() {
#ifdef _WIN32
  return process_vars();
#else
  return std::nullopt;
#endif
}

Result<EnvLayer> read_env_map(const EnvVars& vars) { return read_vars(vars); }

const EnvVars::value_type* find_ignore_case(const EnvVars& vars, std::string_view name) {
  // The map is ordered by bytes, so the first match is the smallest name.
  for (const auto& entry : vars) {
    if (util::equals_ignore_ascii_case(entry.first, name)) return &entry;
  }
  return nullptr;
}

std::optional<std::string_view> lookup(const EnvVars& vars, std::string_view name) {
  if (auto it = vars.find(std::string(name)); it != vars.end()) return it->second;
  if (auto it = vars.find(util::ascii_upper(name)); it != vars.end()) return it->second;
  if (const auto* entry = find_ignore_case(vars, name)) return entry->second;
  return std::nullopt;
}

std::optional<std::string_view> find_http_proxy_key(const EnvVars& vars) {
  if (const auto* entry = find_ignore_case(vars, "http_proxy")) return entry->first;
  return std::nullopt;
}

bool is_read_name(std::string_view name) {
  for (const auto& var : kProxyVariables) {
    if (util::equals_ignore_ascii_case(name, var.name)) return true;
  }
  return util::equals_ignore_ascii_case(name, "no_proxy") ||
         util::equals_ignore_ascii_case(name, "REQUEST_METHOD");
}

ProxyMode EnvLayer::to_mode() const& {
  if (per_scheme.empty() && rejected.empty()) return {ProxyMode::Direct{}};
  return ProxyMode{ProxyMode::Manual{per_scheme, bypass, {}}}.attach_rejected(rejected);
}

ProxyMode EnvLayer::to_mode() && {
  if (per_scheme.empty() && rejected.empty()) return {ProxyMode::Direct{}};
  return ProxyMode{ProxyMode::Manual{std::move(per_scheme), std::move(bypass), {}}}.attach_rejected(
      std::move(rejected));
}

namespace {

// Layer is const EnvLayer& (copied from) or EnvLayer (moved from).
template <class Layer>
ProxyConfig merge_layer(ProxyConfig config, Layer&& layer, Precedence precedence, WallTime taken) {
  const bool has_settings = !layer.per_scheme.empty() || !layer.bypass.patterns.empty() ||
                            layer.bypass.exclude_simple_hostnames || layer.bypass.reversed_exceptions;
  bool first = false;
  if (!has_settings) {
    if (layer.rejected.empty() && layer.bypass.rejected.empty()) return config;
  } else if (precedence == Precedence::BeforeSystem) {
    first = true;
  } else {
    bool only_env = true;
    for (const auto& s : config.sources) only_env = only_env && s.kind == SourceKind::Env;
    first = config.effective.is<ProxyMode::Direct>() && only_env;
  }
  // The source's own record: where the layer stands for Direct but refused no_proxy entries
  // (beside valid ones or alone), Direct would carry no refused values and the refusals would
  // appear in no diagnostic. The source then holds the bypass list in an empty manual mode; the
  // effective setting stays the layer's Direct.
  const bool direct = layer.per_scheme.empty() && layer.rejected.empty();
  ProxyMode recorded = direct && !layer.bypass.rejected.empty()
                           ? ProxyMode{ProxyMode::Manual{{}, std::forward<Layer>(layer).bypass, {}}}
                           : std::forward<Layer>(layer).to_mode();
  if (first) {
    config.effective = direct ? ProxyMode{ProxyMode::Direct{}} : recorded;
    config.sources.insert(config.sources.begin(), SourceEntry{SourceKind::Env, std::move(recorded)});
  } else {
    config.sources.push_back(SourceEntry{SourceKind::Env, std::move(recorded)});
  }
  config.captured_at = std::min(config.captured_at, taken);
  return config;
}

}  // namespace

ProxyConfig merge(ProxyConfig config, const EnvLayer& layer, Precedence precedence) {
  return merge_layer(std::move(config), layer, precedence, layer.captured_at);
}

ProxyConfig merge(ProxyConfig config, const EnvLayer& layer, Precedence precedence, WallTime taken) {
  return merge_layer(std::move(config), layer, precedence, taken);
}

ProxyConfig merge(ProxyConfig config, EnvLayer&& layer, Precedence precedence) {
  const WallTime taken = layer.captured_at;
  return merge_layer(std::move(config), std::move(layer), precedence, taken);
}

}  // namespace zelvane::env
