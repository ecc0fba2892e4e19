// The answer of a PAC script's FindProxyForURL: "PROXY a:1; SOCKS b:2; DIRECT" as route steps.
#pragma once

#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/route_step.hpp"

namespace zelvane::parse {

// 1 to 64 steps, or PacInvalidResult.
model::Result<std::vector<model::RouteStep>> parse_pac_result(std::string_view text);

}  // namespace zelvane::parse
