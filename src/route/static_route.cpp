#include "route/static_route.hpp"

#include "bypass/match.hpp"

namespace zelvane::route {

using namespace model;
using namespace value;

namespace {

const SchemeEntry* entry_of(const PerScheme& map, SchemeSlot slot) {
  const auto it = map.find(slot);
  return it == map.end() ? nullptr : &it->second;
}

bool is_use(const SchemeEntry* e) {
  return e != nullptr && std::holds_alternative<SchemeEntry::Use>(e->value);
}
bool is_unusable(const SchemeEntry* e) {
  return e != nullptr && std::holds_alternative<SchemeEntry::Unusable>(e->value);
}
// Use or Disabled: an entry that decides for its slot.
bool decides(const SchemeEntry* e) { return e != nullptr && !is_unusable(e); }

}  // namespace

bool usable_host(const Host& host) {
  const std::string* name = host.as_domain();
  return name == nullptr || !name->empty();
}

bool has_usable_host(const Url& url) {
  const std::optional<Host> host = url.host();
  return host && usable_host(*host);
}

std::vector<RouteStep> direct_route() { return {RouteStep{RouteStep::Direct{}}}; }

std::optional<SchemeSlot> scheme_slot(std::string_view scheme) {
  if (scheme == "http") return SchemeSlot::Http;
  if (scheme == "https") return SchemeSlot::Https;
  if (scheme == "ftp") return SchemeSlot::Ftp;
  if (scheme == "ws" || scheme == "wss") return std::nullopt;
  if (scheme == "socks" || scheme == "socks4" || scheme == "socks4a" || scheme == "socks5" ||
      scheme == "socks5h") {
    return SchemeSlot::Socks;
  }
  return SchemeSlot::All;
}

RouteStep step_through(const ProxyEndpoint& endpoint) {
  switch (endpoint.scheme_hint.value_or(ProxyScheme::Http)) {
    case ProxyScheme::Http:
      return {RouteStep::Http{endpoint}};
    case ProxyScheme::Https:
      return {RouteStep::Https{endpoint}};
    case ProxyScheme::Socks4:
    case ProxyScheme::Socks4a:
      return {RouteStep::Socks4{endpoint}};
    case ProxyScheme::Socks5:
    case ProxyScheme::Socks5h:
      return {RouteStep::Socks5{endpoint}};
  }
  return {RouteStep::Http{endpoint}};
}

const SchemeEntry* select_slot(const ProxyMode& mode, SchemeSlot slot) {
  const auto* manual = mode.get_if<ProxyMode::Manual>();
  if (manual == nullptr) return nullptr;
  const SchemeEntry* own = entry_of(manual->per_scheme, slot);
  if (decides(own)) return own;
  const SchemeEntry* all = entry_of(manual->per_scheme, SchemeSlot::All);
  if (decides(all)) return all;
  return own != nullptr ? own : all;
}

const SchemeEntry* select_any(const ProxyMode& mode) {
  const auto* manual = mode.get_if<ProxyMode::Manual>();
  if (manual == nullptr) return nullptr;
  const SchemeEntry* unusable = nullptr;
  for (SchemeSlot slot : {SchemeSlot::Socks, SchemeSlot::Https, SchemeSlot::Http}) {
    const SchemeEntry* e = entry_of(manual->per_scheme, slot);
    if (is_use(e)) return e;
    if (unusable == nullptr && is_unusable(e)) unusable = e;
  }
  const SchemeEntry* all = entry_of(manual->per_scheme, SchemeSlot::All);
  if (decides(all)) return all;
  return unusable != nullptr ? unusable : all;
}

Result<std::vector<RouteStep>> route_static(const ProxyMode& mode, const Url& url) {
  if (mode.is<ProxyMode::Pac>()) return std::unexpected(Error::PacNotSupported{"pac"});
  if (mode.is<ProxyMode::PacInline>()) return std::unexpected(Error::PacNotSupported{"pac-inline"});
  if (mode.is<ProxyMode::WpadAutoDetect>()) return std::unexpected(Error::PacNotSupported{"wpad"});
  const auto* manual = mode.get_if<ProxyMode::Manual>();
  if (manual == nullptr) return direct_route();

  const std::optional<Host> host = url.host();
  if (!host || !usable_host(*host)) return direct_route();
  if (bypass::matches_host(manual->bypass, *host, bypass::destination_port(manual->bypass, url))) {
    return direct_route();
  }

  const std::optional<SchemeSlot> slot = scheme_slot(url.scheme());
  const SchemeEntry* entry = slot ? select_slot(mode, *slot) : select_any(mode);
  if (entry == nullptr) return direct_route();
  if (const auto* use = std::get_if<SchemeEntry::Use>(&entry->value)) {
    std::vector<RouteStep> steps;  // not an initializer list, which would copy the step again
    steps.reserve(1);
    steps.push_back(step_through(use->endpoint));
    return steps;
  }
  if (const auto* unusable = std::get_if<SchemeEntry::Unusable>(&entry->value)) {
    return std::unexpected(
        Error::ProxyEntryUnusable{unusable->rejected.scheme.value_or(SchemeSlot::All), unusable->rejected});
  }
  return direct_route();  // Disabled
}

Result<std::vector<RouteStep>> route_static(const ProxyConfig& config, const Url& url) {
  return route_static(config.effective, url);
}

}  // namespace zelvane::route
