// Proxy addresses: [scheme://][user[:password]@]host[:port], and the proxy URL of a route step.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/endpoint.hpp"
#include "model/error.hpp"
#include "model/route_step.hpp"
#include "value/url.hpp"

namespace zelvane::parse {

// InvalidProxyServer with a reason, or UnsupportedProxyScheme.
model::Result<model::ProxyEndpoint> parse_endpoint(std::string_view text, std::uint16_t default_port);
model::Result<model::ProxyScheme> parse_scheme(std::string_view text);
std::optional<model::SchemeSlot> parse_scheme_slot(std::string_view text);
std::optional<std::uint16_t> default_port(std::optional<std::uint16_t> explicit_port,
                                          std::optional<model::ProxyScheme> hint);

// The proxy URL of a step, credentials included; none for Direct or an endpoint that makes no
// URL.
std::optional<value::Url> proxy_url(const model::RouteStep& step);
// The serialisation of proxy_url(step), made without parsing it again where the parser could
// change nothing.
std::optional<std::string> proxy_url_text(const model::RouteStep& step);

}  // namespace zelvane::parse
