// The export of a snapshot as plain values: a tree of none, bool, int, text, lists and dicts that
// knows nothing of Python (py_plain.hpp turns it into Python objects in one pass).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "model/config.hpp"

namespace zelvane::python {

using namespace model;

struct PlainValue;
using PlainList = std::vector<PlainValue>;
using PlainDict = std::vector<std::pair<std::string, PlainValue>>;
struct PlainValue {
  std::variant<std::monostate, bool, std::int64_t, std::string, PlainList, PlainDict> value;
};

PlainValue snapshot_to_value(const ProxyConfig& config, bool os_readable);
PlainValue mode_to_value(const ProxyMode& mode);
PlainValue proxies_to_value(const PerScheme& per_scheme);
std::optional<std::pair<std::string, PlainValue>> proxy_entry_to_value(const PerScheme& per_scheme,
                                                                       SchemeSlot slot);
PlainValue sources_to_value(const std::vector<SourceEntry>& sources);
PlainValue fallbacks_to_values(const std::vector<SourceKind>& fallbacks);
PlainValue patterns_to_values(const BypassRules& rules);
PlainValue rejected_to_values(const std::vector<RejectedValue>& rejected);
PlainValue strings_to_values(const std::vector<std::string>& texts);

}  // namespace zelvane::python
