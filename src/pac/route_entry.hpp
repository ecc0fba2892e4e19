// The QuickJS-ng road of pac::resolve (its rows 3 and 5): a PAC script, the caller's or the
// snapshot's inline one, evaluated for a URL in QuickJS-ng, on the calling thread or on the
// process's PAC pool, and what the script is told of the URL.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

}  // namespace zelvane::pac
