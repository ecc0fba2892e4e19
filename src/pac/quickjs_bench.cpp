#include <quickjs.h>

#include "bench/bench.hpp"
#include "pac/quickjs.hpp"

namespace zelvane::pac {
namespace {

// What no evaluation can beat: a runtime and a context, created and freed.
void BM_RuntimeFloor(benchmark::State& state) {
  for (auto _ : state) {
    JSRuntime* rt = JS_NewRuntime();
    JSContext* ctx = JS_NewContext(rt);
    benchmark::DoNotOptimize(ctx);
    JS_FreeContext(ctx);
    JS_FreeRuntime(rt);
  }
}

// One evaluation of the shared script on the calling thread, as a policy without timeout has it.
void BM_EvaluateTypical(benchmark::State& state) {
  const auto script = bench::read_shared_input(state, "typical.pac");
  if (!script) return;
  const hostfn::PacPolicy policy;
  const auto op = [&] {
    return evaluate_pac_quickjs(*script, "https://www.example.com/", "www.example.com", policy, std::nullopt);
  };
  if (const auto first = op(); !first) {
    state.SkipWithError("the shared script does not evaluate");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(op());
  bench::report_allocations(state, op, 16);
}

BENCHMARK(BM_RuntimeFloor)->Name("pac/floor/runtime_and_context");
BENCHMARK(BM_EvaluateTypical)->Name("pac/evaluate/typical.pac");

const bool registered = bench::add_target({bench::Target::Kind::TimeWithinFactor, "pac/evaluate/typical.pac",
                                           1.5, "pac/floor/runtime_and_context"});

}  // namespace
}  // namespace zelvane::pac
