// Bypass lists: the no_proxy style and the Windows ProxyOverride style, parsed into
// BypassRules with one refused value per bad entry, and a rule written back as list text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "model/bypass_rules.hpp"

namespace zelvane::bypass {

// Every character of `separators` (all ASCII) ends an entry. Never fails.
model::BypassRules parse(std::string_view text, std::string_view separators, model::BypassDialect dialect);
// The list text of the rule, as the export writes it.
std::string to_text(const model::BypassRule& rule);

// U+0009 to U+000D and U+0020 at both ends: what the Windows style trims.
std::string_view trim_windows_entry(std::string_view piece);
// The Windows trim, or every Unicode White_Space character at both ends for no_proxy.
std::string_view trim_entry(std::string_view piece, model::BypassDialect dialect);

// Whether the text holds a character that no host name can hold: U+0000-U+001F,
// U+007F-U+009F, and # % < > ? [ \ ] ^ |.
bool has_forbidden_host_char(std::string_view text);

// The host with each non-ASCII label in its ASCII (punycode) form, label by label; none when
// a label mixes '*' with non-ASCII text or has no ASCII form. ASCII labels stay as written.
std::optional<std::string> wildcard_to_ascii(std::string_view host);

struct NoRule {};
struct Refused {};
using EntryOutcome = std::variant<model::BypassRule, NoRule, Refused>;
// One trimmed entry: a rule, nothing (an entry that names no destination), or a refusal.
EntryOutcome parse_entry(std::string_view trimmed, model::BypassDialect dialect);
// parse_entry, its rule appended to the patterns or its refusal to the rejected values (the
// entry redacted, as written).
void push_entry(model::BypassRules& rules, std::string_view trimmed, model::BypassDialect dialect);
// Drops every rule equal to an earlier one; "<-loopback>" always stays and starts afresh, so
// equal rules on both sides of it both stay.
void dedup_rules(std::vector<model::BypassRule>& rules);

}  // namespace zelvane::bypass
