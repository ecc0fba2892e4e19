// The route through the operating system's own PAC resolver (WinHTTP), for pac::resolve, which
// asks it one question only (its row 9): the route of a URL with a usable host under a PAC URL
// or WPAD discovery; every other setting and URL the decision answers itself. The build chooses
// the engine: the Windows builds ask WinHTTP (pac/winhttp); a build without Windows has none
// (native_none.cpp), and a Windows whose WinHTTP has no resolver answers as that build does.
#pragma once

#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "model/mode.hpp"
#include "model/route_step.hpp"
#include "value/url.hpp"

namespace zelvane::pac {

// Whether this build has the native engine (in the Windows builds: whether the platform's
// WinHTTP has its proxy resolver).
bool native_engine_present();

// The route of `url` under `config`'s PAC URL (WinHTTP downloads and runs the script) or WPAD
// discovery, through the process-wide session for `wpad` (with wpad true, discovery falls back
// on the user's own settings; with it false, discovery is PacNotSupported "wpad"). Each session
// is created on its first use, by whichever caller comes first, and lasts until the process
// ends; a failed creation is the answer and the next call tries again. Any thread may call it
// at once with others.
//
// Without the engine the answer is what the road without a script answers (`unevaluable`),
// which pac::resolve shows as the unevaluated route. Any other setting is no question for a
// resolver: it is answered `unevaluable` too, never routed.
model::Result<std::vector<model::RouteStep>> route_native(const model::ProxyConfig& config,
                                                          const value::Url& url, bool wpad);

// ---- shared by the engines (pac/native.cpp)

// What the road without a script answers for a setting: PacFetchRequired with a PAC URL (it is
// not fetched here), else PacNotSupported naming the setting ("wpad", "pac-inline", and for the
// settings that need no script "direct" or "manual").
model::Error unevaluable(const model::ProxyMode& mode);

}  // namespace zelvane::pac
