// The pool of "zelvane-pac" threads that runs PAC evaluations which have a time-out.
//
// A caller hands over one job with its budget and blocks until the answer arrives, the budget
// runs out, or no evaluation slot comes free in time; it is never held past its budget. At most
// `max_slots` evaluations run at once. An evaluation that overruns goes on in the background
// (the engine's deadline interrupt ends it soon after) and keeps its slot until it ends; its
// late answer is dropped. Idle threads are reused, the most recently idle first, and each
// leaves after `idle_timeout` without work. Nothing stops a pool from outside.
//
// Locks: the slot count (with its condition variable) and the idle list each have a mutex of
// their own; no thread holds both, except the fork handler, which takes them in that order and
// waits for nothing else meanwhile. No lock is held while a job runs, a thread starts or a
// message is passed. pool.cpp holds these rules as annotations, which the locks build checks.
//
// Waking a parked thread costs tens of microseconds on some machines (virtual ones above all),
// and a round trip would pay two wakes. So while the pool leaves the machine cores to spare, a
// thread that has just answered waits actively for a moment before it parks, and a caller
// whose answer is expected soon waits actively for it; a message to a thread that is still
// looking costs no system call. A busy pool parks at once. After that moment an idle thread
// sleeps until its next task or its idle exit, with no wake-up in between.
//
// fork(): a child has none of the parent's threads. The slots that they held are not counted
// in the child, their idle entries are skipped, and the pool's locks are usable there.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/route_step.hpp"
#include "threads/thread.hpp"
#include "value/time.hpp"

namespace zelvane::pac {

using PacAnswer = model::Result<std::vector<model::RouteStep>>;

// One evaluation request, moved whole to a pool thread and run there at most once. `work`
// owns copies of everything it reads (script, URL, host, policy), so nothing of the caller's
// is referenced after the hand-over; it is given the deadline that also bounds the caller's
// waits (none when the budget is too large for the clock) and must stop soon after it.
// A work that throws a std::exception gives its evaluation up: the caller is told that the
// thread ended without a result, and the thread carries on.
struct PacJob {
  std::move_only_function<PacAnswer(std::optional<value::MonotonicInstant> deadline)> work;
  value::Duration budget;

  // Runs the work. A failure reported at or after the deadline is the time-out that caused it
  // (the engine's interruption, typically) and becomes PacTimeout with the budget; success is
  // kept however late it came. The job is spent afterwards.
  PacAnswer call_once(std::optional<value::MonotonicInstant> deadline) &&;
};

// The larger of the parallelism the platform reports and 4 (4 when it reports none).
std::size_t default_max_slots() noexcept;

using PacThreadStarter = std::function<std::expected<threads::ThreadHandle, threads::SpawnError>(
    std::string_view, threads::ThreadBody)>;

struct PacPoolOptions {
  std::chrono::nanoseconds idle_timeout = std::chrono::seconds(30);
  std::size_t max_slots = default_max_slots();  // 0 is taken as 1
  // How pool threads are started; empty: threads::start_thread.
  PacThreadStarter start_thread;
};

// A momentary view, for diagnostics and tests.
struct PacPoolStats {
  std::size_t active = 0;     // slots taken
  std::size_t idle = 0;       // threads listed as idle
  std::uint64_t started = 0;  // threads started by this pool so far
};

class PacPool {
 public:
  // The one pool of the process, created by the first call and never destroyed.
  static PacPool& process();

  // A pool of its own (tests). Its threads keep what they use alive, so it may be dropped
  // while they still run or idle.
  explicit PacPool(PacPoolOptions options);
  ~PacPool();
  PacPool(const PacPool&) = delete;
  PacPool& operator=(const PacPool&) = delete;

  // Runs the job on a pool thread within `job.budget` (blocking for about that long at most):
  // its answer, or PacTimeout (zero budget, or no answer in time), PacSaturated (no slot in
  // time; the job never runs), Io (no thread could be started) or PacEvaluation (the thread
  // ended without producing a result).
  PacAnswer evaluate(PacJob job);

  std::size_t max_slots() const noexcept;
  std::chrono::nanoseconds idle_timeout() const noexcept;
  PacPoolStats stats() const;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace zelvane::pac
