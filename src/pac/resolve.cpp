#include "pac/resolve.hpp"

#include <utility>

#include "pac/route_entry.hpp"
#include "route/static_route.hpp"

namespace zelvane::pac {
namespace {

using model::Error;
using model::ProxyMode;
using model::Result;
using model::RouteStep;

Result<RouteAnswer> steps_of(Result<std::vector<RouteStep>> steps, EngineUsed engine) {
  if (!steps) return std::unexpected(std::move(steps.error()));
  return RouteAnswer{RouteKind::Steps, std::move(*steps), {}, engine};
}

// The road of a PAC URL or WPAD discovery that nobody evaluates.
RouteAnswer unevaluated(const ProxyMode& mode) {
  if (const auto* pac = mode.get_if<ProxyMode::Pac>()) {
    return RouteAnswer{RouteKind::Pac, {}, pac->url.href(), EngineUsed::None};
  }
  return RouteAnswer{RouteKind::Wpad, {}, {}, EngineUsed::None};
}

}  // namespace

Result<RouteAnswer> resolve(const model::ProxyConfig& config, const value::Url& url,
                            const RouteRequest& request, NativeRoad native) {
  const ProxyMode& mode = config.effective;
  // 1: no script is needed.
  if (mode.is<ProxyMode::Direct>() || mode.is<ProxyMode::Manual>()) {
    return steps_of(route::route_static(mode, url), EngineUsed::None);
  }
  // 2: nothing to ask a script about.
  if (!route::has_usable_host(url)) return steps_of(route::direct_route(), EngineUsed::None);
  const bool by_quickjs = request.engine == EngineChoice::QuickJs || request.engine == EngineChoice::Auto;
  if (request.script) {
    // 3 and 4: the caller's script, which only QuickJS-ng runs.
    if (request.engine == EngineChoice::Native) return std::unexpected(Error(Error::PacEngineUnavailable{}));
    return steps_of(route_with_script(*request.script, url, request.policy), EngineUsed::QuickJs);
  }
  if (const auto* inline_pac = mode.get_if<ProxyMode::PacInline>()) {
    // 5 and 6.
    if (by_quickjs)
      return steps_of(route_with_script(inline_pac->script, url, request.policy), EngineUsed::QuickJs);
    return RouteAnswer{RouteKind::PacInline, {}, inline_pac->script, EngineUsed::None};
  }
  // 7: discovery the caller did not ask for.
  if (mode.is<ProxyMode::WpadAutoDetect>() && !request.wpad) return unevaluated(mode);
  // 8: a PAC URL or discovery without the native engine.
  if (request.engine == EngineChoice::None || request.engine == EngineChoice::QuickJs || native == nullptr) {
    return unevaluated(mode);
  }
  // 9: the operating system's resolver.
  auto steps = native(config, url, request.wpad);
  if (!steps) {
    const Error& e = steps.error();
    if (e.get_if<Error::PacNotSupported>() || e.get_if<Error::PacFetchRequired>()) return unevaluated(mode);
    return std::unexpected(std::move(steps.error()));
  }
  return steps_of(std::move(*steps), EngineUsed::Native);
}

}  // namespace zelvane::pac
