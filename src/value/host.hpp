// Hosts: the value (a domain or an address), the WHATWG host parser of the special schemes, and
// the reading of a bare host that proxy addresses, bypass entries and the PAC host functions
// share.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include <variant>

#include "value/ip.hpp"
#include "value/url_error.hpp"

namespace zelvane::value {

// A host as the host parser gives it: a lower-case ASCII domain, or an address.
struct Host {
  std::variant<std::string, Ipv4Addr, Ipv6Addr> value;

  static Host domain(std::string name) { return {std::move(name)}; }
  const std::string* as_domain() const { return std::get_if<std::string>(&value); }
  friend bool operator==(const Host&, const Host&) = default;
};

// The host as a URL writes it: a domain unchanged, IPv4 dotted, IPv6 in brackets in the URL
// serialiser's form.
std::string url_text(const Host& host);

void debug_fmt(std::string& out, const Host& host);

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

}  // namespace zelvane::value
