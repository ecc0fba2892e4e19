// A build without Windows has no native engine: the route decision's one question for it comes
// back refused the way the road without a script refuses it, and the route is left unevaluated.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bypass/lists.hpp"
#include "model/test_print.hpp"
#include "pac/native.hpp"
#include "pac/resolve.hpp"
#include "pac/test_answer.hpp"
#include "route/static_route.hpp"
#include "value/debug.hpp"

namespace zelvane::pac {
namespace {

using namespace model;
using value::debug_text;

value::Url url(std::string_view text) { return value::Url::parse(text).value(); }
ProxyConfig config_of(ProxyMode mode) {
  return ProxyConfig::from_sources({{SourceKind::Registry, std::move(mode)}});
}
std::string steps_text(const Result<std::vector<RouteStep>>& steps) {
  return steps ? debug_text(*steps) : "error: " + debug_text(steps.error());
}

TEST(NativeNoneTest, NothingIsEvaluatedAndNothingIsAsked) {
  EXPECT_FALSE(native_engine_present());
  const value::Url pac_url = url("http://pac.corp/proxy.pac");
  const ProxyConfig pac = config_of({ProxyMode::Pac{pac_url, {}}});
  const ProxyConfig wpad = config_of({ProxyMode::WpadAutoDetect{}});
  for (const bool w : {false, true}) {
    EXPECT_EQ(steps_text(route_native(pac, url("http://www.example/"), w)),
              "error: " + debug_text(Error(Error::PacFetchRequired{pac_url})));
    EXPECT_EQ(steps_text(route_native(wpad, url("http://www.example/"), w)),
              "error: " + debug_text(Error(Error::PacNotSupported{"wpad"})));
  }

  const std::string direct = steps_by(route::direct_route(), "none");
  const std::vector<RouteStep> through_proxy{
      RouteStep{RouteStep::Http{ProxyEndpoint{std::nullopt, value::Host::domain("proxy.corp"), 3128, {}}}}};
  struct Case {
    ProxyConfig config;
    std::string url;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {pac, "http://www.example/", "pac http://pac.corp/proxy.pac by none"},
      {wpad, "http://www.example/", "wpad by none"},
      {config_of({ProxyMode::PacInline{"x", {}}}), "mailto:a@b", direct},
      {pac, "mailto:a@b", direct},
      {wpad, "foo:///x", direct},
      {config_of({ProxyMode::Direct{}}), "http://www.example/", direct},
      {config_of(bypass::parse_proxy_settings("proxy.corp:3128", "")), "http://www.example/",
       steps_by(through_proxy, "none")},
  };
  for (const Case& c : cases) {
    for (const EngineChoice engine : {EngineChoice::Native, EngineChoice::Auto}) {
      for (const bool w : {false, true}) {
        EXPECT_EQ(answer_text(resolve(c.config, url(c.url), {engine, std::nullopt, w, hostfn::PacPolicy{}})),
                  c.expected)
            << debug_text(c.config.effective) << " " << c.url << " P" << static_cast<int>(engine) << " W"
            << w;
      }
    }
  }
}

}  // namespace
}  // namespace zelvane::pac
