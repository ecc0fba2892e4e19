#include "value/host.hpp"

#include <cstdint>
#include <optional>
#include <vector>

#include "ada.h"
#include "util/percent.hpp"
#include "util/redact.hpp"
#include "util/trim.hpp"
#include "util/utf8.hpp"
#include "value/debug.hpp"
#include "util/overloaded.hpp"

namespace zelvane::value {
namespace {

// C0 controls, space, DEL and # % / : < > ? @ [ \ ] ^ |.
bool is_forbidden_domain_char(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u == 0x7f) return true;
  switch (c) {
    case '#':
    case '%':
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

std::vector<std::string_view> split_dots(std::string_view text) {
  std::vector<std::string_view> parts;
  for (;;) {
    const std::size_t dot = text.find('.');
    parts.push_back(text.substr(0, dot));
    if (dot == std::string_view::npos) return parts;
    text.remove_prefix(dot + 1);
  }
}

// One part of the IPv4 number forms: "0x"/"0X" then hex, a leading '0' then octal, else
// decimal; "0x" alone is 0. Values beyond 32 bits are kept as 2^32, which every caller
// refuses, so no part can overflow.
std::optional<std::uint64_t> parse_ipv4_number(std::string_view part) {
  if (part.empty()) return std::nullopt;
  unsigned radix = 10;
  if (part.size() >= 2 && part[0] == '0' && (part[1] == 'x' || part[1] == 'X')) {
    radix = 16;
    part.remove_prefix(2);
  } else if (part.size() >= 2 && part[0] == '0') {
    radix = 8;
    part.remove_prefix(1);
  }
  constexpr std::uint64_t kCap = std::uint64_t{1} << 32;
  std::uint64_t value = 0;
  for (char c : part) {
    const int d = util::hex_value(c);
    if (d < 0 || static_cast<unsigned>(d) >= radix) return std::nullopt;
    value = value * radix + static_cast<unsigned>(d);
    if (value > kCap) value = kCap;
  }
  return value;
}

// The last label, one trailing empty label aside, is all digits or a 0x hex number.
bool ends_in_number(std::string_view domain) {
  auto parts = split_dots(domain);
  if (parts.back().empty()) {
    if (parts.size() == 1) return false;
    parts.pop_back();
  }
  const std::string_view last = parts.back();
  if (!last.empty() && last.find_first_not_of("0123456789") == std::string_view::npos) {
    return true;
  }
  return parse_ipv4_number(last).has_value();
}

std::optional<Ipv4Addr> parse_url_ipv4(std::string_view text) {
  auto parts = split_dots(text);
  if (parts.back().empty() && parts.size() > 1) parts.pop_back();
  if (parts.size() > 4) return std::nullopt;
  std::vector<std::uint64_t> numbers;
  for (std::string_view part : parts) {
    auto n = parse_ipv4_number(part);
    if (!n) return std::nullopt;
    numbers.push_back(*n);
  }
  const std::uint64_t last = numbers.back();
  numbers.pop_back();
  for (std::uint64_t n : numbers) {
    if (n > 255) return std::nullopt;
  }
  if (last >= (std::uint64_t{1} << (8 * (4 - numbers.size())))) return std::nullopt;
  std::uint64_t v = last;
  for (std::size_t i = 0; i < numbers.size(); ++i) v += numbers[i] << (8 * (3 - i));
  return Ipv4Addr::from_u32(static_cast<std::uint32_t>(v));
}

// The text as a message may show it: withheld when it may hold a password, control
// characters masked so that the message stays one line.
std::string shown(std::string_view text) {
  if (util::has_password_separator(text).found) {
    return util::withheld_message(util::count_chars(text));
  }
  return util::mask_control_chars(text);
}

}  // namespace

std::string url_text(const Host& host) {
  if (const auto* domain = host.as_domain()) return *domain;
  if (const auto* v4 = std::get_if<Ipv4Addr>(&host.value)) return to_string(*v4);
  return url_host_form(std::get<Ipv6Addr>(host.value));
}

void debug_fmt(std::string& out, const Host& host) {
  std::visit(util::Overloaded{
                 [&](const std::string& h) { write_variant(out, "Domain", h); },
                 [&](const Ipv4Addr& h) { write_variant(out, "Ipv4", h); },
                 [&](const Ipv6Addr& h) { write_variant(out, "Ipv6", h); },
             },
             host.value);
}

std::expected<Host, UrlError> parse_url_host(std::string_view input) {
  if (input.empty()) return std::unexpected(UrlError::EmptyHost);
  if (input.front() == '[') {
    if (input.size() < 2 || input.back() != ']') {
      return std::unexpected(UrlError::InvalidIpv6Address);
    }
    if (auto v6 = parse_ipv6_standard(input.substr(1, input.size() - 2))) return Host{*v6};
    return std::unexpected(UrlError::InvalidIpv6Address);
  }
  // Bytes that are not UTF-8 would decode to U+FFFD, which ToASCII refuses; ada refuses
  // them outright, with the same outcome.
  std::string ascii = ada::idna::to_ascii(util::percent_decode_bytes(input));
  if (ascii.empty()) return std::unexpected(UrlError::IdnaError);
  for (char c : ascii) {
    if (is_forbidden_domain_char(c)) return std::unexpected(UrlError::InvalidDomainCharacter);
  }
  if (ends_in_number(ascii)) {
    if (auto v4 = parse_url_ipv4(ascii)) return Host{*v4};
    return std::unexpected(UrlError::InvalidIpv4Address);
  }
  return Host::domain(std::move(ascii));
}

std::expected<Host, std::string> parse_host(std::string_view text) {
  const std::string_view t = util::trim_unicode_whitespace(text);
  if (t.empty()) return std::unexpected(std::string("missing host"));
  if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
    const std::string_view inner = t.substr(1, t.size() - 2);
    if (auto v6 = parse_ipv6_standard(inner)) return Host{*v6};
    return std::unexpected("invalid IPv6 literal " + shown(inner));
  }
  if (auto v6 = parse_ipv6_standard(t)) return Host{*v6};
  auto host = parse_url_host(t);
  if (!host) {
    return std::unexpected("invalid host " + shown(t) + ": " + std::string(message(host.error())));
  }
  return std::move(*host);
}

}  // namespace zelvane::value
