#include <string>
#include <vector>

#include "bench/bench.hpp"
#include "pac/pool.hpp"
#include "pac/quickjs.hpp"

namespace zelvane::pac {

using namespace model;
using namespace value;

namespace {

// Evaluations of the shared script through the process's pool, every benchmark thread a
// caller waiting for its answer: the pool's throughput with one caller and with eight.
void BM_PoolThroughput(benchmark::State& state) {
  const auto script = bench::read_shared_input(state, "typical.pac");
  if (!script) return;
  hostfn::PacPolicy policy;
  policy.timeout = Duration{10, 0};
  auto job = [&] {
    // As a pooled evaluation has it: the job owns copies of what it reads.
    return PacJob{[script = *script, policy](std::optional<MonotonicInstant> deadline) {
                    return evaluate_pac_quickjs(script, "https://www.example.com/", "www.example.com", policy,
                                                deadline);
                  },
                  *policy.timeout};
  };
  if (state.thread_index() == 0 && !PacPool::process().evaluate(job())) {
    state.SkipWithError("the shared script does not evaluate on the pool");
  }
  for (auto _ : state) benchmark::DoNotOptimize(PacPool::process().evaluate(job()));
  state.SetItemsProcessed(state.iterations());
}

// A job that does nothing and answers nothing, so the figures are the pool's own: the round
// trip from one caller, and what the hand-over allocates (the job's own copies aside; this one
// has none). A pool of its own, so that its jobs do not teach the process's pool how long an
// evaluation takes.
void BM_PoolHandOver(benchmark::State& state) {
  static PacPool& pool = *new PacPool(PacPoolOptions{});  // its threads may idle past the row
  const auto op = [] {
    return pool.evaluate(
        PacJob{[](std::optional<MonotonicInstant>) { return PacAnswer(std::vector<RouteStep>{}); },
               Duration{10, 0}});
  };
  if (!op()) {
    state.SkipWithError("the pool does not answer");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(op());
  bench::report_allocations(state, op, 256);
}

BENCHMARK(BM_PoolThroughput)->Name("pac/pool/typical.pac")->Threads(1)->Threads(8)->UseRealTime();
BENCHMARK(BM_PoolHandOver)->Name("pac/pool/empty_job")->UseRealTime();

const bool registered =
    bench::add_target({bench::Target::Kind::ThroughputAtLeast, "pac/pool/typical.pac/real_time/threads:8", 6,
                       "pac/pool/typical.pac/real_time/threads:1"}) &&
    bench::add_target({bench::Target::Kind::WallTimeWithinFactor, "pac/pool/typical.pac/real_time/threads:1",
                       1.2, "pac/evaluate/typical.pac"});

}  // namespace
}  // namespace zelvane::pac
