// The export of a snapshot as plain values, built as a tree first and then turned into
// Python objects in one pass, and the refused-value texts shared with Diagnostics.
#pragma once

#include "py.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "config.hpp"

namespace zelvane::python {

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

// "<kind> from <source>: <value>"
std::string rejected_text(const RejectedValue& value);
// The refused values of every mode of the reading, once each, in the order first met.
std::vector<std::string> collect_rejected(const ProxyConfig& config);
std::vector<std::string> source_names(const std::vector<SourceEntry>& sources);
std::vector<std::string> fallback_names(const std::vector<SourceKind>& fallbacks);

// A new Python object, or null with the first Python error set.
PyObject* plain_to_py(const PlainValue& value);
// The Python repr of the list of str made from the texts; none with the error set.
std::optional<std::string> repr_str_list(const std::vector<std::string>& texts);

}  // namespace zelvane::python
