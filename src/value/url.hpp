// A parsed URL (WHATWG URL Standard, through ada), held by its serialisation with the places of
// its parts, and the kinds of failure the project reports for URLs it cannot parse.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "value/host.hpp"
#include "value/url_error.hpp"

namespace ada {
struct url_aggregator;
}

namespace zelvane::value {

class Url {
 public:
  // Parses an absolute URL; a failure is classified into one of the kinds above.
  static std::expected<Url, UrlError> parse(std::string_view text);

  const std::string& href() const { return href_; }
  // Lower case, without the ':'.
  std::string_view scheme() const;
  // None when the URL has no host ("mailto:x"). For the special schemes (http, https, ws,
  // wss, ftp, file) a lower-case ASCII domain, an IPv4 or an IPv6 address; for the others an
  // IPv6 address or the opaque host text as written (percent-encoded, case kept) as a
  // domain. An empty host ("file:///x", "foo:///x") is an empty domain.
  std::optional<Host> host() const;
  // The port the URL carries: none when absent or equal to the scheme's default.
  std::optional<std::uint16_t> port() const;
  // As the URL holds them, percent-encoded; empty when there are none.
  std::string_view username() const;
  std::string_view password() const;
  // The URL's user name or password setter: characters outside the userinfo set are
  // percent-encoded ('%' itself is not). False, the URL unchanged, when the URL cannot carry
  // credentials (no host, an empty host, or the scheme "file"). An empty text removes it.
  bool set_username(std::string_view username);
  bool set_password(std::string_view password);
  // The URL's path setter (false, the URL unchanged, for a URL with an opaque path), and the
  // removal of the query and of the fragment.
  bool set_path(std::string_view path);
  void remove_query();
  void remove_fragment();

  friend bool operator==(const Url&, const Url&) = default;

 private:
  // Where the parts lie in href_, as ada found them.
  struct Span {
    std::uint32_t begin = 0, size = 0;
    friend bool operator==(const Span&, const Span&) = default;
  };
  enum class HostKind : std::uint8_t { None, Domain, Ipv4, Ipv6 };
  struct Parts {
    Span scheme, username, password, host;
    HostKind host_kind = HostKind::None;
    std::optional<std::uint16_t> port;
    friend bool operator==(const Parts&, const Parts&) = default;
  };

  Url(std::string href, Parts parts) : href_(std::move(href)), parts_(parts) {}
  static Url from_ada(const ada::url_aggregator& url);
  bool set_credential(bool password, std::string_view value);
  // Applies a change to the URL as ada holds it; false, the URL unchanged, when it refuses.
  bool edit(bool (*change)(ada::url_aggregator&, std::string_view), std::string_view value);
  std::string_view view(Span s) const { return std::string_view(href_).substr(s.begin, s.size); }

  std::string href_;
  Parts parts_;
};

// The failure that the WHATWG URL parser meets on the text without a base, none when it
// parses. Url::parse names ada's refusals with it.
std::optional<UrlError> find_url_failure(std::string_view text);

// A URL text as a repr shows it: the URL parser's password replaced by "***" (the user name
// stays), then whatever util::redact_credentials takes as a password, which the URL parser
// need not see (a PAC URL without "//": 'user:pw@wpad.corp/proxy.pac' has the scheme "user").
// So it masks at least what the debug text of a PAC URL masks.
std::string redact_url(std::string_view text);

}  // namespace zelvane::value
