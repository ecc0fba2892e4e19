// A parsed URL (WHATWG URL Standard, through ada), held by its serialisation, and the kinds of
// failure the project reports for URLs it cannot parse.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

namespace zelvane {

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

class Url {
 public:
  // Parses an absolute URL; a failure is classified into one of the kinds above.
  static std::expected<Url, UrlError> parse(std::string_view text);

  const std::string& href() const { return href_; }
  friend bool operator==(const Url&, const Url&) = default;

 private:
  explicit Url(std::string href) : href_(std::move(href)) {}
  std::string href_;
};

}  // namespace zelvane
