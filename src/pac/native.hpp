// The route through the operating system's own PAC resolver (WinHTTP), for the module. The
// build chooses the engine: the Windows builds ask WinHTTP (pac/winhttp); a build without
// Windows has none (native_none.cpp), and a Windows whose WinHTTP has no resolver answers as
// that build does.
#pragma once

#include <optional>
#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "model/route_step.hpp"
#include "value/url.hpp"

namespace zelvane::pac {

// Whether this build has the native engine (in the Windows builds: whether the platform's
// WinHTTP has its proxy resolver).
bool native_engine_present();

// The route of `url` under `config` through the process-wide session for `wpad` (with wpad
// true, WPAD discovery falls back on the user's own settings; with it false, discovery is
// PacNotSupported "wpad"). Each session is created on its first use, by whichever caller
// comes first, and lasts until the process ends; a failed creation is the answer and the
// next call tries again. Any thread may call it at once with others.
//
// Without the native engine, what the engine cannot evaluate is answered as the road that has
// no script at hand answers it: PacFetchRequired with the PAC URL, PacNotSupported "wpad" or
// "pac-inline"; direct and manual settings, and URLs without a usable host, are routed as the
// engine routes them.
model::Result<std::vector<model::RouteStep>> route_native(const model::ProxyConfig& config,
                                                          const value::Url& url, bool wpad);

// ---- shared by the engines (pac/native.cpp)

// What the native engine answers without asking a resolver: an inline script (which no
// resolver takes) PacNotSupported "pac-inline", host or not; a direct or manual setting its
// static route; a PAC URL or WPAD discovery for a URL without a usable host one Direct step.
// None for a PAC URL or WPAD discovery with a usable host: the resolver's question.
std::optional<model::Result<std::vector<model::RouteStep>>> route_native_settled(
    const model::ProxyConfig& config, const value::Url& url);

// route_native without the engine: route_native_settled, else pac::unevaluable (the PAC route
// entry's road without a script: PacFetchRequired with the PAC URL, PacNotSupported "wpad").
model::Result<std::vector<model::RouteStep>> route_native_absent(const model::ProxyConfig& config,
                                                                 const value::Url& url);

}  // namespace zelvane::pac
