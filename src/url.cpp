#include "url.hpp"

#include <array>

#include "ada.h"
#include "debug.hpp"

namespace zelvane {
namespace {

struct UrlErrorText {
  std::string_view name, message;
};
constexpr std::array<UrlErrorText, 10> kUrlErrors = {{
    {"EmptyHost", "empty host"},
    {"IdnaError", "invalid international domain name"},
    {"InvalidPort", "invalid port number"},
    {"InvalidIpv4Address", "invalid IPv4 address"},
    {"InvalidIpv6Address", "invalid IPv6 address"},
    {"InvalidDomainCharacter", "invalid domain character"},
    {"RelativeUrlWithoutBase", "relative URL without a base"},
    {"RelativeUrlWithCannotBeABaseBase", "relative URL with a cannot-be-a-base base"},
    {"SetHostOnCannotBeABaseUrl", "a cannot-be-a-base URL doesn\u2019t have a host to set"},
    {"Overflow", "URLs more than 4 GB are not supported"},
}};

}  // namespace

std::string_view message(UrlError e) { return kUrlErrors[static_cast<std::size_t>(e)].message; }
std::string_view name(UrlError e) { return kUrlErrors[static_cast<std::size_t>(e)].name; }
void debug_fmt(std::string& out, UrlError e) { out += name(e); }

std::expected<Url, UrlError> Url::parse(std::string_view text) {
  auto parsed = ada::parse<ada::url_aggregator>(text);
  if (!parsed) return std::unexpected(UrlError::RelativeUrlWithoutBase);
  return Url(std::string(parsed->get_href()));
}

}  // namespace zelvane
