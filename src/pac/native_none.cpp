// A build without Windows: no native engine. What it would have asked WinHTTP is refused the
// way the road without a script refuses it, so that callers show an unevaluated route.
#include "pac/native.hpp"
#include "route/static_route.hpp"

namespace zelvane::pac {

bool native_engine_present() { return false; }

model::Result<std::vector<model::RouteStep>> route_native(const model::ProxyConfig& config,
                                                          const value::Url& url, bool) {
  using model::Error;
  using model::ProxyMode;
  const ProxyMode& mode = config.effective;
  if (mode.is<ProxyMode::PacInline>()) return std::unexpected(Error(Error::PacNotSupported{"pac-inline"}));
  if (mode.is<ProxyMode::Direct>() || mode.is<ProxyMode::Manual>()) return route::route_static(config, url);
  const std::optional<value::Host> host = url.host();
  const bool usable = host && (host->as_domain() == nullptr || !host->as_domain()->empty());
  if (!usable) return std::vector<model::RouteStep>{model::RouteStep{model::RouteStep::Direct{}}};
  if (const auto* pac = mode.get_if<ProxyMode::Pac>())
    return std::unexpected(Error(Error::PacFetchRequired{pac->url}));
  return std::unexpected(Error(Error::PacNotSupported{"wpad"}));
}

}  // namespace zelvane::pac
