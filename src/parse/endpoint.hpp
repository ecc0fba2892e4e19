// Proxy addresses: [scheme://][user[:password]@]host[:port], and back to a proxy URL
// (RouteStep::proxy_url of the model is defined here).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "config.hpp"
#include "error.hpp"
#include "url.hpp"

namespace zelvane::parse {

// InvalidProxyServer with a reason, or UnsupportedProxyScheme.
Result<ProxyEndpoint> parse_endpoint(std::string_view text, std::uint16_t default_port);
Result<ProxyScheme> parse_scheme(std::string_view text);
std::optional<SchemeSlot> parse_scheme_slot(std::string_view text);
std::optional<std::uint16_t> default_port(std::optional<std::uint16_t> explicit_port,
                                          std::optional<ProxyScheme> hint);

}  // namespace zelvane::parse
