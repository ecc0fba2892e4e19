#include "model/route_step.hpp"

#include <type_traits>

#include "model/hash.hpp"
#include "util/overloaded.hpp"
#include "value/debug.hpp"

namespace zelvane::model {

const ProxyEndpoint* RouteStep::endpoint() const {
  const auto proxy = [](const auto& s) -> const ProxyEndpoint* { return &s.endpoint; };
  return std::visit(util::Overloaded{
                        [](const Direct&) -> const ProxyEndpoint* { return nullptr; },
                        [&](const Http& s) { return proxy(s); },
                        [&](const Https& s) { return proxy(s); },
                        [&](const Socks4& s) { return proxy(s); },
                        [&](const Socks5& s) { return proxy(s); },
                    },
                    value);
}

std::size_t RouteStep::hash() const {
  const ProxyEndpoint* e = endpoint();
  return hash_mix(value.index(), e ? hash_endpoint(*e) : 0);
}

void debug_fmt(std::string& out, const RouteStep& step) {
  using value::write_variant;
  std::visit(util::Overloaded{
                 [&](const RouteStep::Direct&) { out += "Direct"; },
                 [&](const RouteStep::Http& s) { write_variant(out, "Http", s.endpoint); },
                 [&](const RouteStep::Https& s) { write_variant(out, "Https", s.endpoint); },
                 [&](const RouteStep::Socks4& s) { write_variant(out, "Socks4", s.endpoint); },
                 [&](const RouteStep::Socks5& s) { write_variant(out, "Socks5", s.endpoint); },
             },
             step.value);
}

}  // namespace zelvane::model
