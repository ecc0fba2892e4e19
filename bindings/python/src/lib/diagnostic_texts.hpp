// The texts that Diagnostics and the export share: the refused values of a reading, once each,
// and the names of its sources and fallbacks.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/config.hpp"

namespace zelvane::python {

// "<kind> from <source>: <value>"
std::string rejected_text(const model::RejectedValue& value);
// Calls f with each refused value of every mode of the reading, once each (equal values are one),
// in the order first met.
void each_distinct_rejected(const model::ProxyConfig& config,
                            const std::function<void(const model::RejectedValue&)>& f);
// Their texts.
std::vector<std::string> collect_rejected(const model::ProxyConfig& config);
// Near the size of the reading's debug text, a little over it as a rule: reserved at once, a
// text of hundreds of MB never holds an old and a new copy while it grows. Reserved pages that
// are never written cost no memory; a guess too small only costs that growth.
std::size_t debug_text_size_hint(const model::ProxyConfig& config);
std::vector<std::string> source_names(const std::vector<model::SourceEntry>& sources);
std::vector<std::string> fallback_names(const std::vector<model::SourceKind>& fallbacks);

}  // namespace zelvane::python
