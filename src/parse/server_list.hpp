// The Windows proxy server list: "host:port" for every scheme, or "scheme=host:port" entries.
#pragma once

#include <string_view>
#include <vector>

#include "model/mode.hpp"
#include "model/rejected.hpp"

namespace zelvane::parse {

struct ProxyServerList {
  model::PerScheme per_scheme;  // Use and Disabled entries only
  std::vector<model::RejectedValue> rejected;
};
ProxyServerList parse_proxy_server(std::string_view text);

}  // namespace zelvane::parse
