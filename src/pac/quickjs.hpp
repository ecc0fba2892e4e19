// One PAC evaluation in QuickJS-ng: a runtime of its own under fixed memory and stack limits,
// the fourteen host functions on the global object, the script run as a global script, its
// entry point called with the URL and the host, and the answer read by the PAC answer parser.
// Nothing outlives a call, so one script never sees what another (or an earlier run of
// itself) left behind, and any number of evaluations may run at once on different threads.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/route_step.hpp"
#include "pac/hostfn/policy.hpp"
#include "pac/hostfn/resolver.hpp"
#include "value/time.hpp"

namespace zelvane::pac {

// Counted over the engine's own allocations.
inline constexpr std::size_t kPacMemoryLimit = std::size_t{64} << 20;
// The engine's own recursion (script calls, parsing), counted within the evaluating thread's
// stack: that thread needs comfortably more free stack than this.
inline constexpr std::size_t kPacStackLimit = std::size_t{256} << 10;

// The interrupt handler of one runtime: stop the script once the monotonic clock has reached
// the deadline.
struct DeadlineInterrupt {
  value::MonotonicInstant deadline;

  bool should_stop(value::MonotonicInstant now) const { return now >= deadline; }
  bool should_stop() const { return should_stop(std::chrono::steady_clock::now()); }
};

// Runs `script` and calls its FindProxyForURL (or FindProxyForURLEx) with `url` (already
// prepared for scripts) and `host`, on the calling thread. Without a deadline only the memory
// and stack limits end a script that does not end by itself. Every failure of the engine is
// PacEvaluation with a reason naming the step; an answer without a usable item is the answer
// parser's PacInvalidResult. The policy (its timeout aside) and the resolver serve the host
// functions only.
model::Result<std::vector<model::RouteStep>> evaluate_pac_quickjs(
    std::string_view script, std::string_view url, std::string_view host, const hostfn::PacPolicy& policy,
    std::optional<value::MonotonicInstant> deadline, hostfn::Resolver& resolver = hostfn::system_resolver());

}  // namespace zelvane::pac
