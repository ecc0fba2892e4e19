// The Windows configuration reader on the simulated Windows: every branch of the three steps.
#include "sys/win/reader.hpp"

#include <gtest/gtest.h>

#include "value/debug.hpp"
#include "sys/win/registry.hpp"
#include "sys/win/sim/fixture.hpp"
#include "model/test_print.hpp"

namespace zelvane::sys::win {

using namespace model;
using namespace value;

namespace {

using sim::Op;
using sim::Root;

constexpr std::string_view kUser = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr std::string_view kPolicy =
    "Software\\Policies\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr std::uint32_t kAccessDenied = 5;

// The keys as the simulation's log and faults name them.
std::string user_key() { return "HKCU\\" + std::string(kUser); }
std::string policy_key() { return "HKLM\\" + std::string(kPolicy); }

std::vector<SourceKind> kinds(const ProxyConfig& c) {
  std::vector<SourceKind> out;
  for (const auto& s : c.sources) out.push_back(s.kind);
  return out;
}

const ProxyMode& mode_of(const ProxyConfig& c, SourceKind kind) {
  for (const auto& s : c.sources) {
    if (s.kind == kind) return s.mode;
  }
  ADD_FAILURE() << "no source " << name(kind);
  static const ProxyMode none;
  return none;
}

class ReaderTest : public sim::SimTest {
 public:
  using sim::SimTest::control;
  // The current user's road through the HKCU key: WinHTTP's call fails with "not found".
  void use_hkcu() { control().fail_ie_config(2); }
  void user_dword(std::string_view n, std::uint32_t v) {
    control().set_dword(Root::CurrentUser, kUser, n, v);
  }
  void user_string(std::string_view n, std::u16string_view v, std::uint32_t type = kRegSz) {
    control().set_string(Root::CurrentUser, kUser, n, v, type);
  }
  void policy_dword(std::string_view n, std::uint32_t v) {
    control().set_dword(Root::LocalMachine, kPolicy, n, v);
  }
  void policy_string(std::string_view n, std::u16string_view v) {
    control().set_string(Root::LocalMachine, kPolicy, n, v);
  }
  Result<ProxyConfig> read(bool group_policy = true) {
    ReadOptions options;
    options.group_policy = group_policy;
    return read_windows_config(platform(), options);
  }
  ProxyConfig read_ok(bool group_policy = true) {
    auto c = read(group_policy);
    EXPECT_TRUE(c.has_value()) << (c ? "" : c.error().message());
    return c ? std::move(*c) : ProxyConfig::empty();
  }
};

TEST_F(ReaderTest, FreshSystemDetectsAutomatically) {
  ProxyConfig c = read_ok();
  EXPECT_EQ(kinds(c), (std::vector{SourceKind::Registry, SourceKind::WinHttpDefault}));
  EXPECT_TRUE(c.effective.is<ProxyMode::WpadAutoDetect>());
  EXPECT_TRUE(mode_of(c, SourceKind::WinHttpDefault).is<ProxyMode::Direct>());
  EXPECT_TRUE(c.fallbacks.empty());
}

TEST_F(ReaderTest, CurrentUserAnswerThroughWinHttp) {
  struct Case {
    const char* what;
    IeProxyConfig answer;
    std::string want;  // debug text of the Registry mode
  };
  const Case cases[] = {
      {"auto-detect wins over a PAC URL",
       {true, u"http://wpad/wpad.dat", u"p:1", std::nullopt},
       "WpadAutoDetect"},
      {"a PAC URL wins over the proxy",
       {false, u"  http://wpad/p.pac ", u"p:1", std::nullopt},
       "Pac { url: http://wpad/p.pac, rejected: [] }"},
      {"a blank URL gives way to the proxy",
       {false, u"  ", u"p:8080", u"<local>"},
       "Manual { per_scheme: {All: Use(ProxyEndpoint { scheme_hint: None, host: Domain(\"p\"), "
       "port: 8080, auth: None })}, bypass: BypassRules { patterns: [Local], "
       "exclude_simple_hostnames: false, reversed_exceptions: false, rejected: [], "
       "require_explicit_port: false, implicit: WinInet, ipv4_mapped_as_ipv4: false, "
       "strip_trailing_dot: false }, rejected: [] }"},
      {"nothing at all", {false, std::nullopt, std::nullopt, std::nullopt}, "Direct"},
      {"strings end at their NUL",
       {false, std::u16string(u"\0http://x/", 10), std::nullopt, std::nullopt},
       "Direct"},
  };
  for (const auto& c : cases) {
    control().set_ie_config(c.answer);
    ProxyConfig config = read_ok();
    EXPECT_EQ(debug_text(config.effective), c.want) << c.what;
    EXPECT_EQ(config.effective, mode_of(config, SourceKind::Registry)) << c.what;
  }
  // The HKCU key is not read on this road.
  for (const auto& call : calls(Op::RegOpenKey)) EXPECT_EQ(call.key.find("HKCU"), std::string::npos);
}

TEST_F(ReaderTest, RefusedCurrentUserUrlFailsTheReading) {
  control().set_ie_config({false, u"http://alice:pw123@[zz]/p.pac", std::nullopt, std::nullopt});
  auto c = read();
  ASSERT_FALSE(c.has_value());
  const auto* e = c.error().get_if<Error::InvalidProxyUrl>();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->source, UrlError::InvalidIpv6Address);
  EXPECT_EQ(c.error().message(), "invalid proxy URL \"http://alice:***@[zz]/p.pac\": invalid IPv6 address");
}

TEST_F(ReaderTest, CurrentUserFailureTakesTheHkcuRoad) {
  struct Case {
    std::uint32_t last_error;
    std::vector<SourceKind> fallbacks;
  };
  for (const Case& c : {Case{2, {}}, Case{0x80070002u, {}}, Case{5, {SourceKind::Registry}},
                        Case{12178, {SourceKind::Registry}}}) {
    control().fail_ie_config(c.last_error);
    ProxyConfig config = read_ok();
    EXPECT_EQ(kinds(config), (std::vector{SourceKind::Registry, SourceKind::WinHttpDefault}));
    EXPECT_TRUE(config.effective.is<ProxyMode::Direct>()) << "no HKCU key";
    EXPECT_EQ(config.fallbacks, c.fallbacks) << c.last_error;
  }
}

TEST_F(ReaderTest, HkcuValues) {
  struct Case {
    const char* what;
    std::function<void(ReaderTest&)> stage;
    std::string want;
  };
  const std::string manual_p =
      "Manual { per_scheme: {All: Use(ProxyEndpoint { scheme_hint: None, host: Domain(\"p\"), "
      "port: 80, auth: None })}";
  const Case cases[] = {
      {"no key", [](ReaderTest&) {}, "Direct"},
      {"a key without settings", [](ReaderTest& t) { t.user_string("ProxyServer", u"p"); }, "Direct"},
      {"ProxyEnable 1 uses the server",
       [](ReaderTest& t) {
         t.user_dword("ProxyEnable", 1);
         t.user_string("ProxyServer", u"p");
       },
       manual_p},
      {"ProxyEnable 2 is not on",
       [](ReaderTest& t) {
         t.user_dword("ProxyEnable", 2);
         t.user_string("ProxyServer", u"p");
       },
       "Direct"},
      {"ProxyEnable as text counts as absent",
       [](ReaderTest& t) {
         t.user_string("ProxyEnable", u"1");
         t.user_string("ProxyServer", u"p");
       },
       "Direct"},
      {"a short DWORD counts as absent",
       [](ReaderTest& t) {
         t.control().set_value(Root::CurrentUser, kUser, "ProxyEnable", kRegDword, {1, 0});
         t.user_string("ProxyServer", u"p");
       },
       "Direct"},
      {"a long DWORD reads its first four bytes",
       [](ReaderTest& t) {
         t.control().set_value(Root::CurrentUser, kUser, "ProxyEnable", kRegDword, {1, 0, 0, 0, 9});
         t.user_string("ProxyServer", u"p");
       },
       manual_p},
      {"AutoDetect 1", [](ReaderTest& t) { t.user_dword("AutoDetect", 1); }, "WpadAutoDetect"},
      {"AutoDetect 0 alone counts as settings", [](ReaderTest& t) { t.user_dword("AutoDetect", 0); },
       "Direct"},
      {"REG_EXPAND_SZ is taken literally",
       [](ReaderTest& t) { t.user_string("AutoConfigURL", u"http://h/%USERNAME%.pac", kRegExpandSz); },
       "Pac { url: http://h/%USERNAME%.pac, rejected: [] }"},
      {"a string is cut at its first NUL",
       [](ReaderTest& t) { t.user_string("AutoConfigURL", std::u16string(u"http://h/a\0b", 12)); },
       "Pac { url: http://h/a, rejected: [] }"},
      {"one odd byte reads as empty",
       [](ReaderTest& t) {
         t.control().set_value(Root::CurrentUser, kUser, "AutoConfigURL", kRegSz, {'h'});
         t.user_dword("ProxyEnable", 1);
         t.user_string("ProxyServer", u"p");
       },
       manual_p},
      {"a lone surrogate becomes U+FFFD",
       [](ReaderTest& t) {
         t.user_dword("ProxyEnable", 1);
         t.user_string("ProxyServer", std::u16string(u"p\xD800q"));
       },
       "Manual { per_scheme: {All: Unusable(RejectedValue { kind: InvalidProxyEndpoint, source: "
       "ProxyServer, redacted_input: \"p\xEF\xBF\xBDq\", scheme: Some(All) })}"},
  };
  for (const auto& c : cases) {
    control().reset();
    use_hkcu();
    c.stage(*this);
    ProxyConfig config = read_ok();
    const std::string got = debug_text(mode_of(config, SourceKind::Registry));
    EXPECT_EQ(got.substr(0, c.want.size()), c.want) << c.what;
  }
}

TEST_F(ReaderTest, HkcuValuesAreReadInOrder) {
  use_hkcu();
  user_dword("ProxyEnable", 0);
  read_ok(false);
  std::vector<std::string> names;
  for (const auto& call : calls(Op::RegQueryValue)) {
    if (names.empty() || names.back() != *call.value) names.push_back(*call.value);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ProxyEnable", "ProxyServer", "ProxyOverride", "AutoConfigURL",
                                             "AutoDetect"}));
}

TEST_F(ReaderTest, HkcuFailuresFailTheReading) {
  use_hkcu();
  control().fail_next(Op::RegOpenKey, user_key(), kAccessDenied);
  auto c = read();
  ASSERT_FALSE(c.has_value());
  EXPECT_EQ(c.error().message(), "opening HKCU Internet Settings key");
  EXPECT_EQ(std::get<OsError>(*c.error().source()).code, 5);

  user_string("ProxyServer", u"p");
  control().fail_next(sim::Fault{Op::RegQueryValue, "", "ProxyServer", kAccessDenied, 1});
  c = read();
  ASSERT_FALSE(c.has_value());
  EXPECT_EQ(c.error().message(), "reading registry value ProxyServer under HKCU\\" + std::string(kUser));

  user_string("AutoConfigURL", u"not a url");
  c = read();
  ASSERT_FALSE(c.has_value());
  EXPECT_EQ(c.error().message(), "invalid proxy URL \"not a url\": relative URL without a base");
}

TEST_F(ReaderTest, GroupPolicy) {
  struct Case {
    const char* what;
    std::function<void(ReaderTest&)> stage;
    std::optional<std::string> source;  // debug text of the GroupPolicy mode, none: no source
    bool listed;
  };
  const Case cases[] = {
      {"no policy key", [](ReaderTest&) {}, std::nullopt, false},
      {"server and override alone are no settings",
       [](ReaderTest& t) {
         t.policy_string("ProxyServer", u"p");
         t.policy_string("ProxyOverride", u"x");
       },
       std::nullopt, false},
      {"ProxyEnable 0 alone", [](ReaderTest& t) { t.policy_dword("ProxyEnable", 0); }, "Direct", false},
      {"a PAC URL", [](ReaderTest& t) { t.policy_string("AutoConfigURL", u"http://corp/p.pac"); },
       "Pac { url: http://corp/p.pac, rejected: [] }", false},
      {"a refused URL is listed", [](ReaderTest& t) { t.policy_string("AutoConfigURL", u"http://[::1/"); },
       std::nullopt, true},
      {"opening fails",
       [](ReaderTest& t) {
         t.policy_dword("ProxyEnable", 0);
         t.control().fail_next(Op::RegOpenKey, policy_key(), kAccessDenied);
       },
       std::nullopt, true},
      {"a value read fails",
       [](ReaderTest& t) {
         t.policy_dword("ProxyEnable", 0);
         t.control().fail_next(sim::Fault{Op::RegQueryValue, "", "AutoDetect", 1234, 1});
       },
       std::nullopt, true},
  };
  for (const auto& c : cases) {
    control().reset();
    control().set_ie_config({false, std::nullopt, u"user:1", std::nullopt});
    c.stage(*this);
    ProxyConfig config = read_ok();
    std::vector<SourceKind> want_kinds = {SourceKind::Registry};
    if (c.source) want_kinds.push_back(SourceKind::GroupPolicy);
    want_kinds.push_back(SourceKind::WinHttpDefault);
    EXPECT_EQ(kinds(config), want_kinds) << c.what;
    if (c.source) {
      EXPECT_EQ(debug_text(mode_of(config, SourceKind::GroupPolicy)), *c.source) << c.what;
    }
    EXPECT_EQ(config.fallbacks, c.listed ? std::vector{SourceKind::GroupPolicy} : std::vector<SourceKind>{})
        << c.what;
    // The user's setting is in force whatever the policy says.
    EXPECT_EQ(config.effective, mode_of(config, SourceKind::Registry)) << c.what;
  }
}

TEST_F(ReaderTest, GroupPolicyOffOpensNoPolicyKey) {
  policy_dword("ProxyEnable", 1);
  policy_string("ProxyServer", u"policy:1");
  control().fail_next(Op::RegOpenKey, policy_key(), kAccessDenied);  // would be listed if opened
  ProxyConfig config = read_ok(false);
  EXPECT_EQ(kinds(config), (std::vector{SourceKind::Registry, SourceKind::WinHttpDefault}));
  EXPECT_TRUE(config.fallbacks.empty());
  for (const auto& call : calls(Op::RegOpenKey)) EXPECT_EQ(call.key.find("HKLM"), std::string::npos);
}

TEST_F(ReaderTest, WinHttpDefault) {
  struct Case {
    const char* what;
    std::optional<ProxyInfo> answer;  // none: the call fails with `last_error`
    std::uint32_t last_error;
    std::optional<std::string> source;
    bool listed;
  };
  const Case cases[] = {
      {"no proxy, though a text", ProxyInfo{1, u"p:1", std::nullopt}, 0, "Direct", false},
      {"named but blank", ProxyInfo{3, u"  ", u""}, 0, "Direct", false},
      {"named", ProxyInfo{3, u" http=p:1 ", std::nullopt}, 0,
       "Manual { per_scheme: {Http: Use(ProxyEndpoint { scheme_hint: None, host: Domain(\"p\"), "
       "port: 1, auth: None })}, bypass: BypassRules { patterns: [], exclude_simple_hostnames: "
       "false, reversed_exceptions: false, rejected: [], require_explicit_port: false, implicit: "
       "WinInet, ipv4_mapped_as_ipv4: false, strip_trailing_dot: false }, rejected: [] }",
       false},
      {"not found", std::nullopt, 2, std::nullopt, false},
      {"failing otherwise", std::nullopt, 1234, std::nullopt, true},
  };
  for (const auto& c : cases) {
    control().reset();
    if (c.answer) {
      control().set_default_proxy(*c.answer);
    } else {
      control().fail_default_proxy(c.last_error);
    }
    ProxyConfig config = read_ok();
    if (c.source) {
      EXPECT_EQ(kinds(config), (std::vector{SourceKind::Registry, SourceKind::WinHttpDefault})) << c.what;
      EXPECT_EQ(debug_text(mode_of(config, SourceKind::WinHttpDefault)), *c.source) << c.what;
      EXPECT_TRUE(config.effective.is<ProxyMode::WpadAutoDetect>()) << "never effective: " << c.what;
    } else {
      EXPECT_EQ(kinds(config), std::vector{SourceKind::Registry}) << c.what;
    }
    EXPECT_EQ(config.fallbacks,
              c.listed ? std::vector{SourceKind::WinHttpDefault} : std::vector<SourceKind>{})
        << c.what;
  }
}

TEST_F(ReaderTest, SourcesAndFallbacksKeepTheirOwnOrders) {
  policy_dword("ProxyEnable", 0);
  control().fail_ie_config(5);
  control().fail_default_proxy(5);
  control().fail_next(Op::RegOpenKey, policy_key(), kAccessDenied);
  ProxyConfig config = read_ok();
  EXPECT_EQ(kinds(config), std::vector{SourceKind::Registry});
  EXPECT_EQ(config.fallbacks,
            (std::vector{SourceKind::GroupPolicy, SourceKind::Registry, SourceKind::WinHttpDefault}));

  control().reset();
  policy_dword("AutoDetect", 1);
  control().set_default_proxy({3, u"d:1", u""});
  config = read_ok();
  EXPECT_EQ(kinds(config),
            (std::vector{SourceKind::Registry, SourceKind::GroupPolicy, SourceKind::WinHttpDefault}));
}

TEST_F(ReaderTest, WpadFallback) {
  // WinHTTP answers: its strings, the auto-detect flag ignored.
  control().set_ie_config({true, u" http://h/p.pac ", u"p:1", u"<local>"});
  auto f = read_wpad_fallback(platform()).value();
  EXPECT_EQ(f.auto_config_url->href(), "http://h/p.pac");
  EXPECT_TRUE(f.manual.is<ProxyMode::Manual>());

  // WinHTTP fails, whatever the code: the HKCU key, AutoDetect unread.
  control().fail_ie_config(5);
  f = read_wpad_fallback(platform()).value();
  EXPECT_FALSE(f.auto_config_url);
  EXPECT_TRUE(f.manual.is<ProxyMode::Direct>());

  user_string("AutoConfigURL", u"::not a url::");
  user_dword("ProxyEnable", 1);
  user_string("ProxyServer", u"p:1");
  control().clear_log();
  f = read_wpad_fallback(platform()).value();
  EXPECT_FALSE(f.auto_config_url);  // a refused URL is no failure here
  EXPECT_TRUE(f.manual.is<ProxyMode::Manual>());
  for (const auto& call : calls(Op::RegQueryValue)) EXPECT_NE(*call.value, "AutoDetect");

  control().fail_next(Op::RegOpenKey, user_key(), kAccessDenied);
  auto failed = read_wpad_fallback(platform());
  ASSERT_FALSE(failed.has_value());
  EXPECT_EQ(failed.error().message(), "opening HKCU Internet Settings key for the WPAD fallback");
}

TEST_F(ReaderTest, CaptureTimeIsTakenAfterTheSteps) {
  WallTime before = WallTime::now();
  ProxyConfig config = read_ok();
  EXPECT_GE(config.captured_at, before);
  EXPECT_LE(config.captured_at, WallTime::now());
}

}  // namespace
}  // namespace zelvane::sys::win
