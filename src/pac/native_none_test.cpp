// A build without Windows has no native engine: what it would ask WinHTTP comes back refused
// the way the road without a script refuses it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bypass/lists.hpp"
#include "model/test_print.hpp"
#include "pac/native.hpp"

namespace zelvane::pac {
namespace {

using namespace model;

value::Url url(std::string_view text) { return value::Url::parse(text).value(); }
ProxyConfig config_of(ProxyMode mode) {
  return ProxyConfig::from_sources({{SourceKind::Registry, std::move(mode)}});
}

TEST(NativeNoneTest, NothingIsEvaluatedAndNothingIsAsked) {
  EXPECT_FALSE(native_engine_present());
  const ProxyMode pac{ProxyMode::Pac{url("http://pac.corp/proxy.pac"), {}}};
  struct Case {
    ProxyMode mode;
    std::string url;
    bool wpad;
    Result<std::vector<RouteStep>> expected;
  };
  const std::vector<RouteStep> direct{RouteStep{RouteStep::Direct{}}};
  const std::vector<Case> cases = {
      {pac, "http://www.example/", true,
       std::unexpected(Error(Error::PacFetchRequired{url("http://pac.corp/proxy.pac")}))},
      {{ProxyMode::WpadAutoDetect{}},
       "http://www.example/",
       true,
       std::unexpected(Error(Error::PacNotSupported{"wpad"}))},
      {{ProxyMode::PacInline{"x", {}}},
       "mailto:a@b",
       false,
       std::unexpected(Error(Error::PacNotSupported{"pac-inline"}))},
      {pac, "mailto:a@b", false, direct},
      {{ProxyMode::WpadAutoDetect{}}, "foo:///x", true, direct},
      {{ProxyMode::Direct{}}, "http://www.example/", false, direct},
  };
  for (const Case& c : cases) {
    const auto got = route_native(config_of(c.mode), url(c.url), c.wpad);
    EXPECT_EQ(got.has_value(), c.expected.has_value()) << c.url;
    if (got && c.expected) {
      EXPECT_EQ(*got, *c.expected) << c.url;
    }
    if (!got && !c.expected) {
      EXPECT_EQ(debug_text(got.error()), debug_text(c.expected.error())) << c.url;
    }
  }
  const ProxyConfig manual = config_of(bypass::parse_proxy_settings("proxy.corp:3128", ""));
  const auto routed = route_native(manual, url("http://www.example/"), false);
  ASSERT_TRUE(routed.has_value());
  ASSERT_EQ(routed->size(), 1u);
  EXPECT_NE(routed->front().endpoint(), nullptr) << "a manual setting goes through its proxy";
}

}  // namespace
}  // namespace zelvane::pac
