#include "bypass/lists.hpp"

#include "bypass/rules.hpp"
#include "parse/server_list.hpp"

namespace zelvane::bypass {

using namespace model;
using namespace value;

namespace {

constexpr std::string_view kWindowsBypassSeparators = ";, \t\r\n";

}  // namespace

ProxyMode parse_proxy_settings(std::string_view server_text, std::string_view bypass_text) {
  parse::ProxyServerList list = parse::parse_proxy_server(server_text);
  if (list.per_scheme.empty() && list.rejected.empty()) return {ProxyMode::Direct{}};
  BypassRules bypass = bypass::parse(bypass_text, kWindowsBypassSeparators, BypassDialect::WindowsStyle);
  return ProxyMode{ProxyMode::Manual{std::move(list.per_scheme), std::move(bypass), {}}}.attach_rejected(
      std::move(list.rejected));
}

BypassRules parse_no_proxy(std::string_view text) {
  return bypass::parse(text, ",", BypassDialect::NoProxyStyle);
}

}  // namespace zelvane::bypass
