// The answer of a PAC script's FindProxyForURL: "PROXY a:1; SOCKS b:2; DIRECT" as route steps.
#pragma once

#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/route_step.hpp"

namespace zelvane::parse {

// The parsers read text into the model's terms.
using namespace model;
using namespace value;

// 1 to 64 steps, or PacInvalidResult.
Result<std::vector<RouteStep>> parse_pac_result(std::string_view text);

}  // namespace zelvane::parse
