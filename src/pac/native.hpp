// The route through the operating system's own PAC resolver (WinHTTP), for the module. The
// build chooses the engine: the Windows builds ask WinHTTP (pac/winhttp); a build without
// Windows has none.
#pragma once

#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "model/route_step.hpp"
#include "value/url.hpp"

namespace zelvane::pac {

// Whether this build has the native engine.
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

}  // namespace zelvane::pac
