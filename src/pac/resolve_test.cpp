#include "pac/resolve.hpp"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "bypass/lists.hpp"
#include "model/test_print.hpp"
#include "pac/test_answer.hpp"
#include "route/static_route.hpp"
#include "value/debug.hpp"

namespace zelvane::pac {
namespace {

using model::Error;
using model::ProxyConfig;
using model::ProxyMode;
using model::Result;
using model::RouteStep;
using value::debug_text;
using value::Url;

Url url(std::string_view text) { return Url::parse(text).value(); }

ProxyConfig config_of(ProxyMode mode) {
  return ProxyConfig::from_sources({{model::SourceKind::Registry, std::move(mode)}});
}

std::vector<RouteStep> through(std::string host, std::uint16_t port) {
  return {RouteStep{RouteStep::Http{
      model::ProxyEndpoint{model::ProxyScheme::Http, value::Host::domain(std::move(host)), port, {}}}}};
}

constexpr std::string_view kPacUrl = "http://pac.example/proxy.pac";
constexpr std::string_view kInlineScript =
    "function FindProxyForURL(url, host) { return 'PROXY inline.example:2'; }";
constexpr std::string_view kCallerScript =
    "function FindProxyForURL(url, host) { return 'PROXY caller.example:1'; }";
// A caller's script that shows whether it ran: its error is the answer only where it is evaluated.
constexpr std::string_view kThrowingScript =
    "function FindProxyForURL(url, host) { throw new Error('ran'); }";

// The native engine of the tests: counts its calls, keeps the WPAD switch of the last, and
// gives what it is told to.
struct FakeNative {
  static inline int calls = 0;
  static inline bool wpad = false;
  static inline Result<std::vector<RouteStep>> answer = through("native.example", 3);

  static Result<std::vector<RouteStep>> road(const ProxyConfig&, const Url&, bool w) {
    ++calls;
    wpad = w;
    return answer;
  }
  static void reset(Result<std::vector<RouteStep>> next = through("native.example", 3)) {
    calls = 0;
    wpad = false;
    answer = std::move(next);
  }
};

hostfn::PacPolicy inline_policy() { return hostfn::PacPolicy{}; }

// ---- the decision table

enum Mode : unsigned { kDirect = 1, kManual = 2, kPac = 4, kInline = 8, kWpad = 16 };
enum Engine : unsigned { kNone = 1, kNative = 2, kQuickJs = 4, kAuto = 8, kAnyEngine = 15 };
enum class Is : std::uint8_t { Any, Yes, No };
enum class Road : std::uint8_t {
  Static,        // the static route of the configuration, engine none
  Direct,        // one Direct step, engine none
  CallerScript,  // the caller's script in QuickJS-ng
  Unavailable,   // PacEngineUnavailable
  InlineScript,  // the inline script in QuickJS-ng
  InlineText,    // the unevaluated pac-inline route with the script
  Unevaluated,   // the unevaluated pac route with the PAC URL, or wpad
  Native,        // the native engine's steps, engine native
};

struct Row {
  int number;
  unsigned modes;
  Is host;
  Is script;
  unsigned engines;
  Is wpad;
  Road road;
};

// The decision table, tested from the top, the first row that applies deciding. Beyond what the
// module asks, the core answers the requests that the module refuses before it asks (a script with
// "none", wpad with "none" or "quickjs") by the same rows: row 3 takes a script with "none",
// row 8 discovery with wpad under "none" or "quickjs". The caller's script is none, one that
// answers, or one that throws: the rows that do not take it (1, 2, 4) would show its error.
constexpr Row kTable[] = {
    {1, kDirect | kManual, Is::Any, Is::Any, kAnyEngine, Is::Any, Road::Static},
    {2, kPac | kInline | kWpad, Is::No, Is::Any, kAnyEngine, Is::Any, Road::Direct},
    {3, kPac | kInline | kWpad, Is::Yes, Is::Yes, kNone | kQuickJs | kAuto, Is::Any, Road::CallerScript},
    {4, kPac | kInline | kWpad, Is::Yes, Is::Yes, kNative, Is::Any, Road::Unavailable},
    {5, kInline, Is::Yes, Is::No, kQuickJs | kAuto, Is::Any, Road::InlineScript},
    {6, kInline, Is::Yes, Is::No, kNone | kNative, Is::Any, Road::InlineText},
    {7, kWpad, Is::Yes, Is::No, kAnyEngine, Is::No, Road::Unevaluated},
    {8, kPac | kWpad, Is::Yes, Is::No, kNone | kQuickJs, Is::Any, Road::Unevaluated},
    {9, kPac | kWpad, Is::Yes, Is::No, kNative | kAuto, Is::Any, Road::Native},
};

bool fits(Is is, bool value) { return is == Is::Any || (is == Is::Yes) == value; }

struct Setting {
  Mode mode;
  ProxyConfig config;
};

TEST(ResolveTest, TheDecisionTable) {
  const std::vector<Setting> settings = {
      {kDirect, config_of({ProxyMode::Direct{}})},
      {kManual, config_of(bypass::parse_proxy_settings("proxy.example:3128", "*.local"))},
      {kPac, config_of({ProxyMode::Pac{url(kPacUrl), {}}})},
      {kInline, config_of({ProxyMode::PacInline{std::string(kInlineScript), {}}})},
      {kWpad, config_of({ProxyMode::WpadAutoDetect{}})},
  };
  // With a host; without one (none, an empty domain of a non-special URL, a file URL's).
  const std::vector<std::pair<std::string, bool>> urls = {
      {"http://www.example/", true}, {"http://printer.local/", true}, {"mailto:someone@example.org", false},
      {"foo:///empty-host", false},  {"file:///etc/hosts", false},
  };
  constexpr std::pair<Engine, EngineChoice> kEngines[] = {{kNone, EngineChoice::None},
                                                          {kNative, EngineChoice::Native},
                                                          {kQuickJs, EngineChoice::QuickJs},
                                                          {kAuto, EngineChoice::Auto}};
  std::array<int, std::size(kTable)> used{};
  for (const Setting& setting : settings) {
    for (const auto& [text, has_host] : urls) {
      const Url target = url(text);
      ASSERT_EQ(route::has_usable_host(target), has_host) << text;
      for (const std::optional<std::string_view> script :
           {std::optional<std::string_view>(), std::optional(kCallerScript),
            std::optional(kThrowingScript)}) {
        for (const auto& [engine_bit, engine] : kEngines) {
          for (const bool wpad : {false, true}) {
            const Row* row = nullptr;
            for (const Row& r : kTable) {
              if ((r.modes & setting.mode) != 0 && fits(r.host, has_host) &&
                  fits(r.script, script.has_value()) && (r.engines & engine_bit) != 0 && fits(r.wpad, wpad)) {
                row = &r;
                break;
              }
            }
            const std::string where = debug_text(setting.config.effective) + " " + text +
                                      (script ? " U=" + std::string(*script) : "") + " P" +
                                      std::to_string(static_cast<int>(engine)) + (wpad ? " W" : "");
            ASSERT_NE(row, nullptr) << "no row for " << where;
            ++used[static_cast<std::size_t>(row - kTable)];

            std::string expected;
            switch (row->road) {
              case Road::Static: {
                auto steps = route::route_static(setting.config, target);
                ASSERT_TRUE(steps.has_value()) << where;
                expected = steps_by(*steps, "none");
                break;
              }
              case Road::Direct:
                expected = steps_by(route::direct_route(), "none");
                break;
              case Road::CallerScript:
                expected =
                    script == kThrowingScript
                        ? "error: " + debug_text(Error(Error::PacEvaluation{"FindProxyForURL failed: ran"}))
                        : steps_by(through("caller.example", 1), "quickjs");
                break;
              case Road::Unavailable:
                expected = "error: " + debug_text(Error(Error::PacEngineUnavailable{}));
                break;
              case Road::InlineScript:
                expected = steps_by(through("inline.example", 2), "quickjs");
                break;
              case Road::InlineText:
                expected = "pac-inline " + std::string(kInlineScript) + " by none";
                break;
              case Road::Unevaluated:
                expected = setting.mode == kPac ? "pac " + std::string(kPacUrl) + " by none" : "wpad by none";
                break;
              case Road::Native:
                expected = steps_by(through("native.example", 3), "native");
                break;
            }

            FakeNative::reset();
            const RouteRequest request{engine, script, wpad, inline_policy()};
            EXPECT_EQ(answer_text(resolve(setting.config, target, request, &FakeNative::road)), expected)
                << "row " << row->number << ": " << where;
            EXPECT_EQ(FakeNative::calls, row->road == Road::Native ? 1 : 0)
                << "row " << row->number << ": " << where;
            if (row->road == Road::Native) {
              EXPECT_EQ(FakeNative::wpad, wpad) << where;
            }
          }
        }
      }
    }
  }
  for (std::size_t i = 0; i < used.size(); ++i)
    EXPECT_GT(used[i], 0) << "row " << kTable[i].number << " never decided";
}

// ---- the native road's answers

TEST(ResolveTest, TwoFailuresOfTheNativeRoadLeaveTheRouteUnevaluatedAndTheOthersAreTheAnswer) {
  const ProxyConfig pac = config_of({ProxyMode::Pac{url(kPacUrl), {}}});
  const ProxyConfig wpad = config_of({ProxyMode::WpadAutoDetect{}});
  const Url target = url("http://www.example/");
  const std::string unevaluated_pac = "pac " + std::string(kPacUrl) + " by none";
  struct Case {
    Error failure;
    bool unevaluated;
  };
  const std::vector<Case> cases = {
      {Error::PacNotSupported{"wpad"}, true},
      {Error::PacNotSupported{"pac-inline"}, true},
      {Error::PacFetchRequired{url(kPacUrl)}, true},
      {Error::PacTimeout{value::Duration{5, 0}}, false},
      {Error::PacEvaluation{"the PAC script could not be executed by WinHTTP"}, false},
      {Error::PacInvalidResult{"WinHTTP returned 0 proxy entries, none of them usable"}, false},
  };
  for (const Case& c : cases) {
    for (const EngineChoice engine : {EngineChoice::Native, EngineChoice::Auto}) {
      const RouteRequest request{engine, std::nullopt, true, inline_policy()};
      FakeNative::reset(std::unexpected(c.failure));
      EXPECT_EQ(answer_text(resolve(pac, target, request, &FakeNative::road)),
                c.unevaluated ? unevaluated_pac : "error: " + debug_text(c.failure))
          << debug_text(c.failure);
      FakeNative::reset(std::unexpected(c.failure));
      EXPECT_EQ(answer_text(resolve(wpad, target, request, &FakeNative::road)),
                c.unevaluated ? "wpad by none" : "error: " + debug_text(c.failure))
          << debug_text(c.failure);
      EXPECT_EQ(FakeNative::calls, 1);
    }
  }
}

TEST(ResolveTest, WithoutANativeEngineRowNineIsRowEight) {
  const Url target = url("http://www.example/");
  for (const EngineChoice engine : {EngineChoice::Native, EngineChoice::Auto}) {
    const RouteRequest request{engine, std::nullopt, true, inline_policy()};
    EXPECT_EQ(answer_text(resolve(config_of({ProxyMode::Pac{url(kPacUrl), {}}}), target, request, nullptr)),
              "pac " + std::string(kPacUrl) + " by none");
    EXPECT_EQ(answer_text(resolve(config_of({ProxyMode::WpadAutoDetect{}}), target, request, nullptr)),
              "wpad by none");
  }
}

// ---- what the roads bring back

TEST(ResolveTest, TheStaticRoutesErrorIsTheAnswer) {
  ProxyMode::Manual manual;
  manual.per_scheme[model::SchemeSlot::Https] =
      model::SchemeEntry{model::SchemeEntry::Unusable{model::RejectedValue{
          model::RejectedKind::InvalidProxyEndpoint,
          model::RejectedSource::environment_variable("https_proxy"), "bad", model::SchemeSlot::Https}}};
  const ProxyConfig config = config_of(ProxyMode{manual});
  const Url target = url("https://www.example/");
  const RouteRequest request{EngineChoice::Auto, kCallerScript, true, inline_policy()};
  FakeNative::reset();
  const auto answer = resolve(config, target, request, &FakeNative::road);
  ASSERT_FALSE(answer.has_value());
  EXPECT_EQ(debug_text(answer.error()), debug_text(route::route_static(config, target).error()));
  EXPECT_NE(answer.error().get_if<Error::ProxyEntryUnusable>(), nullptr);
  EXPECT_EQ(FakeNative::calls, 0);
}

TEST(ResolveTest, ThePolicyReachesTheQuickJsRoadAndItsErrorIsTheAnswer) {
  hostfn::PacPolicy pooled;
  pooled.timeout = value::Duration{};  // fails on the pool at once
  const std::string timeout = "error: " + debug_text(Error(Error::PacTimeout{value::Duration{}}));
  const Url target = url("http://www.example/");
  const ProxyConfig inline_pac = config_of({ProxyMode::PacInline{std::string(kInlineScript), {}}});
  const ProxyConfig pac = config_of({ProxyMode::Pac{url(kPacUrl), {}}});
  EXPECT_EQ(
      answer_text(resolve(inline_pac, target, {EngineChoice::Auto, std::nullopt, false, pooled}, nullptr)),
      timeout);
  EXPECT_EQ(answer_text(resolve(pac, target, {EngineChoice::QuickJs, kCallerScript, false, pooled}, nullptr)),
            timeout);
  // With the time to run, both scripts answer from the pool as they do on the calling thread.
  hostfn::PacPolicy roomy;
  roomy.timeout = value::Duration{30, 0};
  EXPECT_EQ(
      answer_text(resolve(inline_pac, target, {EngineChoice::Auto, std::nullopt, false, roomy}, nullptr)),
      steps_by(through("inline.example", 2), "quickjs"));
  EXPECT_EQ(answer_text(resolve(pac, target, {EngineChoice::QuickJs, kCallerScript, false, roomy}, nullptr)),
            steps_by(through("caller.example", 1), "quickjs"));
  // The native road is not given the policy: its answer is the same under any.
  FakeNative::reset();
  EXPECT_EQ(answer_text(
                resolve(pac, target, {EngineChoice::Native, std::nullopt, false, pooled}, &FakeNative::road)),
            steps_by(through("native.example", 3), "native"));
}

TEST(ResolveTest, TheCallersScriptSeesThePreparedUrl) {
  const std::string script =
      "function FindProxyForURL(url, host) {\n"
      "  if (url === 'https://www.example:8443/' && host === 'www.example') return 'DIRECT';\n"
      "  throw new Error('saw ' + url + ' and ' + host);\n"
      "}";
  const RouteRequest request{EngineChoice::QuickJs, script, false, inline_policy()};
  EXPECT_EQ(answer_text(resolve(config_of({ProxyMode::WpadAutoDetect{}}),
                                url("https://u:p@www.example:8443/a?b#c"), request, nullptr)),
            steps_by(route::direct_route(), "quickjs"));
}

}  // namespace
}  // namespace zelvane::pac
