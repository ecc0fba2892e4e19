// The export of a snapshot as plain values: a tree of none, bool, int, text, lists and dicts that
// knows nothing of Python (py_plain.hpp turns it into Python objects in one pass).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "model/config.hpp"

namespace zelvane::python {

struct PlainValue;
using PlainList = std::vector<PlainValue>;
// Keys are names of static storage.
using PlainDict = std::vector<std::pair<std::string_view, PlainValue>>;
// A name of static storage ("manual", "Broad", ...): the same few texts in every export.
struct PlainName {
  std::string_view text;
};
// A list of the texts of refused values, made when the tree is turned into objects, straight
// from the model: no second copy of millions of texts on the way.
struct PlainRejected {
  const std::vector<model::RejectedValue>* list;
};
// The reading's refused values, once each (collect_rejected): each text is the very one made
// for the list it was first met in, where that list is in the same tree before it.
struct PlainAllRejected {
  const model::ProxyConfig* config;
};
struct PlainValue {
  std::variant<std::monostate, bool, std::int64_t, std::string, PlainList, PlainDict, PlainName,
               PlainRejected, PlainAllRejected>
      value;
};

PlainValue snapshot_to_value(const model::ProxyConfig& config, bool os_readable);
PlainValue mode_to_value(const model::ProxyMode& mode);
PlainValue proxies_to_value(const model::PerScheme& per_scheme);
std::optional<std::pair<std::string_view, PlainValue>> proxy_entry_to_value(
    const model::PerScheme& per_scheme, model::SchemeSlot slot);
PlainValue sources_to_value(const std::vector<model::SourceEntry>& sources);
PlainValue fallbacks_to_values(const std::vector<model::SourceKind>& fallbacks);
PlainValue patterns_to_values(const model::BypassRules& rules);
PlainValue rejected_to_values(const std::vector<model::RejectedValue>& rejected);
PlainValue strings_to_values(const std::vector<std::string>& texts);

}  // namespace zelvane::python
