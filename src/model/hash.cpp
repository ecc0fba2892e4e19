#include "model/hash.hpp"

#include <functional>
#include <string>
#include <type_traits>
#include <variant>
#include "util/overloaded.hpp"

namespace zelvane::model {

using value::Ipv4Addr;
using value::Ipv6Addr;

std::size_t hash_mix(std::size_t seed, std::size_t value) {
  return seed ^ (value + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2));
}

std::size_t hash_host(const Host& host) {
  std::size_t h = host.value.index();
  std::visit(util::Overloaded{
                 [&](const std::string& v) { h = hash_mix(h, std::hash<std::string>{}(v)); },
                 [&](const Ipv4Addr& v) {
                   for (auto b : v.octets) h = hash_mix(h, b);
                 },
                 [&](const Ipv6Addr& v) {
                   for (auto b : v.octets) h = hash_mix(h, b);
                 },
             },
             host.value);
  return h;
}

std::size_t hash_port(const std::optional<std::uint16_t>& port) { return port ? std::size_t{*port} + 1 : 0; }

std::size_t hash_endpoint(const ProxyEndpoint& e) {
  std::size_t h = hash_host(e.host);
  h = hash_mix(h, e.port);
  h = hash_mix(h, e.scheme_hint ? static_cast<std::size_t>(*e.scheme_hint) + 1 : 0);
  if (e.auth) {
    h = hash_mix(h, std::hash<std::string>{}(e.auth->username));
    h = hash_mix(h, static_cast<std::size_t>(e.auth->password.kind));
    h = hash_mix(h, std::hash<std::string>{}(e.auth->password.text));
  }
  return h;
}

}  // namespace zelvane::model
