// The kinds of failure the project reports for URLs and hosts it cannot parse.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zelvane::value {

enum class UrlError : std::uint8_t {
  EmptyHost,
  IdnaError,
  InvalidPort,
  InvalidIpv4Address,
  InvalidIpv6Address,
  InvalidDomainCharacter,
  RelativeUrlWithoutBase,
  RelativeUrlWithCannotBeABaseBase,
  SetHostOnCannotBeABaseUrl,
  Overflow,
};

// "empty host", "invalid port number", ...
std::string_view message(UrlError e);
// EmptyHost, InvalidPort, ...
std::string_view name(UrlError e);
void debug_fmt(std::string& out, UrlError e);

}  // namespace zelvane::value
