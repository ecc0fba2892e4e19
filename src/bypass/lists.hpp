// The two bypass lists as the systems write them: the no_proxy variable's, and the Windows
// ProxyOverride value beside its ProxyServer list.
#pragma once

#include <string_view>

#include "model/bypass_rules.hpp"
#include "model/mode.hpp"

namespace zelvane::bypass {

// Direct, or Manual with the bypass list read in the Windows style.
model::ProxyMode parse_proxy_settings(std::string_view server_text, std::string_view bypass_text);
model::BypassRules parse_no_proxy(std::string_view text);

}  // namespace zelvane::bypass
