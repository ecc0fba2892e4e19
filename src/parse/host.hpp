// Hosts: the WHATWG host parser of the special schemes, and the reading of a bare host that
// proxy addresses, bypass entries and the PAC host functions share.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "config.hpp"
#include "url.hpp"

namespace zelvane::parse {

// The host parser of the WHATWG URL Standard for special schemes (http, https, ws, wss,
// ftp, file), on the text of a host alone:
//   - "[...]": the IPv6 parser (RFC 4291 text, no zone), else InvalidIpv6Address;
//   - otherwise percent-decoding, UTS #46 ToASCII (non-strict), then InvalidDomainCharacter
//     for a forbidden domain code point, and, when the last label reads as a number, the
//     IPv4 parser (decimal, 0x hex and leading-0 octal parts, one to four of them, the last
//     filling the remaining bytes), else InvalidIpv4Address.
// ToASCII refusing the name, or mapping it to nothing (U+00AD alone), is IdnaError; an
// empty input is EmptyHost. Nothing is stripped or cut: "a\tb" and "a/b" are refused.
std::expected<Host, UrlError> parse_url_host(std::string_view input);

// A bare host as written in a proxy address or a bypass entry: Unicode white space trimmed,
// "[v6]" or a bare IPv6 address in the standard syntax, else parse_url_host. The reason
// of a failure is "missing host", "invalid IPv6 literal {}" or "invalid host {}: {}"; the
// text quoted is withheld (shown by its length only) when it holds ':' or "%3A".
std::expected<Host, std::string> parse_host(std::string_view text);

}  // namespace zelvane::parse
