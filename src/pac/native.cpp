// The parts of the native engine that do not depend on its resolver, for both engines.
#include "pac/native.hpp"

#include "pac/route_entry.hpp"
#include "route/static_route.hpp"

namespace zelvane::pac {

std::optional<model::Result<std::vector<model::RouteStep>>> route_native_settled(
    const model::ProxyConfig& config, const value::Url& url) {
  using model::Error;
  using model::ProxyMode;
  const ProxyMode& mode = config.effective;
  if (mode.is<ProxyMode::PacInline>()) return std::unexpected(Error(Error::PacNotSupported{"pac-inline"}));
  if (mode.is<ProxyMode::Direct>() || mode.is<ProxyMode::Manual>()) return route::route_static(config, url);
  if (!route::has_usable_host(url)) return route::direct_route();
  return std::nullopt;
}

model::Result<std::vector<model::RouteStep>> route_native_absent(const model::ProxyConfig& config,
                                                                 const value::Url& url) {
  if (auto settled = route_native_settled(config, url)) return std::move(*settled);
  return std::unexpected(unevaluable(config.effective));
}

}  // namespace zelvane::pac
