#include "model/route_step.hpp"

#include <type_traits>

#include "model/hash.hpp"
#include "value/debug.hpp"

namespace zelvane::model {

const ProxyEndpoint* RouteStep::endpoint() const {
  return std::visit(
      [](const auto& s) -> const ProxyEndpoint* {
        if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Direct>) {
          return nullptr;
        } else {
          return &s.endpoint;
        }
      },
      value);
}

std::size_t RouteStep::hash() const {
  const ProxyEndpoint* e = endpoint();
  return hash_mix(value.index(), e ? hash_endpoint(*e) : 0);
}

void debug_fmt(std::string& out, const RouteStep& step) {
  using value::write_variant;
  std::visit(
      [&](const auto& s) {
        using T = std::decay_t<decltype(s)>;
        if constexpr (std::is_same_v<T, RouteStep::Direct>) {
          out += "Direct";
        } else if constexpr (std::is_same_v<T, RouteStep::Http>) {
          write_variant(out, "Http", s.endpoint);
        } else if constexpr (std::is_same_v<T, RouteStep::Https>) {
          write_variant(out, "Https", s.endpoint);
        } else if constexpr (std::is_same_v<T, RouteStep::Socks4>) {
          write_variant(out, "Socks4", s.endpoint);
        } else {
          write_variant(out, "Socks5", s.endpoint);
        }
      },
      step.value);
}

}  // namespace zelvane::model
