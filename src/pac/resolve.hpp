// Which road answers a URL, decided once: the module's route operation asks here, with the
// engine choice, the caller's script, the WPAD switch and the policy of its call, and gets back
// what a Route holds. The roads themselves are the static route (route/static_route.hpp),
// QuickJS-ng evaluation (pac/route_entry.hpp) and the native engine (pac/native.hpp), which
// decide nothing of their own: this decides between them and runs the one it chose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "model/route_step.hpp"
#include "pac/hostfn/policy.hpp"
#include "pac/native.hpp"
#include "value/url.hpp"

namespace zelvane::pac {

// Who may evaluate a PAC setting, as the caller chose ("none", "native", "quickjs", "auto").
enum class EngineChoice : std::uint8_t { None, Native, QuickJs, Auto };
// What a route is: steps, or a PAC URL, an inline script or WPAD discovery nobody evaluated.
enum class RouteKind : std::uint8_t { Steps, Pac, PacInline, Wpad };
// Who answered: nobody (a static or unevaluated route), WinHTTP, or QuickJS-ng.
enum class EngineUsed : std::uint8_t { None, Native, QuickJs };

// The options of one route call. The module refuses before it asks here a script with the
// engine None and WPAD with None or QuickJs; such a request is answered by the rows below as
// they read (a script goes to QuickJS-ng unless the engine is Native).
struct RouteRequest {
  EngineChoice engine = EngineChoice::None;
  std::optional<std::string_view> script;  // the caller's PAC script
  bool wpad = false;                       // WPAD discovery may be asked of the native engine
  hostfn::PacPolicy policy;                // for QuickJS-ng only; the native engine has its own
};

// What a Route holds: its kind, the payload of that kind, and who answered.
struct RouteAnswer {
  RouteKind kind = RouteKind::Steps;
  std::vector<model::RouteStep> steps;   // Steps
  std::string text;                      // the PAC URL's serialisation (Pac), the script (PacInline)
  EngineUsed engine = EngineUsed::None;  // other than None only for Steps
};

// The native engine's road, as pac/native.hpp declares it (route_native).
using NativeRoad = model::Result<std::vector<model::RouteStep>> (*)(const model::ProxyConfig& config,
                                                                    const value::Url& url, bool wpad);

// The decision, on the configuration's effective mode, the URL's host (usable
// when route::has_usable_host), the caller's script (U), the engine choice (P) and the WPAD
// switch (W); the first row that applies decides:
//   1. Direct or Manual: the static route; its error is the answer.
//   2. no usable host: one Direct step.
//   3. U, P not Native: the caller's script in QuickJS-ng (pac::route_with_script), also over
//      an inline script; engine QuickJs, its error the answer.
//   4. U, P Native: PacEngineUnavailable.
//   5. PacInline, P QuickJs or Auto: the inline script in QuickJS-ng; engine QuickJs.
//   6. PacInline, P None or Native: the unevaluated PacInline route with the script.
//   7. WpadAutoDetect, W false: the unevaluated Wpad route.
//   8. Pac or WpadAutoDetect, P None or QuickJs: the unevaluated route (Pac with the PAC URL's
//      text, or Wpad).
//   9. Pac or WpadAutoDetect, P Native or Auto: `native` with W, the one question the native
//      engine is asked (so always a PAC URL or discovery, a usable host, and W true for
//      discovery); engine Native. Its PacNotSupported and PacFetchRequired (the answers of a
//      build without the engine and of a WinHTTP without its resolver) give the route of row 8;
//      any other error is the answer. A null `native` is a build without the engine: row 8's
//      route.
// Blocks while an engine runs; any thread may call it at once with others.
model::Result<RouteAnswer> resolve(const model::ProxyConfig& config, const value::Url& url,
                                   const RouteRequest& request, NativeRoad native);

// resolve with this build's native engine.
inline model::Result<RouteAnswer> resolve(const model::ProxyConfig& config, const value::Url& url,
                                          const RouteRequest& request) {
  return resolve(config, url, request, &route_native);
}

}  // namespace zelvane::pac
