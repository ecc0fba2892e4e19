// The hashes behind BypassRule::hash and RouteStep::hash: consistent with ==, not stable across
// builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "model/endpoint.hpp"

namespace zelvane::model {

std::size_t hash_mix(std::size_t seed, std::size_t value);
std::size_t hash_host(const Host& host);
std::size_t hash_port(const std::optional<std::uint16_t>& port);
std::size_t hash_endpoint(const ProxyEndpoint& e);

}  // namespace zelvane::model
