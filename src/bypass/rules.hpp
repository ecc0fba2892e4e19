// Bypass lists: the no_proxy style and the Windows ProxyOverride style, parsed into
// BypassRules with one refused value per bad entry (BypassRules::parse and
// BypassRule::to_text of the model are defined here).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "config.hpp"

namespace zelvane::bypass {

std::string_view trim_entry(std::string_view piece, BypassDialect dialect);

struct NoRule {};
struct Refused {};
using EntryOutcome = std::variant<BypassRule, NoRule, Refused>;
EntryOutcome parse_entry(std::string_view trimmed, BypassDialect dialect);
void push_entry(BypassRules& rules, std::string_view trimmed, BypassDialect dialect);
void dedup_rules(std::vector<BypassRule>& rules);

}  // namespace zelvane::bypass
