#include <string>

#include "bench/bench.hpp"
#include "bypass/match.hpp"
#include "bypass/rules.hpp"

namespace zelvane::bypass {

using namespace model;
using namespace value;

namespace {

// A no_proxy list as people write it: names, subdomains, addresses, networks, a glob, a port.
constexpr std::string_view kTenRules =
    "localhost,127.0.0.1,.corp.example,10.0.0.0/8,192.168.0.0/16,*.internal.example,intranet,"
    ".svc.cluster.local,172.16.0.0/12,example.org:8080";

// A destination that no rule names: every rule is tried.
constexpr std::string_view kUrl = "https://api.service.example.com/v1/items?id=42";

std::string thousand_rules() {
  std::string list;
  for (int i = 0; i < 1000; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 5) {
      case 0:
        list += "host" + n + ".example.com";
        break;
      case 1:
        list += ".zone" + n + ".example.net";
        break;
      case 2:
        list += "10." + std::to_string(i / 256) + "." + std::to_string(i % 256) + ".0/24";
        break;
      case 3:
        list += "*.w" + n + ".example.org";
        break;
      case 4:
        list += "site" + n + ".example:8080";
        break;
    }
    list += ',';
  }
  return list;
}

void run(benchmark::State& state, std::string_view list, std::size_t expected_rules) {
  const BypassRules rules = parse(list, ",", BypassDialect::NoProxyStyle);
  if (rules.patterns.size() != expected_rules || !rules.rejected.empty()) {
    state.SkipWithError("the list does not parse into the rules it should");
    return;
  }
  const Url url = Url::parse(kUrl).value();
  const auto op = [&] { benchmark::DoNotOptimize(matches(rules, url)); };
  for (auto _ : state) op();
  bench::report_allocations(state, op);
}

void BM_Match10(benchmark::State& state) { run(state, kTenRules, 10); }
void BM_Match1000(benchmark::State& state) { run(state, thousand_rules(), 1000); }

BENCHMARK(BM_Match10)->Name("bypass/match/10_rules");
BENCHMARK(BM_Match1000)->Name("bypass/match/1000_rules");

}  // namespace
}  // namespace zelvane::bypass
