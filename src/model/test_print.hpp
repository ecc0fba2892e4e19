// GoogleTest printers for the model: failures show values in their debug text.
#pragma once

#include <ostream>

#include "model/config.hpp"
#include "model/route_step.hpp"
#include "value/debug.hpp"
#include "model/error.hpp"

namespace zelvane::model {

using value::debug_text;

inline void PrintTo(const RejectedValue& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const ProxyEndpoint& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const ProxyMode& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const ProxyConfig& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const SchemeEntry& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const BypassRule& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const BypassRules& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const RouteStep& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const Host& v, std::ostream* os) { *os << debug_text(v); }
inline void PrintTo(const Error& v, std::ostream* os) { *os << debug_text(v); }

}  // namespace zelvane::model
