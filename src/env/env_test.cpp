#include "env/env.hpp"

#include <gtest/gtest.h>

#include "value/debug.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

namespace zelvane::env {

using namespace model;
using namespace value;

namespace {

void set_process_var(const char* name, const char* value) {
#ifdef _WIN32
  SetEnvironmentVariableA(name, value);
#else
  if (value) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
#endif
}

const SchemeEntry* slot(const EnvLayer& layer, SchemeSlot s) {
  auto it = layer.per_scheme.find(s);
  return it == layer.per_scheme.end() ? nullptr : &it->second;
}

TEST(EnvSourceTest, ProxyVariables) {
  auto layer = env::read_env_map({{"http_proxy", "proxy.example:3128"}}).value();
  ASSERT_EQ(layer.per_scheme.size(), 1u);
  const auto* use = std::get_if<SchemeEntry::Use>(&slot(layer, SchemeSlot::Http)->value);
  ASSERT_NE(use, nullptr);
  EXPECT_EQ(use->endpoint.port, 3128);
  EXPECT_EQ(use->endpoint.host, Host::domain("proxy.example"));
  EXPECT_TRUE(layer.rejected.empty());
  EXPECT_TRUE(layer.bypass.patterns.empty());
  EXPECT_EQ(layer.bypass.implicit, ImplicitBypass::Broad);
  EXPECT_TRUE(layer.bypass.ipv4_mapped_as_ipv4 && layer.bypass.strip_trailing_dot);
  EXPECT_TRUE(layer.to_mode().is<ProxyMode::Manual>());
}

TEST(EnvSourceTest, EveryVariableDefaultsToPort80) {
  auto layer = env::read_env_map({{"https_proxy", "s"}, {"all_proxy", "a"}, {"ftp_proxy", "f"}}).value();
  for (SchemeSlot s : {SchemeSlot::Https, SchemeSlot::All, SchemeSlot::Ftp}) {
    const auto* use = std::get_if<SchemeEntry::Use>(&slot(layer, s)->value);
    ASSERT_NE(use, nullptr) << name(s);
    EXPECT_EQ(use->endpoint.port, 80) << name(s);
  }
  EXPECT_EQ(slot(layer, SchemeSlot::Socks), nullptr);
}

TEST(EnvSourceTest, BlankValueDisablesItsSlot) {
  auto layer = env::read_env_map({{"HTTPS_PROXY", "   "}}).value();
  EXPECT_EQ(*slot(layer, SchemeSlot::Https), SchemeEntry{SchemeEntry::Disabled{}});
}

TEST(EnvSourceTest, RefusedValueBecomesDiagnosticAndUnusableSlot) {
  auto layer = env::read_env_map({{"ftp_proxy", " proxy.example:99999 "}}).value();
  EXPECT_EQ(slot(layer, SchemeSlot::Ftp), nullptr);
  ASSERT_EQ(layer.rejected.size(), 1u);
  const RejectedValue want{RejectedKind::InvalidProxyEndpoint,
                           RejectedSource::environment_variable("ftp_proxy"), "proxy.example:99999",
                           SchemeSlot::Ftp};
  EXPECT_EQ(layer.rejected[0], want);
  ProxyMode mode = layer.to_mode();
  const auto* manual = mode.get_if<ProxyMode::Manual>();
  ASSERT_NE(manual, nullptr);
  EXPECT_EQ(manual->per_scheme.at(SchemeSlot::Ftp), SchemeEntry{SchemeEntry::Unusable{want}});
  EXPECT_EQ(manual->rejected, std::vector<RejectedValue>{want});
}

TEST(EnvSourceTest, RefusedValueNeverShowsItsPassword) {
  auto layer = env::read_env_map({{"all_proxy", "http://user:s3cret@[::1"}}).value();
  ASSERT_EQ(layer.rejected.size(), 1u);
  EXPECT_EQ(layer.rejected[0].redacted_input.find("s3cret"), std::string::npos);
  EXPECT_EQ(debug_text(layer.to_mode()).find("s3cret"), std::string::npos);
}

TEST(EnvSourceTest, NoProxyAloneGivesDirect) {
  auto layer = env::read_env_map({{"no_proxy", "localhost,.example.com"}}).value();
  EXPECT_TRUE(layer.per_scheme.empty());
  EXPECT_EQ(layer.bypass.patterns.size(), 2u);
  EXPECT_TRUE(layer.to_mode().is<ProxyMode::Direct>());

  auto all_refused = env::read_env_map({{"no_proxy", "a b,c@d"}}).value();
  EXPECT_EQ(all_refused.bypass.rejected.size(), 2u);
  EXPECT_TRUE(all_refused.to_mode().is<ProxyMode::Direct>());
}

TEST(EnvSourceTest, EmptyEnvironmentGivesEmptyLayer) {
  auto layer = env::read_env_map({{"PATH", "/bin"}}).value();
  EXPECT_TRUE(layer.per_scheme.empty());
  EXPECT_TRUE(layer.rejected.empty());
  EXPECT_TRUE(layer.to_mode().is<ProxyMode::Direct>());
}

TEST(EnvSourceTest, LookupOrder) {
  struct Case {
    EnvVars vars;
    std::optional<std::string> want;
  };
  const Case cases[] = {
      {{{"http_proxy", "exact"}, {"HTTP_PROXY", "upper"}, {"Http_Proxy", "mixed"}}, "exact"},
      {{{"HTTP_PROXY", "upper"}, {"Http_Proxy", "mixed"}}, "upper"},
      {{{"http_PROXY", "b"}, {"Http_Proxy", "a"}}, "a"},    // smaller by bytes
      {{{"http_proxy", ""}, {"HTTP_PROXY", "upper"}}, ""},  // present though empty
      {{{"http_proxyx", "no"}}, std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = env::lookup(c.vars, "http_proxy");
    EXPECT_EQ(got ? std::optional<std::string>(std::string(*got)) : std::nullopt, c.want);
  }
}

TEST(EnvSourceTest, CgiGuard) {
  struct Case {
    EnvVars vars;
    std::optional<std::string> refused;  // the variable the error names
  };
  const Case cases[] = {
      {{{"REQUEST_METHOD", "GET"}, {"HTTP_PROXY", ""}}, "HTTP_PROXY"},
      {{{"REQUEST_METHOD", "GET"}, {"HTTP_PROXY", "a"}, {"http_proxy", "b"}}, "HTTP_PROXY"},
      {{{"request_method", "POST"}, {"hTTP_proxy", "a"}}, "hTTP_proxy"},
      {{{"REQUEST_METHOD", ""}, {"http_proxy", "a"}}, std::nullopt},
      // The exact name decides even when empty; other letter cases are not asked.
      {{{"REQUEST_METHOD", ""}, {"request_method", "GET"}, {"http_proxy", "a"}}, std::nullopt},
      {{{"REQUEST_METHOD", "GET"}, {"https_proxy", "a"}}, std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = env::read_env_map(c.vars);
    if (c.refused) {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error().message(), "refusing to use " + *c.refused + " value in CGI environment");
      EXPECT_EQ(got.error().get_if<Error::CgiHttpProxy>()->variable, *c.refused);
    } else {
      EXPECT_TRUE(got.has_value());
    }
  }
}

TEST(EnvSourceTest, ProcessEnvironment) {
  set_process_var("https_proxy", "http://probe.example:8443");
  auto layer = env::read_process_env();
  set_process_var("https_proxy", nullptr);
  ASSERT_TRUE(layer.has_value());
  const auto* use = std::get_if<SchemeEntry::Use>(&slot(*layer, SchemeSlot::Https)->value);
  ASSERT_NE(use, nullptr);
  EXPECT_EQ(use->endpoint.port, 8443);
}

// ---- the environment block

TEST(EnvBlockTest, GatheredAsTheProcessEnvironmentIsRead) {
  using namespace std::string_literals;
  struct Case {
    const char* what;
    std::u16string block;  // each entry ended by a NUL, the block by an empty entry
    EnvVars want;
  };
  const Case cases[] = {
      {"plain entries, an empty value kept",
       u"http_proxy=p.example:3128\0no_proxy=\0\0"s,
       {{"http_proxy", "p.example:3128"}, {"no_proxy", ""}}},
      {"a name with an unpaired surrogate is skipped", u"http\xD800_proxy=a\0b=1\0\0"s, {{"b", "1"}}},
      {"a name with an unpaired low surrogate is skipped", u"a\xDC00=a\0\0"s, {}},
      {"a value's unpaired surrogates become U+FFFD", u"a=x\xD800y\xDC00\0\0"s, {{"a", "x\uFFFDy\uFFFD"}}},
      {"of two equal names the first stays", u"a=1\0A=2\0a=3\0\0"s, {{"a", "1"}, {"A", "2"}}},
      {"characters outside the BMP stay whole",
       u"a=\xD83D\xDE00.example\0\xD83D\xDE00=b\0\0"s,
       {{"a", "\U0001F600.example"}, {"\U0001F600", "b"}}},
      {"per-drive directories come through under their '=' names",
       u"=C:=C:\\work\0=::=::\\\0a==b\0\0"s,
       {{"=C:", "C:\\work"}, {"=::", "::\\"}, {"a", "=b"}}},
      {"an entry without '=' is left out", u"noequals\0=\0a=1\0\0"s, {{"a", "1"}}},
      {"an empty block", u"\0"s, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(env::gather_block(c.block.c_str()), c.want) << c.what;
  }
  EXPECT_TRUE(env::gather_block(nullptr).empty());
}

TEST(EnvBlockTest, KeepsOnlyTheNamesAsked) {
  using namespace std::string_literals;
  const std::u16string block = u"=C:=C:\\\0PATH=x\0HTTPS_PROXY=h:1\0request_method=GET\0\0"s;
  EXPECT_EQ(env::gather_block(block.c_str(), env::is_read_name),
            (EnvVars{{"HTTPS_PROXY", "h:1"}, {"request_method", "GET"}}));
}

#ifdef _WIN32
// The block of this very process, as Windows hands it out.
TEST(EnvBlockTest, TheProcessBlock) {
  struct Set {
    const wchar_t* name;
    const wchar_t* value;
  };
  const Set sets[] = {
      {L"https_proxy", L"probe.example:8443"},
      {L"no_proxy", L"\xD83D\xDE00.example,x\xD800y"},
      {L"ftp_proxy\xDC00", L"lost.example"},
      {L"zelvane_probe", L"kept"},
      // A per-drive directory, as the command interpreter keeps one.
      {L"=Q:", L"Q:\\probe"},
  };
  for (const auto& set : sets) ASSERT_TRUE(SetEnvironmentVariableW(set.name, set.value)) << GetLastError();

  wchar_t* raw = GetEnvironmentStringsW();
  ASSERT_NE(raw, nullptr);
  const EnvVars all = env::gather_block(reinterpret_cast<const char16_t*>(raw));
  FreeEnvironmentStringsW(raw);
  const auto block = env::process_block_vars();
  auto layer = env::read_process_env();
  for (const auto& set : sets) SetEnvironmentVariableW(set.name, nullptr);

  EXPECT_EQ(all.at("zelvane_probe"), "kept");
  EXPECT_EQ(all.at("no_proxy"), "\U0001F600.example,x\uFFFDy");
  for (const auto& [name, value] : all) EXPECT_EQ(name.find("ftp_proxy"), std::string::npos) << name;
  EXPECT_EQ(all.at("=Q:"), "Q:\\probe");

  // Only what the layer reads is copied, in one piece.
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->at("https_proxy"), "probe.example:8443");
  EXPECT_EQ(block->at("no_proxy"), "\U0001F600.example,x\uFFFDy");
  for (const auto& [name, value] : *block) EXPECT_TRUE(env::is_read_name(name)) << name;

  ASSERT_TRUE(layer.has_value());
  const auto* use = std::get_if<SchemeEntry::Use>(&slot(*layer, SchemeSlot::Https)->value);
  ASSERT_NE(use, nullptr);
  EXPECT_EQ(use->endpoint.port, 8443);
  EXPECT_EQ(slot(*layer, SchemeSlot::Ftp), nullptr);
}
#else
// Walking `environ` would race with setenv() on other threads: the caller must read the copy
// that the program's own writers keep.
TEST(EnvBlockTest, NoConsistentCopyOutsideWindows) { EXPECT_FALSE(env::process_block_vars().has_value()); }
#endif

// ---- precedence

EnvLayer layer_of(const EnvVars& vars) { return env::read_env_map(vars).value(); }

ProxyConfig system_reading(ProxyMode registry_mode) {
  ProxyConfig c = ProxyConfig::from_sources({{SourceKind::Registry, std::move(registry_mode)},
                                             {SourceKind::WinHttpDefault, {ProxyMode::Direct{}}}});
  c.fallbacks = {SourceKind::GroupPolicy};
  return c;
}

std::vector<SourceKind> kinds(const ProxyConfig& c) {
  std::vector<SourceKind> out;
  out.reserve(c.sources.size());
  for (const auto& s : c.sources) out.push_back(s.kind);
  return out;
}

TEST(EnvPrecedenceTest, EmptyLayerLeavesTheReadingAlone) {
  ProxyConfig reading = system_reading({ProxyMode::WpadAutoDetect{}});
  ProxyConfig merged = merge(reading, layer_of({}), Precedence::BeforeSystem);
  EXPECT_EQ(merged, reading);
  EXPECT_EQ(merged.captured_at, reading.captured_at);
}

TEST(EnvPrecedenceTest, Placement) {
  const ProxyMode wpad{ProxyMode::WpadAutoDetect{}};
  const ProxyMode direct{ProxyMode::Direct{}};
  const EnvVars proxy = {{"http_proxy", "p:1"}};
  struct Case {
    const char* what;
    ProxyConfig reading;
    EnvVars vars;
    Precedence precedence;
    std::vector<SourceKind> want_kinds;
    bool env_effective;
  };
  const Case cases[] = {
      {"before-system puts Env first",
       system_reading(wpad),
       proxy,
       Precedence::BeforeSystem,
       {SourceKind::Env, SourceKind::Registry, SourceKind::WinHttpDefault},
       true},
      {"after-system appends",
       system_reading(wpad),
       proxy,
       Precedence::AfterSystem,
       {SourceKind::Registry, SourceKind::WinHttpDefault, SourceKind::Env},
       false},
      {"after-system over a Direct registry still appends",
       system_reading(direct),
       proxy,
       Precedence::AfterSystem,
       {SourceKind::Registry, SourceKind::WinHttpDefault, SourceKind::Env},
       false},
      {"after-system on an empty reading goes first",
       ProxyConfig::empty(),
       proxy,
       Precedence::AfterSystem,
       {SourceKind::Env},
       true},
      {"after-system over Env sources only, Direct, goes first",
       merge(ProxyConfig::empty(), layer_of({{"no_proxy", "a b"}}), Precedence::AfterSystem),
       proxy,
       Precedence::AfterSystem,
       {SourceKind::Env, SourceKind::Env},
       true},
      {"no_proxy alone makes Direct effective first",
       system_reading(wpad),
       {{"no_proxy", "localhost"}},
       Precedence::BeforeSystem,
       {SourceKind::Env, SourceKind::Registry, SourceKind::WinHttpDefault},
       true},
      {"refused values only are appended, never effective",
       system_reading(wpad),
       {{"http_proxy", "[::1"}},
       Precedence::BeforeSystem,
       {SourceKind::Registry, SourceKind::WinHttpDefault, SourceKind::Env},
       false},
      {"refused no_proxy entries only are appended",
       system_reading(wpad),
       {{"no_proxy", "a b"}},
       Precedence::BeforeSystem,
       {SourceKind::Registry, SourceKind::WinHttpDefault, SourceKind::Env},
       false},
  };
  for (const auto& c : cases) {
    EnvLayer layer = layer_of(c.vars);
    ProxyConfig merged = merge(c.reading, layer, c.precedence);
    EXPECT_EQ(kinds(merged), c.want_kinds) << c.what;
    EXPECT_EQ(merged.fallbacks, c.reading.fallbacks) << c.what;
    const ProxyMode& want_effective = c.env_effective ? layer.to_mode() : c.reading.effective;
    EXPECT_EQ(merged.effective, want_effective) << c.what;
    EXPECT_EQ(merged.captured_at, std::min(c.reading.captured_at, layer.captured_at)) << c.what;
  }
}

// A layer that stands for Direct carries no refused values of its own: the Env source must
// keep the refused no_proxy entries whether valid entries stand beside them (the layer may
// then be effective, and the effective setting stays Direct) or not (listed only for them).
TEST(EnvPrecedenceTest, RefusedNoProxyEntriesStayVisibleInTheEnvSource) {
  struct Case {
    const char* what;
    EnvVars vars;
    Precedence precedence;
    std::size_t env_index;  // where the Env source lands
    bool env_effective;
  };
  const Case cases[] = {
      {"refused entries alone", {{"no_proxy", "a b,c@d"}}, Precedence::BeforeSystem, 2, false},
      {"beside a valid entry, before the system",
       {{"no_proxy", "a b,example.com,c@d"}},
       Precedence::BeforeSystem,
       0,
       true},
      {"beside a valid entry, after the system",
       {{"no_proxy", "a b,example.com,c@d"}},
       Precedence::AfterSystem,
       2,
       false},
  };
  const ProxyConfig reading = system_reading({ProxyMode::WpadAutoDetect{}});
  for (const auto& c : cases) {
    EnvLayer layer = layer_of(c.vars);
    ASSERT_EQ(layer.bypass.rejected.size(), 2u) << c.what;
    ProxyConfig merged = merge(reading, layer, c.precedence);
    ASSERT_EQ(merged.sources.size(), 3u) << c.what;
    ASSERT_EQ(merged.sources[c.env_index].kind, SourceKind::Env) << c.what;
    if (c.env_effective) {
      EXPECT_TRUE(merged.effective.is<ProxyMode::Direct>()) << c.what;
    } else {
      EXPECT_EQ(merged.effective, reading.effective) << c.what;
    }
    const auto* manual = merged.sources[c.env_index].mode.get_if<ProxyMode::Manual>();
    ASSERT_NE(manual, nullptr) << c.what;
    EXPECT_TRUE(manual->per_scheme.empty()) << c.what;
    EXPECT_EQ(manual->bypass, layer.bypass) << c.what;
    EXPECT_TRUE(manual->rejected.empty()) << c.what;
  }
}

TEST(EnvPrecedenceTest, EarlierEnvironmentTimeWins) {
  EnvLayer layer = layer_of({{"http_proxy", "p:1"}});
  ProxyConfig later = ProxyConfig::empty();
  later.captured_at.intervals = layer.captured_at.intervals + 1000;
  EXPECT_EQ(merge(later, layer, Precedence::BeforeSystem).captured_at, layer.captured_at);
  ProxyConfig earlier = ProxyConfig::empty();
  earlier.captured_at.intervals = layer.captured_at.intervals - 1000;
  EXPECT_EQ(merge(earlier, layer, Precedence::BeforeSystem).captured_at, earlier.captured_at);
}

TEST(EnvPrecedenceTest, OneLayerMergesEquallyIntoTwoReadings) {
  EnvLayer layer = layer_of({{"http_proxy", "p:1"}, {"no_proxy", "x"}});
  ProxyConfig a = merge(system_reading({ProxyMode::Direct{}}), layer, Precedence::AfterSystem);
  ProxyConfig b = merge(system_reading({ProxyMode::WpadAutoDetect{}}), layer, Precedence::AfterSystem);
  EXPECT_EQ(a.sources.back(), b.sources.back());
}

}  // namespace
}  // namespace zelvane::env
