// Whether a destination bypasses the proxy under a bypass list: the listed rules, tried from
// the last to the first, and the list's implicit set of loopback names and addresses. The
// functions only read the rules; a match allocates nothing per rule.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/bypass_rules.hpp"
#include "value/host.hpp"
#include "value/url.hpp"

namespace zelvane::bypass {

// The text every name comparison is made on: IPv4 dotted decimal, IPv6 in RFC 5952 form
// without brackets, a domain in ASCII (non-ASCII labels in their punycode form when they have
// one) with its ASCII letters lower-cased.
std::string host_key(const value::Host& host);

// Whether the host is one of the names or addresses of the implicit set. An IPv4-mapped IPv6
// address is tested as the IPv6 address it is.
bool implicit_contains(model::ImplicitBypass set, const value::Host& host);

// The port a rule's port is compared with: the URL's own; without one, unless the rules
// require an explicit port, 80 for http and ws, 443 for https and wss, 21 for ftp; none for
// any other scheme.
std::optional<std::uint16_t> destination_port(const model::BypassRules& rules, const value::Url& url);

// True when the destination is reached without the proxy. A URL without a host, or with an
// empty one, never bypasses.
bool matches(const model::BypassRules& rules, const value::Url& url);
bool matches_host(const model::BypassRules& rules, const value::Host& host,
                  std::optional<std::uint16_t> port);

}  // namespace zelvane::bypass
