// The benchmark program: every row registered by a *_bench.cpp, run once, then one table of
// the figures of that run and the targets checked against them. Options are Google
// Benchmark's (--benchmark_filter=REGEX, --benchmark_min_time=SECONDS, ...).
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench.hpp"

// Allocations through operator new are counted while a row asks for it (report_allocations).
namespace {
std::atomic<bool> g_counting{false};
std::atomic<std::int64_t> g_allocations{0};
}  // namespace

// Replacing the global allocation functions: free() is their deallocation, as malloc() is
// their allocation, which GCC cannot see.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace zelvane::bench {
namespace {

std::vector<Target>& targets() {
  static std::vector<Target> all;
  return all;
}

struct Row {
  std::string name;
  std::string error;
  double seconds_per_op = 0;      // wall-clock
  double cpu_seconds_per_op = 0;  // of the benchmark's own threads
  double ops_per_second = 0;
  double allocs_per_op = -1;
  std::int64_t iterations = 0;
};

std::string fixed(double v, int decimals) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// Three significant figures in the unit that suits the value.
std::string duration_text(double seconds) {
  const char* unit = "s";
  double v = seconds;
  if (seconds < 1e-6) {
    v = seconds * 1e9, unit = "ns";
  } else if (seconds < 1e-3) {
    v = seconds * 1e6, unit = "us";
  } else if (seconds < 1) {
    v = seconds * 1e3, unit = "ms";
  }
  return fixed(v, v < 10 ? 2 : v < 100 ? 1 : 0) + " " + unit;
}

std::string rate_text(double per_second) {
  const char* unit = "";
  double v = per_second;
  if (per_second >= 1e9) {
    v = per_second / 1e9, unit = " G";
  } else if (per_second >= 1e6) {
    v = per_second / 1e6, unit = " M";
  } else if (per_second >= 1e3) {
    v = per_second / 1e3, unit = " k";
  }
  return fixed(v, v < 10 ? 2 : v < 100 ? 1 : 0) + unit;
}

class TableReporter final : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context& context) override {
    context_ = context.cpu_info.num_cpus;
    load_ = context.cpu_info.load_avg;
    return true;
  }

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      Row row;
      row.name = run.benchmark_name();
      if (run.run_type == Run::RT_Aggregate) row.name += " (" + run.aggregate_name + ")";
      if (run.error_occurred) {
        row.error = run.error_message;
      } else {
        row.iterations = run.iterations;
        row.seconds_per_op = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        row.cpu_seconds_per_op = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        const auto items = run.counters.find("items_per_second");
        row.ops_per_second = items != run.counters.end() ? items->second.value
                             : row.seconds_per_op > 0    ? 1 / row.seconds_per_op
                                                         : 0;
        if (const auto allocs = run.counters.find("allocs/op"); allocs != run.counters.end()) {
          row.allocs_per_op = allocs->second.value;
        }
      }
      std::cerr << "  measured " << row.name << "\n";
      rows_.push_back(std::move(row));
    }
  }

  void Finalize() override {
    // By name up to its last '/', so that the rows of one unit stand together whatever the
    // link order; within that, in the order their file registers them.
    const auto family = [](const Row& r) { return std::string_view(r.name).substr(0, r.name.rfind('/')); };
    std::stable_sort(rows_.begin(), rows_.end(),
                     [&](const Row& a, const Row& b) { return family(a) < family(b); });
    std::size_t width = 9;
    for (const Row& r : rows_) width = std::max(width, r.name.size());
    auto pad = [](std::string s, std::size_t w, bool right) {
      if (s.size() >= w) return s;
      return right ? std::string(w - s.size(), ' ') + s : s + std::string(w - s.size(), ' ');
    };
    std::ostream& out = std::cout;
    out << "\nzelvane benchmarks: " << context_ << " CPUs, load average";
    for (double l : load_) out << ' ' << fixed(l, 2);
    out << "\ntime/op is wall-clock time; cpu/op the CPU time of the benchmark's own threads, the\n"
           "steadier figure on a busy machine, which the time targets use (ops/s is wall-clock)\n\n";
    out << pad("benchmark", width, false) << "  " << pad("time/op", 10, true) << "  "
        << pad("cpu/op", 10, true) << "  " << pad("ops/s", 9, true) << "  " << pad("allocs/op", 9, true)
        << "  " << pad("iterations", 11, true) << "\n";
    out << std::string(width + 61, '-') << "\n";
    for (const Row& r : rows_) {
      out << pad(r.name, width, false) << "  ";
      if (!r.error.empty()) {
        out << "skipped: " << r.error << "\n";
        continue;
      }
      out << pad(duration_text(r.seconds_per_op), 10, true) << "  "
          << pad(duration_text(r.cpu_seconds_per_op), 10, true) << "  "
          << pad(rate_text(r.ops_per_second), 9, true) << "  "
          << pad(r.allocs_per_op < 0 ? "-" : fixed(r.allocs_per_op, r.allocs_per_op < 10 ? 1 : 0), 9, true)
          << "  " << pad(std::to_string(r.iterations), 11, true) << "\n";
    }
    if (!targets().empty()) out << "\ntargets\n";
    for (const Target& t : targets()) out << "  " << check(t) << "\n";
    out.flush();
  }

 private:
  const Row* find(const std::string& name) const {
    for (const Row& r : rows_) {
      if (r.name == name && r.error.empty()) return &r;
    }
    return nullptr;
  }

  std::string check(const Target& t) const {
    const Row* row = find(t.row);
    const Row* ref = t.reference.empty() ? nullptr : find(t.reference);
    std::ostringstream s;
    s << t.row << ": ";
    auto verdict = [](bool met) { return met ? "met" : "MISSED"; };
    // Sets the row's figure against the reference's, for a target of at most `value` times it.
    auto within_factor = [&](double Row::*figure, const char* what) {
      s << fixed(row->*figure / ref->*figure, 2) << " x the " << what << " of " << t.reference
        << ", target at most " << fixed(t.value, 2)
        << " x: " << verdict(row->*figure <= t.value * ref->*figure);
    };
    switch (t.kind) {
      case Target::Kind::TimeBelow:
        if (row == nullptr) return s.str() + "not measured in this run";
        s << duration_text(row->cpu_seconds_per_op) << " CPU time per operation, target below "
          << duration_text(t.value) << ": " << verdict(row->cpu_seconds_per_op < t.value);
        break;
      case Target::Kind::TimeWithinFactor:
      case Target::Kind::WallTimeWithinFactor:
        if (row == nullptr || ref == nullptr)
          return s.str() + "not measured in this run (or " + t.reference + ")";
        if (t.kind == Target::Kind::TimeWithinFactor) {
          within_factor(&Row::cpu_seconds_per_op, "CPU time");
        } else {
          within_factor(&Row::seconds_per_op, "wall-clock time");
        }
        break;
      case Target::Kind::ThroughputAtLeast:
        if (row == nullptr || ref == nullptr)
          return s.str() + "not measured in this run (or " + t.reference + ")";
        s << fixed(row->ops_per_second / ref->ops_per_second, 2) << " x the throughput of " << t.reference
          << ", target at least " << fixed(t.value, 2)
          << " x: " << verdict(row->ops_per_second >= t.value * ref->ops_per_second);
        break;
    }
    return s.str();
  }

  int context_ = 0;
  std::vector<double> load_;
  std::vector<Row> rows_;
};

}  // namespace

void start_counting_allocations() {
  g_allocations.store(0, std::memory_order_relaxed);
  g_counting.store(true, std::memory_order_relaxed);
}

std::int64_t stop_counting_allocations() {
  g_counting.store(false, std::memory_order_relaxed);
  return g_allocations.load(std::memory_order_relaxed);
}

bool add_target(Target target) {
  targets().push_back(std::move(target));
  return true;
}

std::string shared_input_dir() {
  if (const char* dir = std::getenv("ZELVANE_BENCH_DATA"); dir != nullptr && *dir != '\0') return dir;
  return (std::filesystem::path(ZELVANE_SOURCE_DIR) / ".." / "shared" / "bench").lexically_normal().string();
}

std::optional<std::string> read_shared_input(benchmark::State& state, std::string_view file) {
  const std::filesystem::path path = std::filesystem::path(shared_input_dir()) / file;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const std::string reason = "no shared input " + path.string() + " (set ZELVANE_BENCH_DATA to its folder)";
    state.SkipWithError(reason.c_str());
    return std::nullopt;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return std::move(text).str();
}

}  // namespace zelvane::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  zelvane::bench::TableReporter table;
  benchmark::RunSpecifiedBenchmarks(&table);
  benchmark::Shutdown();
  return 0;
}
