#include "bench/bench.hpp"
#include "bypass/rules.hpp"
#include "route/static_route.hpp"

namespace zelvane::route {

using namespace model;
using namespace value;

namespace {

void BM_StaticRoute10(benchmark::State& state) {
  const BypassRules bypass = bypass::parse(
      "localhost,127.0.0.1,.corp.example,10.0.0.0/8,192.168.0.0/16,*.internal.example,intranet,"
      ".svc.cluster.local,172.16.0.0/12,example.org:8080",
      ",", BypassDialect::NoProxyStyle);
  auto use = [](std::string host) {
    return SchemeEntry{
        SchemeEntry::Use{ProxyEndpoint{std::nullopt, Host::domain(std::move(host)), 3128, {}}}};
  };
  const ProxyMode mode{ProxyMode::Manual{
      {{SchemeSlot::Http, use("proxy.corp.example")}, {SchemeSlot::Https, use("secure-proxy.corp.example")}},
      bypass,
      {}}};
  // Not bypassed: the route takes the Https slot's proxy.
  const Url url = Url::parse("https://api.service.example.com/v1/items?id=42").value();
  const auto op = [&] { benchmark::DoNotOptimize(route_static(mode, url)); };
  for (auto _ : state) op();
  bench::report_allocations(state, op);
}

BENCHMARK(BM_StaticRoute10)->Name("route/static/10_rules");

const bool registered =
    bench::add_target({bench::Target::Kind::TimeBelow, "route/static/10_rules", 1e-6, ""});

}  // namespace
}  // namespace zelvane::route
