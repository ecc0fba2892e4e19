#include "parse/pac_answer.hpp"

#include <cstdint>

#include "parse/candidates.hpp"
#include "parse/endpoint.hpp"
#include "util/ascii.hpp"
#include "util/redact.hpp"
#include "util/split.hpp"
#include "util/trim.hpp"
#include "util/utf8.hpp"

namespace zelvane::parse {

using namespace model;
using namespace value;

namespace {

template <class Step>
RouteStep step_through(ProxyEndpoint endpoint) {
  return {Step{std::move(endpoint)}};
}

struct PacKeyword {
  std::string_view name;
  RouteStep (*step)(ProxyEndpoint);  // null for DIRECT
  std::optional<ProxyScheme> hint;
  std::uint16_t port;
};
constexpr PacKeyword kPacKeywords[] = {
    {"PROXY", &step_through<RouteStep::Http>, ProxyScheme::Http, 80},
    {"HTTP", &step_through<RouteStep::Http>, ProxyScheme::Http, 80},
    {"HTTPS", &step_through<RouteStep::Https>, ProxyScheme::Https, 443},
    {"SOCKS", &step_through<RouteStep::Socks4>, ProxyScheme::Socks4, 1080},
    {"SOCKS4", &step_through<RouteStep::Socks4>, ProxyScheme::Socks4, 1080},
    {"SOCKS5", &step_through<RouteStep::Socks5>, ProxyScheme::Socks5h, 1080},
    {"DIRECT", nullptr, std::nullopt, 0},
};

bool is_ascii_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }

// Whether the address holds a white-space character that ASCII white space did not already
// split (U+00A0, a vertical tab, ...).
bool holds_unicode_whitespace(std::string_view text) {
  while (!text.empty()) {
    util::DecodedChar c = util::decode_utf8(text);
    if (util::is_unicode_whitespace(c.code_point)) return true;
    text.remove_prefix(c.length);
  }
  return false;
}

// One PAC answer item: a step, or nothing when the item is skipped.
std::optional<RouteStep> pac_item(std::string_view item) {
  std::string_view tokens[2];
  std::size_t count = 0;
  for (std::size_t i = 0; i < item.size();) {
    while (i < item.size() && is_ascii_space(item[i])) ++i;
    if (i == item.size()) break;
    std::size_t end = i;
    while (end < item.size() && !is_ascii_space(item[end])) ++end;
    if (count == 2) return std::nullopt;  // three or more tokens
    tokens[count++] = item.substr(i, end - i);
    i = end;
  }
  if (count == 0) return std::nullopt;
  std::string keyword = util::ascii_upper(tokens[0]);
  for (const auto& k : kPacKeywords) {
    if (keyword != k.name) continue;
    if (k.step == nullptr) {
      if (count == 1) return RouteStep{RouteStep::Direct{}};
      return std::nullopt;
    }
    if (count == 1) return std::nullopt;
    std::string_view address = tokens[1];
    if (address.find_first_of("/?#") != std::string_view::npos) return std::nullopt;
    if (holds_unicode_whitespace(address)) return std::nullopt;
    auto endpoint = parse_endpoint(address, k.port);
    if (!endpoint) return std::nullopt;
    endpoint->auth.reset();
    if (endpoint->port == 0) endpoint->port = k.port;
    endpoint->scheme_hint = k.hint;
    return k.step(std::move(*endpoint));
  }
  return std::nullopt;
}

}  // namespace

Result<std::vector<RouteStep>> parse_pac_result(std::string_view text) {
  CandidateList candidates;
  util::split_at_any(text, ";\r\n", [&](std::string_view item) {
    if (auto step = pac_item(item)) candidates.push(std::move(*step));
    return candidates.size() < CandidateList::kLimit;  // the rest is not read
  });
  if (auto steps = std::move(candidates).finish()) return std::move(*steps);
  return std::unexpected(Error(Error::PacInvalidResult{util::sanitize_message(text)}));
}

}  // namespace zelvane::parse
