// What a unit's benchmark (foo_bench.cpp beside foo.cpp) may use besides Google Benchmark:
// the shared inputs, and the targets that the table checks its figures against.
//
// A row is one registered benchmark; its name is the row's label. A benchmark that cannot
// run here (an input missing, say) calls state.SkipWithError(reason): the table shows the
// reason in place of figures.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvane::bench {

// Runs op `calls` times with every operator new counted and reports the mean count per call
// as the row's "allocs/op" (set up the operation's inputs before). Allocations that other
// threads make meanwhile count too; malloc from C code (QuickJS) does not.
void start_counting_allocations();
std::int64_t stop_counting_allocations();
template <class F>
void report_allocations(benchmark::State& state, F&& op, int calls = 64) {
  start_counting_allocations();
  for (int i = 0; i < calls; ++i) op();
  const std::int64_t n = stop_counting_allocations();
  state.counters["allocs/op"] =
      benchmark::Counter(static_cast<double>(n) / calls, benchmark::Counter::kAvgThreads);
}

// The folder of the inputs shared with other projects' benchmarks: $ZELVANE_BENCH_DATA when
// set, else ../shared/bench beside the source tree.
std::string shared_input_dir();
// The whole text of a shared input, or none after state.SkipWithError names what is missing.
std::optional<std::string> read_shared_input(benchmark::State& state, std::string_view file);

// A goal for one row, checked after the run and shown under the table (never a failure: the
// figures of a shared machine vary). Rows are named as the table names them.
struct Target {
  enum class Kind {
    TimeBelow,         // row's CPU time per operation below `value` seconds
    TimeWithinFactor,  // row's CPU time per operation at most `value` times `reference`'s
    // row's wall-clock time per operation at most `value` times `reference`'s: for a row whose
    // work runs on threads other than the benchmark's own (a pool's round trip)
    WallTimeWithinFactor,
    ThroughputAtLeast,  // row's operations per second (wall-clock) at least `value` times `reference`'s
  };
  Kind kind;
  std::string row;
  double value;
  std::string reference;
};
// Registers a target; returns true so that a file can register at namespace scope:
//   const bool registered = zelvane::bench::add_target({...});
bool add_target(Target target);

}  // namespace zelvane::bench
