// The portable entry on the simulated Windows of the build: the route decision reaches
// WinHTTP's resolver through it, and a WinHTTP without its resolver answers as the build
// without the engine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/test_print.hpp"
#include "pac/native.hpp"
#include "pac/resolve.hpp"
#include "sys/win/sim/sim.hpp"
#include "value/debug.hpp"

namespace zelvane::pac {
namespace {

using model::ProxyConfig;
using model::ProxyMode;
using value::debug_text;

value::Url url(std::string_view text) { return value::Url::parse(text).value(); }
ProxyConfig config_of(ProxyMode mode) {
  return ProxyConfig::from_sources({{model::SourceKind::Registry, std::move(mode)}});
}

std::string outcome(const model::Result<std::vector<model::RouteStep>>& steps) {
  return steps ? debug_text(*steps) : "error: " + debug_text(steps.error());
}

TEST(NativeEntryTest, WithoutItsResolverWinHttpAnswersAsTheBuildWithoutTheEngine) {
  auto windows = sys::win::sim::default_windows().control();
  const ProxyConfig pac = config_of({ProxyMode::Pac{url("http://pac.corp/proxy.pac"), {}}});
  const ProxyConfig wpad = config_of({ProxyMode::WpadAutoDetect{}});
  const value::Url target = url("http://www.example/");
  const RouteRequest request{EngineChoice::Auto, std::nullopt, true, hostfn::PacPolicy{}};
  EXPECT_TRUE(native_engine_present());

  windows.set_proxy_resolver_present(false);
  const std::size_t requests = windows.requests().size();
  const std::size_t sessions = windows.sessions().size();
  EXPECT_FALSE(native_engine_present());
  const std::vector<ProxyConfig> configs = {pac, wpad, config_of({ProxyMode::PacInline{"x", {}}}),
                                            config_of({ProxyMode::Direct{}})};
  for (const ProxyConfig& config : configs) {
    for (const char* u : {"http://www.example/", "mailto:someone@example.org"}) {
      for (const bool w : {false, true}) {
        EXPECT_EQ(outcome(route_native(config, url(u), w)), outcome(route_native_absent(config, url(u))))
            << debug_text(config.effective) << " " << u;
      }
    }
  }
  auto answer = resolve(pac, target, request);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->kind, RouteKind::Pac);
  EXPECT_EQ(answer->text, "http://pac.corp/proxy.pac");
  EXPECT_EQ(answer->engine, EngineUsed::None);
  answer = resolve(wpad, target, request);
  ASSERT_TRUE(answer.has_value());
  EXPECT_EQ(answer->kind, RouteKind::Wpad);
  EXPECT_EQ(answer->engine, EngineUsed::None);
  EXPECT_EQ(windows.requests().size(), requests) << "WinHTTP was asked nothing";
  EXPECT_EQ(windows.sessions().size(), sessions) << "no session was opened";

  // reset() brings the resolver back, and the decision reaches it.
  windows.reset();
  EXPECT_TRUE(native_engine_present());
  answer = resolve(pac, target, request);
  ASSERT_TRUE(answer.has_value()) << debug_text(answer.error());
  EXPECT_EQ(answer->kind, RouteKind::Steps);
  EXPECT_EQ(answer->engine, EngineUsed::Native);
  EXPECT_EQ(windows.requests().size(), requests + 1);
  windows.settle_callbacks();
  EXPECT_EQ(windows.live_resolvers(), 0u);
}

}  // namespace
}  // namespace zelvane::pac
