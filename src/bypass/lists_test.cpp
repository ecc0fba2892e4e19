#include "bypass/lists.hpp"

#include <gtest/gtest.h>

#include "model/test_print.hpp"
#include "parse/entry_texts.hpp"
#include "value/debug.hpp"

namespace zelvane::bypass {

using namespace model;
using namespace value;

namespace {

using parse::entries;

TEST(ProxySettingsTest, ManualWithBypassAndUnusableSlots) {
  ProxyMode mode =
      parse_proxy_settings("http=[::1;https=b:2;socks=[zz];gopher=x", "*.example.com;intranet;<local>");
  const auto* manual = mode.get_if<ProxyMode::Manual>();
  ASSERT_NE(manual, nullptr);
  EXPECT_EQ(entries(manual->per_scheme),
            (std::vector<std::string>{"http=unusable", "https=use b:2", "all=unusable"}));
  EXPECT_EQ(manual->rejected.size(), 3u);
  EXPECT_EQ(manual->bypass.patterns.size(), 3u);
  EXPECT_EQ(manual->bypass.implicit, ImplicitBypass::WinInet);
}

TEST(ProxySettingsTest, RefusedEntryForAFilledSlotLeavesOnlyTheDiagnostic) {
  ProxyMode mode = parse_proxy_settings("http=[::1;http=good:1", "");
  const auto& manual = *mode.get_if<ProxyMode::Manual>();
  EXPECT_EQ(entries(manual.per_scheme), std::vector<std::string>{"http=use good:1"});
  EXPECT_EQ(manual.rejected.size(), 1u);
}

TEST(ProxySettingsTest, NothingGivesDirect) {
  EXPECT_TRUE(parse_proxy_settings("", "a;b").is<ProxyMode::Direct>());
  EXPECT_TRUE(parse_proxy_settings(" ; ", "a").is<ProxyMode::Direct>());
  ProxyMode refused_only = parse_proxy_settings("gopher=x", "");
  const auto* manual = refused_only.get_if<ProxyMode::Manual>();
  ASSERT_NE(manual, nullptr);
  EXPECT_TRUE(manual->per_scheme.empty());
  EXPECT_EQ(manual->rejected.size(), 1u);
}

}  // namespace
}  // namespace zelvane::bypass
