// The Windows proxy server list: "host:port" for every scheme, or "scheme=host:port" entries.
#pragma once

#include <string_view>
#include <vector>

#include "model/mode.hpp"
#include "model/rejected.hpp"

namespace zelvane::parse {

// The parsers read text into the model's terms.
using namespace model;
using namespace value;

struct ProxyServerList {
  PerScheme per_scheme;  // Use and Disabled entries only
  std::vector<RejectedValue> rejected;
};
ProxyServerList parse_proxy_server(std::string_view text);

}  // namespace zelvane::parse
