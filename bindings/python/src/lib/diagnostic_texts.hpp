// The texts that Diagnostics and the export share: the refused values of a reading, once each,
// and the names of its sources and fallbacks.
#pragma once

#include <string>
#include <vector>

#include "model/config.hpp"

namespace zelvane::python {

using namespace model;

// "<kind> from <source>: <value>"
std::string rejected_text(const RejectedValue& value);
// The refused values of every mode of the reading, once each, in the order first met.
std::vector<std::string> collect_rejected(const ProxyConfig& config);
std::vector<std::string> source_names(const std::vector<SourceEntry>& sources);
std::vector<std::string> fallback_names(const std::vector<SourceKind>& fallbacks);

}  // namespace zelvane::python
