// The native engine on the real WinHTTP of the win32 build. Under Wine the resolver is a stub
// that refuses to be created (12178), so the road followed here is that refusal through the
// engine and through the route decision; where the system makes resolvers, a PAC URL nobody
// serves fails to download.
#include <gtest/gtest.h>

#include "pac/native.hpp"
#include "pac/resolve.hpp"
#include "pac/test_answer.hpp"
#include "pac/winhttp/session.hpp"
#include "route/static_route.hpp"

#include "pac/winhttp/session_internal.hpp"

namespace zelvane::pac::winhttp {

using namespace model;
using namespace value;

namespace {

Url url(std::string_view text) { return Url::parse(text).value(); }

TEST(WinHttpSessionWin32Test, TheSessionsOpenAndARefusedResolverIsAnIoError) {
  auto session = WinHttpSession::create();
  ASSERT_TRUE(session.has_value()) << session.error().message();
  EXPECT_EQ(session->timeout(), (Duration{5, 0}));
  const ProxyConfig config = ProxyConfig::from_sources(
      {{SourceKind::Registry, {ProxyMode::Pac{url("http://127.0.0.1:9/none.pac"), {}}}}});
  const auto routed = session->route(config, url("http://www.example/"));
  ASSERT_FALSE(routed.has_value());
  const auto* io = routed.error().get_if<Error::Io>();
  ASSERT_NE(io, nullptr) << routed.error().message();
  if (io->context.starts_with("WinHttpCreateProxyResolver")) {
    EXPECT_EQ(io->context, "WinHttpCreateProxyResolver (WinHTTP status 0x00002f92)");
    EXPECT_EQ(io->source.code, 12178);
  } else {
    EXPECT_EQ(io->context.substr(0, 29), "resolving the proxy for a URL");
  }
  EXPECT_EQ(CompletionContext::live(), 0u);
}

TEST(WinHttpSessionWin32Test, TheDecisionAsksTheProcessWideSessionsItsOneQuestion) {
  EXPECT_TRUE(native_engine_present());
  const ProxyConfig wpad = ProxyConfig::from_sources({{SourceKind::Env, {ProxyMode::WpadAutoDetect{}}}});
  const ProxyConfig pac = ProxyConfig::from_sources(
      {{SourceKind::Env, {ProxyMode::Pac{url("http://127.0.0.1:9/none.pac"), {}}}}});
  const auto request = [](bool w) { return RouteRequest{EngineChoice::Native, std::nullopt, w, {}}; };
  // Discovery nobody asked for, and a URL without a host, are not WinHTTP's.
  EXPECT_EQ(answer_text(resolve(wpad, url("http://www.example/"), request(false))), "wpad by none");
  EXPECT_EQ(answer_text(resolve(wpad, url("mailto:someone@example.org"), request(true))),
            steps_by(route::direct_route(), "none"));
  // A PAC URL is, and the real WinHTTP's refusal (or failed download) is the answer.
  const auto refused = resolve(pac, url("http://www.example/"), request(false));
  ASSERT_FALSE(refused.has_value());
  ASSERT_NE(refused.error().get_if<Error::Io>(), nullptr) << refused.error().message();
  EXPECT_EQ(CompletionContext::live(), 0u);
  EXPECT_EQ(shared_session(false).value(), shared_session(false).value());
  EXPECT_NE(shared_session(false).value(), shared_session(true).value());
}

}  // namespace
}  // namespace zelvane::pac::winhttp
