// Proxy addresses. Anything may be given; an address that parses and makes a proxy URL reads
// back from that URL as the same proxy: the URL is what a route hands on, so a host, port or
// credential it changed would send the request elsewhere. A planted password
// (fuzz/plant.hpp) shows neither in the parser's message nor in the endpoint's debug text.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "fuzz/check.hpp"
#include "fuzz/plant.hpp"
#include "parse/endpoint.hpp"
#include "util/utf8.hpp"
#include "value/debug.hpp"

namespace {

using namespace zelvane;
using namespace zelvane::model;
using namespace zelvane::value;

// What a URL can say of credentials: an empty password is none, and no user name and no
// password are no credentials.
std::optional<ProxyAuth> as_url_says(std::optional<ProxyAuth> auth) {
  if (!auth) return auth;
  if (auth->password.is_present() && auth->password.text.empty()) {
    auth->password = PasswordState::absent();
  }
  if (auth->username.empty() && !auth->password.is_present()) return std::nullopt;
  return auth;
}

void check_plant(std::string_view text) {
  if (const auto e = parse::parse_endpoint(text, 3128)) {
    fuzz::check_hidden("the endpoint's debug text", text, debug_text(*e));
  } else {
    fuzz::check_hidden("parse_endpoint's message", text, e.error().message());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = fuzz::as_text(data, size);
  for (const auto& plant : fuzz::plants(text)) {
    check_plant(plant.address);
    check_plant(plant.in_text);
  }
  (void)parse::parse_scheme(text);
  (void)parse::parse_scheme_slot(text);
  const auto endpoint = parse::parse_endpoint(text, 3128);
  if (!endpoint) {
    (void)endpoint.error().message();
    return 0;
  }
  (void)debug_text(*endpoint);
  // Texts from Python and from Windows are valid UTF-8; a credential of raw bytes has no URL
  // form that reads back the same.
  if (!util::is_valid_utf8(text)) return 0;
  const RouteStep step{RouteStep::Http{*endpoint}};
  const auto url = parse::proxy_url(step);
  const auto text_form = parse::proxy_url_text(step);
  ZELVANE_FUZZ_CHECK(text_form == (url ? std::optional<std::string>(url->href()) : std::nullopt),
                     fuzz::shown(text) + " gives the step URL text " +
                         (text_form ? fuzz::shown(*text_form) : std::string("(none)")) + ", not " +
                         (url ? fuzz::shown(url->href()) : std::string("(none)")));
  if (!url) return 0;
  const auto again = parse::parse_endpoint(url->href(), 3128);
  ZELVANE_FUZZ_CHECK(again.has_value(), fuzz::shown(text) + " made the proxy URL " +
                                            fuzz::shown(url->href()) + ", which is refused");
  ZELVANE_FUZZ_CHECK(again->host == endpoint->host && again->port == endpoint->port &&
                         as_url_says(again->auth) == as_url_says(endpoint->auth),
                     fuzz::shown(text) + " -> " + fuzz::shown(url->href()) + " -> " + debug_text(*again) +
                         ", not " + debug_text(*endpoint));
  return 0;
}
