#include "value/url.hpp"

#include <array>

#include "ada.h"
#include "util/ascii.hpp"
#include "util/redact.hpp"
#include "value/debug.hpp"
#include "value/host.hpp"
#include "value/ip.hpp"

namespace zelvane::value {
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

namespace {

bool is_ascii_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

// What the WHATWG parser reads: leading and trailing C0 controls and spaces removed, and
// every tab, LF and CR.
std::string preprocess(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\t' && c != '\n' && c != '\r') out += c;
  }
  return out;
}

// NUL, tab, LF, CR, space and # / : < > ? @ [ \ ] ^ |: what an opaque host may not hold.
bool is_forbidden_host_char(char c) {
  switch (c) {
    case '\0':
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case '#':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '|':
      return true;
    default:
      return false;
  }
}

std::optional<UrlError> host_failure(std::string_view host, bool special) {
  if (special) {
    auto parsed = parse_url_host(host);
    return parsed ? std::nullopt : std::optional<UrlError>(parsed.error());
  }
  if (!host.empty() && host.front() == '[') {
    if (host.size() < 2 || host.back() != ']' || !parse_ipv6_standard(host.substr(1, host.size() - 2))) {
      return UrlError::InvalidIpv6Address;
    }
    return std::nullopt;
  }
  for (char c : host) {
    if (is_forbidden_host_char(c)) return UrlError::InvalidDomainCharacter;
  }
  return std::nullopt;
}

// The authority, host and port states, from the first character after the slashes.
std::optional<UrlError> authority_failure(std::string_view rest, bool special) {
  const std::size_t end = rest.find_first_of(special ? "/?#\\" : "/?#");
  std::string_view authority = rest.substr(0, end);
  const std::size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
    if (authority.empty()) return UrlError::EmptyHost;
  }
  // The host ends at the first ':' outside brackets.
  std::size_t colon = std::string_view::npos;
  bool in_brackets = false;
  for (std::size_t i = 0; i < authority.size() && colon == std::string_view::npos; ++i) {
    if (authority[i] == '[') in_brackets = true;
    if (authority[i] == ']') in_brackets = false;
    if (authority[i] == ':' && !in_brackets) colon = i;
  }
  const std::string_view host = authority.substr(0, colon);
  if (host.empty() && (special || colon != std::string_view::npos)) return UrlError::EmptyHost;
  if (auto failure = host_failure(host, special)) return failure;
  if (colon == std::string_view::npos) return std::nullopt;
  std::uint32_t port = 0;
  for (char c : authority.substr(colon + 1)) {
    if (!is_ascii_digit(c)) return UrlError::InvalidPort;
    port = port * 10 + static_cast<std::uint32_t>(c - '0');
    if (port > 65535) return UrlError::InvalidPort;
  }
  return std::nullopt;
}

// "file:" followed by two slashes: the host runs to the next slash, '?' or '#', with no
// credentials or port; a Windows drive letter ("C:" or "C|") is the path instead.
std::optional<UrlError> file_failure(std::string_view rest) {
  auto slash = [](char c) { return c == '/' || c == '\\'; };
  if (rest.size() < 2 || !slash(rest[0]) || !slash(rest[1])) return std::nullopt;
  rest.remove_prefix(2);
  const std::string_view host = rest.substr(0, rest.find_first_of("/\\?#"));
  if (host.empty()) return std::nullopt;
  if (host.size() == 2 && is_ascii_alpha(host[0]) && (host[1] == ':' || host[1] == '|')) {
    return std::nullopt;
  }
  return host_failure(host, true);
}

constexpr std::size_t kMaxUrlSize = 0xffffffffu;

}  // namespace

// The WHATWG basic URL parser without a base fails only at these steps; everything after the
// authority (path, query, fragment, an opaque path) never fails.
//   Overflow                 the text is longer than 4 GB (ada's 32-bit offsets)
//   RelativeUrlWithoutBase   no scheme: not an ASCII letter, then letters, digits, "+-.", ':'
//   EmptyHost                a special scheme with nothing where the host goes
//                            ("http://", "http://user@/", "http://:80"), or any scheme with
//                            a port but no host ("foo://:80")
//   InvalidPort              a port with a non-digit, or above 65535
//   InvalidIpv6Address       a host in brackets that is not an IPv6 address, or '[' unclosed
//   InvalidIpv4Address       a special host whose last label reads as a number but the
//                            whole is no IPv4 address ("1.2.3.4.5", "example.123")
//   InvalidDomainCharacter   a forbidden code point in a special host (after percent-decoding
//                            and ToASCII), or in an opaque host
//   IdnaError                UTS #46 ToASCII refuses a special host or maps it to nothing
std::optional<UrlError> find_url_failure(std::string_view text) {
  if (text.size() > kMaxUrlSize) return UrlError::Overflow;
  const std::string input = preprocess(text);
  if (input.empty() || !is_ascii_alpha(input[0])) return UrlError::RelativeUrlWithoutBase;
  std::size_t i = 1;
  while (i < input.size() && (is_ascii_alpha(input[i]) || is_ascii_digit(input[i]) || input[i] == '+' ||
                              input[i] == '-' || input[i] == '.')) {
    ++i;
  }
  if (i == input.size() || input[i] != ':') return UrlError::RelativeUrlWithoutBase;
  const std::string scheme = util::ascii_lower(std::string_view(input).substr(0, i));
  std::string_view rest = std::string_view(input).substr(i + 1);
  if (scheme == "file") return file_failure(rest);
  const bool special =
      scheme == "http" || scheme == "https" || scheme == "ws" || scheme == "wss" || scheme == "ftp";
  if (special) {
    // Any run of slashes and backslashes, none included, leads to the authority.
    while (!rest.empty() && (rest.front() == '/' || rest.front() == '\\')) rest.remove_prefix(1);
    return authority_failure(rest, true);
  }
  if (rest.starts_with("//")) return authority_failure(rest.substr(2), false);
  return std::nullopt;
}

std::expected<Url, UrlError> Url::parse(std::string_view text) {
  if (text.size() > kMaxUrlSize) return std::unexpected(UrlError::Overflow);
  auto parsed = ada::parse<ada::url_aggregator>(text);
  if (!parsed) {
    // ada refuses at the same steps; should the two ever disagree, the host is where ada's
    // own shortcuts lie, so a host failure is the likeliest name.
    return std::unexpected(find_url_failure(text).value_or(UrlError::InvalidDomainCharacter));
  }
  return from_ada(*parsed);
}

Url Url::from_ada(const ada::url_aggregator& url) {
  std::string href(url.get_href());
  const std::string_view whole = url.get_href();
  // ada's getters give views into its buffer, or a literal "" for a missing part.
  auto span = [&](std::string_view part) {
    if (part.empty() || part.data() < whole.data() ||
        part.data() + part.size() > whole.data() + whole.size()) {
      return Span{};
    }
    return Span{static_cast<std::uint32_t>(part.data() - whole.data()),
                static_cast<std::uint32_t>(part.size())};
  };
  Parts parts;
  std::string_view protocol = url.get_protocol();
  if (!protocol.empty()) protocol.remove_suffix(1);  // the ':'
  parts.scheme = span(protocol);
  parts.username = span(url.get_username());
  parts.password = span(url.get_password());
  if (url.has_hostname()) {
    parts.host = span(url.get_hostname());
    switch (url.host_type) {
      case ada::url_host_type::IPV4:
        parts.host_kind = HostKind::Ipv4;
        break;
      case ada::url_host_type::IPV6:
        parts.host_kind = HostKind::Ipv6;
        break;
      default:
        parts.host_kind = HostKind::Domain;
        break;
    }
  }
  const std::uint32_t port = url.get_components().port;
  if (port != ada::url_components::omitted) parts.port = static_cast<std::uint16_t>(port);
  return Url(std::move(href), parts);
}

std::string_view Url::scheme() const { return view(parts_.scheme); }
std::string_view Url::username() const { return view(parts_.username); }
std::string_view Url::password() const { return view(parts_.password); }
std::optional<std::uint16_t> Url::port() const { return parts_.port; }

std::optional<Host> Url::host() const {
  const std::string_view text = view(parts_.host);
  switch (parts_.host_kind) {
    case HostKind::None:
      return std::nullopt;
    case HostKind::Ipv4:
      if (auto v4 = parse_ipv4_standard(text)) return Host{*v4};
      break;
    case HostKind::Ipv6:
      if (text.size() >= 2) {
        if (auto v6 = parse_ipv6_standard(text.substr(1, text.size() - 2))) return Host{*v6};
      }
      break;
    case HostKind::Domain:
      break;
  }
  return Host::domain(std::string(text));
}

bool Url::set_credential(bool password, std::string_view value) {
  auto url = ada::parse<ada::url_aggregator>(href_);
  if (!url) return false;
  const bool done = password ? url->set_password(value) : url->set_username(value);
  if (!done) return false;
  *this = from_ada(*url);
  return true;
}

bool Url::edit(bool (*change)(ada::url_aggregator&, std::string_view), std::string_view value) {
  auto url = ada::parse<ada::url_aggregator>(href_);
  if (!url || !change(*url, value)) return false;
  *this = from_ada(*url);
  return true;
}

bool Url::set_path(std::string_view path) {
  // A URL with an opaque path ("mailto:x") has no path to set.
  return edit(
      [](ada::url_aggregator& u, std::string_view v) { return !u.has_opaque_path && u.set_pathname(v); },
      path);
}

void Url::remove_query() {
  edit(
      [](ada::url_aggregator& u, std::string_view) {
        u.set_search("");
        return true;
      },
      {});
}

void Url::remove_fragment() {
  edit(
      [](ada::url_aggregator& u, std::string_view) {
        u.set_hash("");
        return true;
      },
      {});
}

bool Url::set_username(std::string_view username) { return set_credential(false, username); }
bool Url::set_password(std::string_view password) { return set_credential(true, password); }

std::string redact_url(std::string_view text) {
  std::string masked(text);
  if (auto url = Url::parse(text); url && !url->password().empty() && url->set_password("***")) {
    masked = url->href();
  }
  return util::redact_credentials(masked);
}

}  // namespace zelvane::value
