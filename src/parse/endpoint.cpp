#include "parse/endpoint.hpp"

#include <array>

#include "value/host.hpp"
#include "util/host_port.hpp"
#include "util/redact.hpp"
#include "util/percent.hpp"
#include "util/trim.hpp"
#include "util/ascii.hpp"
#include "util/overloaded.hpp"

namespace zelvane::parse {

using namespace model;
using namespace value;

namespace {

constexpr std::string_view kAtAfterPath =
    "an '@' follows a '/', '?' or '#', so the host before it is the start of a user name or "
    "password rather than the proxy (percent-encode the character in the credentials: %2F, "
    "%3F, %23)";

struct SchemeName {
  std::string_view name;
  ProxyScheme scheme;
};
constexpr std::array<SchemeName, 7> kSchemeNames = {{
    {"http", ProxyScheme::Http},
    {"https", ProxyScheme::Https},
    {"socks", ProxyScheme::Socks5},
    {"socks4", ProxyScheme::Socks4},
    {"socks4a", ProxyScheme::Socks4a},
    {"socks5", ProxyScheme::Socks5},
    {"socks5h", ProxyScheme::Socks5h},
}};

}  // namespace

Result<ProxyScheme> parse_scheme(std::string_view text) {
  std::string lower = util::ascii_lower(util::trim_unicode_whitespace(text));
  for (const auto& s : kSchemeNames) {
    if (lower == s.name) return s.scheme;
  }
  return std::unexpected(Error(Error::UnsupportedProxyScheme{util::redact(lower)}));
}

std::optional<SchemeSlot> parse_scheme_slot(std::string_view text) {
  std::string lower = util::ascii_lower(util::trim_unicode_whitespace(text));
  for (SchemeSlot slot : kAllSlots) {
    if (lower == slot_text(slot)) return slot;
  }
  return std::nullopt;
}

std::optional<std::uint16_t> default_port(std::optional<std::uint16_t> explicit_port,
                                          std::optional<ProxyScheme> hint) {
  if (explicit_port) return explicit_port;
  if (!hint) return std::nullopt;
  switch (*hint) {
    case ProxyScheme::Http:
      return 80;
    case ProxyScheme::Https:
      return 443;
    default:
      return 1080;
  }
}

Result<ProxyEndpoint> parse_endpoint(std::string_view text, std::uint16_t caller_default) {
  auto refuse = [&](std::string_view reason) {
    return std::unexpected(Error::invalid_proxy_server(text, reason));
  };
  std::string_view rest = util::trim_unicode_whitespace(text);
  if (rest.empty()) return refuse("empty address");

  std::optional<ProxyScheme> hint;
  if (auto sep = rest.find("://"); sep != std::string_view::npos) {
    auto scheme = parse_scheme(rest.substr(0, sep));
    if (!scheme) return std::unexpected(std::move(scheme.error()));
    hint = *scheme;
    rest.remove_prefix(sep + 3);
  }

  std::string_view authority = rest;
  if (auto cut = rest.find_first_of("/?#"); cut != std::string_view::npos) {
    if (rest.find('@', cut) != std::string_view::npos) return refuse(kAtAfterPath);
    authority = rest.substr(0, cut);
  }
  if (authority.find("\xEF\xBF\xBD") != std::string_view::npos) {
    return refuse("value is not valid text");
  }

  std::optional<ProxyAuth> auth;
  std::string_view host_port = authority;
  if (auto at = authority.rfind('@'); at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    host_port = authority.substr(at + 1);
    if (host_port.empty()) return refuse("missing host");
    if (auto colon = userinfo.find(':'); colon != std::string_view::npos) {
      auth = ProxyAuth{util::percent_decode_utf8(userinfo.substr(0, colon)),
                       PasswordState::present(util::percent_decode_utf8(userinfo.substr(colon + 1)))};
    } else {
      auth = ProxyAuth{util::percent_decode_utf8(userinfo), PasswordState::absent()};
    }
  }
  if (host_port.empty()) return refuse("missing host");

  auto split = util::split_host_port(host_port);
  if (!split) return refuse(split.error());
  auto host = parse_host(split->host);
  if (!host) return refuse(host.error());
  if (split->host.size() < host_port.size() && !split->port) return refuse("empty port after ':'");

  std::uint16_t port = default_port(split->port, hint).value_or(caller_default);
  return ProxyEndpoint{hint, std::move(*host), port, std::move(auth)};
}

namespace {

std::string_view step_scheme(const RouteStep& step) {
  return std::visit(util::Overloaded{
                        [](const RouteStep::Direct&) -> std::string_view { return {}; },  // no endpoint
                        [](const RouteStep::Http&) -> std::string_view { return "http"; },
                        [](const RouteStep::Https&) -> std::string_view { return "https"; },
                        [](const RouteStep::Socks4& s) -> std::string_view {
                          return s.endpoint.scheme_hint == ProxyScheme::Socks4a ? "socks4a" : "socks4";
                        },
                        [](const RouteStep::Socks5& s) -> std::string_view {
                          return s.endpoint.scheme_hint == ProxyScheme::Socks5h ? "socks5h" : "socks5";
                        },
                    },
                    step.value);
}

// Built through the URL parser, which decides what a host it has not made itself becomes.
std::optional<Url> parsed_proxy_url(std::string_view scheme, const ProxyEndpoint& e) {
  std::string host = url_text(e.host);
  if (!parse_host(host)) return std::nullopt;
  std::string text = std::string(scheme) + "://" + host + ":" + std::to_string(e.port);
  auto url = Url::parse(text);
  if (!url) return std::nullopt;
  if (e.auth) {
    if (!url->set_username(util::escape_percent(e.auth->username))) return std::nullopt;
    if (e.auth->password.is_present() && !url->set_password(util::escape_percent(e.auth->password.text))) {
      return std::nullopt;
    }
  }
  return std::move(*url);
}

// A host the URL parser gives back unchanged under every proxy scheme, special or not: an IP
// address, or a lower-case ASCII domain with no IDNA label and no last label that could read
// as a number.
bool reads_back_unchanged(const Host& host) {
  const std::string* domain = host.as_domain();
  if (domain == nullptr) return true;
  if (domain->empty()) return false;
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  for (const char c : *domain) {
    if (!((c >= 'a' && c <= 'z') || digit(c) || c == '-' || c == '.' || c == '_')) return false;
  }
  std::string_view rest(*domain);
  if (rest.back() == '.') rest.remove_suffix(1);
  const std::size_t dot = rest.rfind('.');
  const std::string_view last = dot == std::string_view::npos ? rest : rest.substr(dot + 1);
  if (last.empty() || digit(last.front())) return false;
  for (std::string_view label = *domain; !label.empty();) {
    if (label.starts_with("xn--")) return false;
    const std::size_t next = label.find('.');
    if (next == std::string_view::npos) break;
    label.remove_prefix(next + 1);
  }
  return true;
}

// The URL standard's userinfo percent-encode set, and '%': credentials are held decoded, so a
// '%' in them is a character of their own.
bool escaped_in_userinfo(unsigned char c) {
  if (c <= 0x20 || c >= 0x7F) return true;
  return std::string_view("\"#<>?`{}/:;=@[\\]^|%").find(static_cast<char>(c)) != std::string_view::npos;
}

void append_userinfo(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (escaped_in_userinfo(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += ch;
    }
  }
}

}  // namespace

std::optional<Url> proxy_url(const RouteStep& step) {
  const ProxyEndpoint* e = step.endpoint();
  if (e == nullptr) return std::nullopt;
  return parsed_proxy_url(step_scheme(step), *e);
}

std::optional<std::string> proxy_url_text(const RouteStep& step) {
  const ProxyEndpoint* e = step.endpoint();
  if (e == nullptr) return std::nullopt;
  const std::string_view scheme = step_scheme(step);
  if (!reads_back_unchanged(e->host)) {
    auto url = parsed_proxy_url(scheme, *e);
    if (!url) return std::nullopt;
    return url->href();
  }
  // The serialisation the parser would give: only http and https are special schemes, with
  // their default port left out and a path of "/".
  const bool special = scheme == "http" || scheme == "https";
  const std::uint16_t default_port = scheme == "http" ? 80 : 443;
  std::string out;
  out.reserve(64);
  out += scheme;
  out += "://";
  if (e->auth) {
    const std::string_view password =
        e->auth->password.is_present() ? std::string_view(e->auth->password.text) : std::string_view();
    if (!e->auth->username.empty() || !password.empty()) {
      append_userinfo(out, e->auth->username);
      if (!password.empty()) {
        out += ':';
        append_userinfo(out, password);
      }
      out += '@';
    }
  }
  out += url_text(e->host);
  if (!special || e->port != default_port) {
    out += ':';
    out += std::to_string(e->port);
  }
  if (special) out += '/';
  return out;
}

}  // namespace zelvane::parse
