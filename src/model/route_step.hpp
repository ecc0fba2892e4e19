// One step of a route: go direct, or through a proxy of a given kind. The proxy URL of a step
// lives in src/parse (parse::proxy_url).
#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "model/endpoint.hpp"

namespace zelvane::model {

struct RouteStep {
  struct Direct {
    friend bool operator==(const Direct&, const Direct&) = default;
  };
  struct Http {
    ProxyEndpoint endpoint;
    friend bool operator==(const Http&, const Http&) = default;
  };
  struct Https {
    ProxyEndpoint endpoint;
    friend bool operator==(const Https&, const Https&) = default;
  };
  struct Socks4 {
    ProxyEndpoint endpoint;
    friend bool operator==(const Socks4&, const Socks4&) = default;
  };
  struct Socks5 {
    ProxyEndpoint endpoint;
    friend bool operator==(const Socks5&, const Socks5&) = default;
  };

  std::variant<Direct, Http, Https, Socks4, Socks5> value;

  // The endpoint of a proxy step; null for Direct.
  const ProxyEndpoint* endpoint() const;
  std::size_t hash() const;
  friend bool operator==(const RouteStep&, const RouteStep&) = default;
};

void debug_fmt(std::string& out, const RouteStep& step);

}  // namespace zelvane::model
