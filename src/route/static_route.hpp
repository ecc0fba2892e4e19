// The route of a URL under a setting that needs no script: direct, or one step through the
// proxy of the slot that the URL's scheme selects. Script-based settings are refused here;
// the PAC road deals with them before it comes this way.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "model/route_step.hpp"
#include "value/url.hpp"

namespace zelvane::route {

// Whether a URL has a host to route by: one that is there and is not an empty domain (a
// "mailto:" URL has none, a non-special "foo:///x" an empty one). Every road that looks at the
// host asks this.
bool has_usable_host(const value::Url& url);
// The second half of it: the host is not an empty domain.
bool usable_host(const value::Host& host);

// The route of one Direct step.
std::vector<model::RouteStep> direct_route();

// http, https and ftp their own slots, the socks schemes (socks, socks4, socks4a, socks5,
// socks5h) Socks, any other scheme All; none for ws and wss, which no single slot serves
// (select_any).
std::optional<model::SchemeSlot> scheme_slot(std::string_view scheme);

// The step through an endpoint, of the kind its hint names (no hint: Http; Socks4a: Socks4;
// Socks5h: Socks5); the endpoint is copied whole, hint included.
model::RouteStep step_through(const model::ProxyEndpoint& endpoint);

// The entry that serves a slot of a Manual mode: the slot's own when it is Use or Disabled,
// else All's when that is; else the first Unusable of the two. Null for any other mode and
// when neither has an entry.
const model::SchemeEntry* select_slot(const model::ProxyMode& mode, model::SchemeSlot slot);

// The entry that serves a ws or wss URL: the first Use of Socks, Https, Http (Disabled ones
// passed over), else All's when Use or Disabled, else the first Unusable of those three, else
// All's Unusable. Null for any other mode and when none applies.
const model::SchemeEntry* select_any(const model::ProxyMode& mode);

// Exactly one step, or PacNotSupported for a script-based setting (before the URL is looked
// at), or ProxyEntryUnusable when the entry that would serve the URL was refused.
model::Result<std::vector<model::RouteStep>> route_static(const model::ProxyMode& mode,
                                                          const value::Url& url);
// route_static of the configuration's effective mode.
model::Result<std::vector<model::RouteStep>> route_static(const model::ProxyConfig& config,
                                                          const value::Url& url);

}  // namespace zelvane::route
