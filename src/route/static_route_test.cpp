#include "route/static_route.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bypass/rules.hpp"
#include "model/test_print.hpp"
#include "value/debug.hpp"

namespace zelvane::route {

using namespace model;
using namespace value;

namespace {

using S = SchemeSlot;

Url url(std::string_view text) { return Url::parse(text).value(); }

ProxyEndpoint endpoint(std::string host, std::optional<ProxyScheme> hint = {}) {
  return ProxyEndpoint{hint, Host::domain(std::move(host)), 3128, std::nullopt};
}
RejectedValue refused(std::optional<SchemeSlot> slot) {
  return RejectedValue{RejectedKind::InvalidProxyEndpoint, RejectedSource::environment_variable("x_proxy"),
                       "bad:99999", slot};
}
SchemeEntry use(std::string host) { return {SchemeEntry::Use{endpoint(std::move(host))}}; }
const SchemeEntry kDisabled{SchemeEntry::Disabled{}};
SchemeEntry unusable(std::optional<SchemeSlot> slot) { return {SchemeEntry::Unusable{refused(slot)}}; }

ProxyMode manual(PerScheme per_scheme, std::string_view bypass_list = "") {
  return {ProxyMode::Manual{
      std::move(per_scheme), bypass::parse(bypass_list, ",", BypassDialect::NoProxyStyle), {}}};
}

// The route's one step as text: "direct", the proxy host, or the error.
std::string outcome(const ProxyMode& mode, std::string_view text) {
  const auto route = route_static(mode, url(text));
  if (!route) return "error " + debug_text(route.error());
  if (route->size() != 1) return "steps " + std::to_string(route->size());
  const ProxyEndpoint* e = route->front().endpoint();
  return e == nullptr ? "direct" : *e->host.as_domain();
}

struct Case {
  std::string url;
  std::string outcome;
};

void expect_routes(const ProxyMode& mode, const std::vector<Case>& cases) {
  for (const auto& c : cases)
    EXPECT_EQ(outcome(mode, c.url), c.outcome) << c.url << " under " << debug_text(mode);
}

std::string unusable_error(S slot) {
  return "error " + debug_text(Error{Error::ProxyEntryUnusable{slot, refused(slot)}});
}

TEST(StaticRouteTest, SlotsOfSchemes) {
  expect_routes(manual({{S::Http, use("h")},
                        {S::Https, use("hs")},
                        {S::Ftp, use("f")},
                        {S::Socks, use("s")},
                        {S::All, use("a")}}),
                {
                    {"http://x/", "h"},
                    {"https://x/", "hs"},
                    {"ftp://x/", "f"},
                    {"socks://x/", "s"},
                    {"socks4://x/", "s"},
                    {"socks4a://x/", "s"},
                    {"socks5://x/", "s"},
                    {"socks5h://x/", "s"},
                    {"gopher://x/", "a"},
                    {"ssh://x:22/", "a"},
                    {"ws://x/", "s"},
                    {"wss://x/", "s"},
                });
}

TEST(StaticRouteTest, SlotChoice) {
  // Only Https: other schemes go direct, there being no All.
  expect_routes(manual({{S::Https, use("hs")}}), {{"http://x/", "direct"}, {"https://x/", "hs"}});
  // A Disabled slot goes direct and hides All.
  expect_routes(manual({{S::Http, kDisabled}, {S::All, use("a")}}),
                {{"http://x/", "direct"}, {"ftp://x/", "a"}});
  // An Unusable slot gives way to a usable All, and fails without one.
  expect_routes(manual({{S::Http, unusable(S::Http)}, {S::All, use("a")}}), {{"http://x/", "a"}});
  expect_routes(manual({{S::Http, unusable(S::Http)}, {S::All, kDisabled}}), {{"http://x/", "direct"}});
  expect_routes(manual({{S::Http, unusable(S::Http)}}),
                {{"http://x/", unusable_error(S::Http)}, {"https://x/", "direct"}});
  // The slot's own refusal is reported before All's.
  expect_routes(manual({{S::Http, unusable(S::Http)}, {S::All, unusable(S::All)}}),
                {{"http://x/", unusable_error(S::Http)}, {"ftp://x/", unusable_error(S::All)}});
  // No entry at all: direct.
  expect_routes(manual({}), {{"http://x/", "direct"}, {"ws://x/", "direct"}});
}

TEST(StaticRouteTest, WebSocketChoice) {
  expect_routes(manual({{S::Https, kDisabled}, {S::Http, use("h")}}), {{"wss://x/", "h"}, {"ws://x/", "h"}});
  expect_routes(manual({{S::Https, kDisabled}, {S::Http, use("h")}, {S::Socks, use("s")}}),
                {{"wss://x/", "s"}});
  // A later Use beats an earlier Unusable.
  expect_routes(manual({{S::Socks, unusable(S::Socks)}, {S::Https, use("hs")}}), {{"ws://x/", "hs"}});
  expect_routes(manual({{S::Https, use("hs")}, {S::Http, use("h")}}), {{"ws://x/", "hs"}});
  // Disabled entries are passed over: All decides, used or disabled.
  expect_routes(
      manual({{S::Socks, kDisabled}, {S::Https, kDisabled}, {S::Http, kDisabled}, {S::All, use("a")}}),
      {{"wss://x/", "a"}});
  expect_routes(manual({{S::Http, unusable(S::Http)}, {S::All, kDisabled}}), {{"ws://x/", "direct"}});
  expect_routes(manual({{S::Http, unusable(S::Http)}, {S::All, use("a")}}), {{"ws://x/", "a"}});
  // With nothing usable, the first refusal of Socks, Https, Http, then All's.
  expect_routes(
      manual({{S::Http, unusable(S::Http)}, {S::Https, unusable(S::Https)}, {S::All, unusable(S::All)}}),
      {{"ws://x/", unusable_error(S::Https)}});
  expect_routes(manual({{S::All, unusable(S::All)}}), {{"wss://x/", unusable_error(S::All)}});
  expect_routes(manual({{S::Ftp, use("f")}}), {{"ws://x/", "direct"}});
}

TEST(StaticRouteTest, SelectorsAnswerOnlyForManualModes) {
  const ProxyMode direct{ProxyMode::Direct{}};
  EXPECT_EQ(select_slot(direct, S::Http), nullptr);
  EXPECT_EQ(select_any(direct), nullptr);
  const ProxyMode inline_pac{ProxyMode::PacInline{"function FindProxyForURL(u, h) { return 'DIRECT'; }", {}}};
  EXPECT_EQ(select_slot(inline_pac, S::All), nullptr);
  const ProxyMode mode = manual({{S::All, use("a")}});
  EXPECT_EQ(select_slot(mode, S::All), &mode.get_if<ProxyMode::Manual>()->per_scheme.at(S::All));
  EXPECT_EQ(select_any(mode), select_slot(mode, S::All));
}

TEST(StaticRouteTest, UnusableWithoutSlotIsReportedAsAll) {
  const ProxyMode mode = manual({{S::Http, unusable(std::nullopt)}});
  const auto route = route_static(mode, url("http://x/"));
  ASSERT_FALSE(route.has_value());
  const auto* e = route.error().get_if<Error::ProxyEntryUnusable>();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->scheme, S::All);
  EXPECT_EQ(e->rejected, refused(std::nullopt));
}

TEST(StaticRouteTest, StepKindByHint) {
  struct HintCase {
    std::optional<ProxyScheme> hint;
    std::size_t kind;  // the RouteStep alternative
  };
  const HintCase cases[] = {
      {std::nullopt, 1},         {ProxyScheme::Http, 1},    {ProxyScheme::Https, 2},
      {ProxyScheme::Socks4, 3},  {ProxyScheme::Socks4a, 3}, {ProxyScheme::Socks5, 4},
      {ProxyScheme::Socks5h, 4},
  };
  for (const auto& c : cases) {
    ProxyEndpoint e = endpoint("p", c.hint);
    e.auth = ProxyAuth{"alice", PasswordState::present("pw")};
    const ProxyMode mode{ProxyMode::Manual{{{S::All, SchemeEntry{SchemeEntry::Use{e}}}}, {}, {}}};
    const auto route = route_static(mode, url("http://x/"));
    ASSERT_TRUE(route.has_value());
    ASSERT_EQ(route->size(), 1u);
    EXPECT_EQ(route->front().value.index(), c.kind) << debug_text(e);
    // The endpoint is carried whole: hint, host, port and credentials.
    EXPECT_EQ(*route->front().endpoint(), e);
  }
}

TEST(StaticRouteTest, BypassAndHostlessUrlsGoDirect) {
  const ProxyMode mode = manual({{S::All, use("a")}}, ".example.com,10.0.0.0/8");
  expect_routes(mode, {
                          {"http://a.example.com/", "direct"},
                          {"http://10.1.2.3/", "direct"},
                          {"http://localhost/", "direct"},  // the implicit set
                          {"http://other.org/", "a"},
                          {"mailto:someone@example.org", "direct"},
                          {"file:///etc/hosts", "direct"},
                          {"foo:///x", "direct"},
                      });
  // A refused entry is never consulted: hostless URLs go direct before the bypass list, and
  // an unusable slot only fails URLs that reach it.
  const ProxyMode broken = manual({{S::All, unusable(S::All)}});
  expect_routes(
      broken,
      {{"file:///x", "direct"}, {"gopher://localhost/", "direct"}, {"gopher://x/", unusable_error(S::All)}});
}

TEST(StaticRouteTest, ScriptSettingsAreRefusedBeforeTheUrl) {
  const ProxyMode pac{ProxyMode::Pac{url("http://wpad.example/proxy.pac"), {}}};
  const ProxyMode inline_pac{ProxyMode::PacInline{"function FindProxyForURL() {}", {}}};
  const ProxyMode wpad{ProxyMode::WpadAutoDetect{}};
  for (const char* u : {"http://x/", "file:///x", "mailto:a@b"}) {
    EXPECT_EQ(outcome(pac, u), "error " + debug_text(Error{Error::PacNotSupported{"pac"}})) << u;
    EXPECT_EQ(outcome(inline_pac, u), "error " + debug_text(Error{Error::PacNotSupported{"pac-inline"}}))
        << u;
    EXPECT_EQ(outcome(wpad, u), "error " + debug_text(Error{Error::PacNotSupported{"wpad"}})) << u;
  }
}

TEST(StaticRouteTest, DirectModeAndConfigurations) {
  const ProxyMode direct{ProxyMode::Direct{}};
  expect_routes(direct, {{"http://x/", "direct"}, {"mailto:a@b", "direct"}});
  ProxyConfig config = ProxyConfig::empty();
  config.effective = manual({{S::Http, use("h")}});
  // Only the effective mode counts.
  config.sources = {SourceEntry{SourceKind::Registry, ProxyMode{ProxyMode::WpadAutoDetect{}}}};
  const auto route = route_static(config, url("http://x/"));
  ASSERT_TRUE(route.has_value());
  EXPECT_EQ(*route, std::vector<RouteStep>{RouteStep{RouteStep::Http{endpoint("h")}}});
}

}  // namespace
}  // namespace zelvane::route
