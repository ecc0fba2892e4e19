// pac::resolve with the native engine of the build, on its simulated Windows: WinHTTP hears only
// the decision's one question, through the process-wide session of the WPAD switch, and a
// WinHTTP without its resolver answers as the build without the engine.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "bypass/lists.hpp"
#include "model/test_print.hpp"
#include "pac/native.hpp"
#include "pac/resolve.hpp"
#include "pac/test_answer.hpp"
#include "route/static_route.hpp"
#include "sys/win/sim/sim.hpp"
#include "value/debug.hpp"

namespace zelvane::pac {
namespace {

using model::Error;
using model::ProxyConfig;
using model::ProxyMode;
using model::RouteStep;
using sys::win::sim::Op;
using sys::win::sim::Resolution;
using value::debug_text;

value::Url url(std::string_view text) { return value::Url::parse(text).value(); }
ProxyConfig config_of(ProxyMode mode) {
  return ProxyConfig::from_sources({{model::SourceKind::Registry, std::move(mode)}});
}
RouteRequest asking(EngineChoice engine, bool wpad) {
  return {engine, std::nullopt, wpad, hostfn::PacPolicy{}};
}

std::vector<RouteStep> through(std::string host, std::uint16_t port, std::optional<model::ProxyScheme> hint) {
  return {
      RouteStep{RouteStep::Http{model::ProxyEndpoint{hint, value::Host::domain(std::move(host)), port, {}}}}};
}
std::string steps_text(const model::Result<std::vector<RouteStep>>& steps) {
  return steps ? debug_text(*steps) : "error: " + debug_text(steps.error());
}

// WinHTTP's answer of one HTTP proxy on its scheme's default port.
Resolution answering(std::u16string host) {
  Resolution r;
  r.result = {1, std::vector<sys::win::ProxyResultEntry>{{true, sys::win::kInternetSchemeHttp, host, 0}}};
  return r;
}

std::size_t logged(const sys::win::sim::Control& windows, Op op) {
  std::size_t n = 0;
  for (const auto& call : windows.log()) n += call.op == op ? 1 : 0;
  return n;
}

constexpr std::string_view kPacUrl = "http://pac.corp/proxy.pac";

TEST(NativeResolveTest, SettingsAndUrlsWithoutAQuestionForWinHttp) {
  auto windows = sys::win::sim::default_windows().control();
  windows.clear_log();
  const std::size_t requests = windows.requests().size();
  const std::size_t sessions = windows.sessions().size();
  const ProxyConfig pac = config_of({ProxyMode::Pac{url(kPacUrl), {}}});
  const ProxyConfig wpad = config_of({ProxyMode::WpadAutoDetect{}});
  const ProxyConfig manual = config_of(bypass::parse_proxy_settings("proxy.corp:3128", "*.local"));
  const std::string direct = steps_by(route::direct_route(), "none");
  struct Case {
    ProxyConfig config;
    std::string url;
    bool under_auto;  // also with "auto" (else "native" only: "auto" would run an inline script)
    bool with_wpad;   // also with wpad true (else false only: discovery is then WinHTTP's question)
    std::string expected;
  };
  const std::vector<Case> cases = {
      {config_of({ProxyMode::PacInline{"function FindProxyForURL(){}", {}}}), "http://www.example/", false,
       true, "pac-inline function FindProxyForURL(){} by none"},
      {config_of({ProxyMode::PacInline{"x", {}}}), "mailto:someone@example.org", true, true, direct},
      {wpad, "mailto:someone@example.org", true, true, direct},
      {wpad, "foo:///empty-host", true, true, direct},
      {wpad, "http://www.example/", true, false, "wpad by none"},
      {pac, "data:text/plain,x", true, true, direct},
      {pac, "file:///etc/hosts", true, true, direct},
      {config_of({ProxyMode::Direct{}}), "http://www.example/", true, true, direct},
      {manual, "http://www.example/", true, true,
       steps_by(through("proxy.corp", 3128, std::nullopt), "none")},
      {manual, "http://a.local/", true, true, direct},
  };
  for (const Case& c : cases) {
    for (const EngineChoice engine : {EngineChoice::Native, EngineChoice::Auto}) {
      if (engine == EngineChoice::Auto && !c.under_auto) continue;
      for (const bool w : {false, true}) {
        if (w && !c.with_wpad) continue;
        EXPECT_EQ(answer_text(resolve(c.config, url(c.url), asking(engine, w))), c.expected)
            << debug_text(c.config.effective) << " " << c.url << " P" << static_cast<int>(engine) << " W"
            << w;
      }
    }
  }
  EXPECT_EQ(windows.requests().size(), requests) << "WinHTTP was asked nothing";
  EXPECT_EQ(windows.sessions().size(), sessions) << "no session was opened";
  EXPECT_EQ(logged(windows, Op::WinHttpCreateProxyResolver), 0u) << "no resolver was made";
  EXPECT_EQ(logged(windows, Op::WinHttpIeProxyConfig), 0u) << "no fallback was read";
}

TEST(NativeResolveTest, TheDecisionReachesTheProcessWideSessionOfItsWpadSwitch) {
  auto windows = sys::win::sim::default_windows().control();
  EXPECT_TRUE(native_engine_present());
  const value::Url target = url("http://www.example/");
  const ProxyConfig pac = config_of({ProxyMode::Pac{url(kPacUrl), {}}});
  const ProxyConfig wpad = config_of({ProxyMode::WpadAutoDetect{}});
  // A PAC URL through either session, as ConfigUrl with the URL.
  for (const bool w : {false, true}) {
    windows.script_resolution(answering(u"native.corp"));
    EXPECT_EQ(answer_text(resolve(pac, target, asking(EngineChoice::Native, w))),
              steps_by(through("native.corp", 80, model::ProxyScheme::Http), "native"))
        << "W" << w;
    ASSERT_FALSE(windows.requests().empty());
    EXPECT_EQ(windows.requests().back().options,
              (sys::win::AutoProxyOptions{sys::win::kWinHttpAutoProxyConfigUrl, 0,
                                          u"http://pac.corp/proxy.pac", false}));
  }
  // Discovery through the session that falls back on the user's own settings: nothing found,
  // their manual proxy answers.
  windows.set_ie_config({true, std::nullopt, u"proxy.corp:3128", std::nullopt});
  Resolution nothing_found;
  nothing_found.status = sys::win::kErrorWinHttpAutodetectionFailed;
  windows.script_resolution(nothing_found);
  EXPECT_EQ(answer_text(resolve(wpad, target, asking(EngineChoice::Auto, true))),
            steps_by(through("proxy.corp", 3128, std::nullopt), "native"));
  // Without the switch, discovery is asked of nobody.
  const std::size_t requests = windows.requests().size();
  EXPECT_EQ(answer_text(resolve(wpad, target, asking(EngineChoice::Native, false))), "wpad by none");
  EXPECT_EQ(windows.requests().size(), requests);
  windows.settle_callbacks();
  EXPECT_EQ(windows.live_resolvers(), 0u);
  windows.reset();
}

TEST(NativeResolveTest, WithoutItsResolverWinHttpAnswersAsTheBuildWithoutTheEngine) {
  auto windows = sys::win::sim::default_windows().control();
  const ProxyConfig pac = config_of({ProxyMode::Pac{url(kPacUrl), {}}});
  const ProxyConfig wpad = config_of({ProxyMode::WpadAutoDetect{}});
  const value::Url target = url("http://www.example/");
  EXPECT_TRUE(native_engine_present());

  windows.set_proxy_resolver_present(false);
  const std::size_t requests = windows.requests().size();
  const std::size_t sessions = windows.sessions().size();
  EXPECT_FALSE(native_engine_present());
  // What the engine is asked is answered as the road without a script answers it...
  for (const bool w : {false, true}) {
    EXPECT_EQ(steps_text(route_native(pac, target, w)),
              "error: " + debug_text(Error(Error::PacFetchRequired{url(kPacUrl)})));
    EXPECT_EQ(steps_text(route_native(wpad, target, w)),
              "error: " + debug_text(Error(Error::PacNotSupported{"wpad"})));
  }
  // ... so the decision gives what it gives with no engine at all.
  const std::vector<ProxyConfig> configs = {pac, wpad, config_of({ProxyMode::PacInline{"x", {}}}),
                                            config_of({ProxyMode::Direct{}})};
  for (const ProxyConfig& config : configs) {
    for (const char* u : {"http://www.example/", "mailto:someone@example.org"}) {
      for (const EngineChoice engine : {EngineChoice::Native, EngineChoice::Auto}) {
        for (const bool w : {false, true}) {
          EXPECT_EQ(answer_text(resolve(config, url(u), asking(engine, w))),
                    answer_text(resolve(config, url(u), asking(engine, w), nullptr)))
              << debug_text(config.effective) << " " << u << " P" << static_cast<int>(engine) << " W" << w;
        }
      }
    }
  }
  EXPECT_EQ(answer_text(resolve(pac, target, asking(EngineChoice::Auto, true))),
            "pac " + std::string(kPacUrl) + " by none");
  EXPECT_EQ(answer_text(resolve(wpad, target, asking(EngineChoice::Auto, true))), "wpad by none");
  EXPECT_EQ(windows.requests().size(), requests) << "WinHTTP was asked nothing";
  EXPECT_EQ(windows.sessions().size(), sessions) << "no session was opened";

  // reset() brings the resolver back, and the decision reaches it.
  windows.reset();
  EXPECT_TRUE(native_engine_present());
  windows.script_resolution(answering(u"native.corp"));
  EXPECT_EQ(answer_text(resolve(pac, target, asking(EngineChoice::Auto, true))),
            steps_by(through("native.corp", 80, model::ProxyScheme::Http), "native"));
  EXPECT_EQ(windows.requests().size(), requests + 1);
  windows.settle_callbacks();
  EXPECT_EQ(windows.live_resolvers(), 0u);
}

}  // namespace
}  // namespace zelvane::pac
