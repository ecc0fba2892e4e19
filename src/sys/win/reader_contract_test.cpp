// The reader on whatever Windows the build has: the simulated one, or the real calls under
// Wine, with the current user's and WinHTTP's settings written through the harness.
#include "sys/win/reader.hpp"

#include <gtest/gtest.h>

#include "value/debug.hpp"
#include "sys/win/contract_harness.hpp"

namespace zelvane::sys::win {

using namespace model;
using namespace value;

namespace {

const ProxyMode* source(const ProxyConfig& c, SourceKind kind) {
  for (const auto& s : c.sources) {
    if (s.kind == kind) return &s.mode;
  }
  return nullptr;
}

TEST(ReaderContract, ManualProxyOfTheCurrentUserIsInForce) {
  auto harness = make_contract_harness();
  harness->set_ie_config(
      {false, std::nullopt, u"http=proxy.example:3128;https=secure.example:443", u"*.corp.example;<local>"});
  harness->set_default_proxy({1, std::nullopt, std::nullopt});
  auto config = read_windows_config(harness->platform(), ReadOptions{});
  ASSERT_TRUE(config.has_value()) << config.error().message();
  ASSERT_FALSE(config->sources.empty());
  EXPECT_EQ(config->sources.front().kind, SourceKind::Registry);
  const auto* manual = config->effective.get_if<ProxyMode::Manual>();
  ASSERT_NE(manual, nullptr) << debug_text(config->effective);
  EXPECT_EQ(debug_text(manual->per_scheme.at(SchemeSlot::Http)),
            "Use(ProxyEndpoint { scheme_hint: None, host: Domain(\"proxy.example\"), port: 3128, "
            "auth: None })");
  EXPECT_TRUE(manual->per_scheme.contains(SchemeSlot::Https));
  EXPECT_EQ(manual->bypass.patterns.size(), 2u);
  EXPECT_EQ(manual->bypass.implicit, ImplicitBypass::WinInet);
  EXPECT_EQ(source(*config, SourceKind::GroupPolicy), nullptr);
  EXPECT_TRUE(config->fallbacks.empty());
}

TEST(ReaderContract, PacUrlAndWinHttpDefault) {
  auto harness = make_contract_harness();
  harness->set_ie_config({false, u"http://wpad.corp.example/proxy.pac", std::nullopt, std::nullopt});
  harness->set_default_proxy({3, u"winhttp.example:8080", u""});
  auto config = read_windows_config(harness->platform(), ReadOptions{});
  ASSERT_TRUE(config.has_value()) << config.error().message();
  EXPECT_EQ(debug_text(config->effective), "Pac { url: http://wpad.corp.example/proxy.pac, rejected: [] }");
  const ProxyMode* def = source(*config, SourceKind::WinHttpDefault);
  ASSERT_NE(def, nullptr);
  ASSERT_TRUE(def->is<ProxyMode::Manual>()) << debug_text(*def);
  EXPECT_TRUE(def->get_if<ProxyMode::Manual>()->per_scheme.contains(SchemeSlot::All));
}

TEST(ReaderContract, AutoDetect) {
  auto harness = make_contract_harness();
  harness->set_ie_config({true, std::nullopt, std::nullopt, std::nullopt});
  harness->set_default_proxy({1, std::nullopt, std::nullopt});
  auto config = read_windows_config(harness->platform(), ReadOptions{});
  ASSERT_TRUE(config.has_value()) << config.error().message();
  EXPECT_TRUE(config->effective.is<ProxyMode::WpadAutoDetect>());
  const ProxyMode* def = source(*config, SourceKind::WinHttpDefault);
  ASSERT_NE(def, nullptr);
  EXPECT_TRUE(def->is<ProxyMode::Direct>());
}

}  // namespace
}  // namespace zelvane::sys::win
