// The route of a URL under any configuration: direct and manual settings by the static
// route, PAC scripts (the caller's or the snapshot's inline one) evaluated in QuickJS-ng, on
// the calling thread or on the process's PAC pool, and a precise error for the settings that
// cannot be evaluated here (a PAC URL to fetch, WPAD discovery).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "model/route_step.hpp"
#include "pac/hostfn/policy.hpp"
#include "value/url.hpp"

namespace zelvane::pac {

// What a PAC script (or the platform's resolver) is told of a URL: no user name, password or
// fragment, and for https and wss no path beyond "/" and no query, which may carry secrets
// of an encrypted request. Scheme, host and port stay; applying it twice changes nothing.
value::Url prepare_url(const value::Url& url);

// The host argument of FindProxyForURL: the URL's host as the URL serialises it (IPv6 in
// brackets), the empty text when it has none.
std::string script_host(const value::Url& url);

// Evaluates the script for the URL (prepared here) and the host. A policy without a timeout
// evaluates on the calling thread without a deadline; one with a timeout, zero included, on
// the process's PAC pool within that budget.
model::Result<std::vector<model::RouteStep>> evaluate_for_url(const hostfn::PacPolicy& policy,
                                                              std::string_view script, const value::Url& url,
                                                              std::string_view host);

// evaluate_for_url with the URL (which it prepares) and the host of the URL as given.
model::Result<std::vector<model::RouteStep>> route_with_script(std::string_view script, const value::Url& url,
                                                               const hostfn::PacPolicy& policy);

// What the road without a script at hand answers for a PAC URL (PacFetchRequired with the
// mode's PAC URL: it is not fetched here) or WPAD discovery (PacNotSupported "wpad"); the mode
// is one of those two.
model::Error unevaluable(const model::ProxyMode& mode);

// The route of the URL under the configuration's effective mode, the QuickJS-ng road of
// pac::resolve (pac/resolve.hpp): Direct and Manual by the static route (script and policy
// unused); a URL without a usable host one Direct step without evaluating anything; a caller's
// script evaluated under any script-based setting, ahead of the snapshot's inline script; a
// PAC URL or WPAD discovery without a script `unevaluable`.
model::Result<std::vector<model::RouteStep>> route(const model::ProxyConfig& config, const value::Url& url,
                                                   std::optional<std::string_view> script,
                                                   const hostfn::PacPolicy& policy);

}  // namespace zelvane::pac
