// The texts that Diagnostics and the export share: the refused values of a reading, once each,
// and the names of its sources and fallbacks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/config.hpp"

namespace zelvane::python {

using namespace model;

// "<kind> from <source>: <value>"
std::string rejected_text(const RejectedValue& value);
// Calls f with each refused value of every mode of the reading, once each (equal values are one),
// in the order first met.
void each_distinct_rejected(const ProxyConfig& config, const std::function<void(const RejectedValue&)>& f);
// Their texts.
std::vector<std::string> collect_rejected(const ProxyConfig& config);
// Near the size of the reading's debug text, a little over it as a rule: reserved at once, a
// text of hundreds of MB never holds an old and a new copy while it grows. Reserved pages that
// are never written cost no memory; a guess too small only costs that growth.
std::size_t debug_text_size_hint(const ProxyConfig& config);
std::vector<std::string> source_names(const std::vector<SourceEntry>& sources);
std::vector<std::string> fallback_names(const std::vector<SourceKind>& fallbacks);

}  // namespace zelvane::python
