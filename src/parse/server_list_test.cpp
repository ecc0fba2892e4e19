#include "parse/server_list.hpp"

#include <gtest/gtest.h>

#include "debug.hpp"
#include "parse/endpoint.hpp"
#include "test_print.hpp"

namespace zelvane::parse {
namespace {

// "slot=kind" texts of a map, in slot order: "http=use a:1", "ftp=disabled", "all=unusable".
std::vector<std::string> entries(const PerScheme& map) {
  std::vector<std::string> out;
  for (const auto& [slot, entry] : map) {
    std::string text(slot_text(slot));
    std::visit(
        [&](const auto& e) {
          using T = std::decay_t<decltype(e)>;
          if constexpr (std::is_same_v<T, SchemeEntry::Use>) {
            text += "=use " + url_text(e.endpoint.host) + ":" + std::to_string(e.endpoint.port);
            if (e.endpoint.scheme_hint) text += " " + std::string(name(*e.endpoint.scheme_hint));
          } else if constexpr (std::is_same_v<T, SchemeEntry::Disabled>) {
            text += "=disabled";
          } else {
            text += "=unusable";
          }
        },
        entry.value);
    out.push_back(text);
  }
  return out;
}

TEST(ProxyServerListTest, Entries) {
  struct Case {
    std::string text;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"proxy:8080", {"all=use proxy:8080"}},
      {"http=a:1;https=b:2", {"http=use a:1", "https=use b:2"}},
      {"http=a:1;http=b:2", {"http=use b:2"}},
      {"http=a:1 http=", {"http=disabled"}},
      {"http=;ftp=c", {"http=disabled", "ftp=use c:80"}},
      {"HTTP=a:1;\t\r\nall=socks5://s", {"http=use a:1", "all=use s:1080 Socks5"}},
      // Space separates entries, so "http = a:1" is three of them.
      {"http = a:1", {"all=use a:1"}},
      {"socks=s:1080",
       {"http=use s:1080 Socks4", "https=use s:1080 Socks4", "ftp=use s:1080 Socks4",
        "socks=use s:1080 Socks4", "all=use s:1080 Socks4"}},
      {"socks=socks5://s", {"http=use s:1080 Socks5", "https=use s:1080 Socks5",
                            "ftp=use s:1080 Socks5", "socks=use s:1080 Socks5",
                            "all=use s:1080 Socks5"}},
      {"socks=s all=x", {"socks=use s:1080 Socks4", "all=use x:80"}},
      {"socks=s http=", {"http=disabled", "https=use s:1080 Socks4", "ftp=use s:1080 Socks4",
                         "socks=use s:1080 Socks4", "all=use s:1080 Socks4"}},
      {"host:80/?a=b", {"all=use host:80"}},
      {"", {}},
      {" ;; \t ", {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(entries(parse_proxy_server(c.text).per_scheme), c.want) << c.text;
  }
}

TEST(ProxyServerListTest, RefusedEntries) {
  struct Case {
    std::string text;
    RejectedValue want;
  };
  const Case cases[] = {
      {"gopher=g:70", {RejectedKind::UnknownProxyScheme, RejectedSource::proxy_server(),
                       "gopher=g:70", std::nullopt}},
      // Entries holding ':' are kept by their length only: they may be "user:password".
      {"http=[::1", {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(),
                     "<9 characters, withheld: it may hold a user:password fragment>",
                     SchemeSlot::Http}},
      {"socks=[::1", {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(),
                      "<10 characters, withheld: it may hold a user:password fragment>",
                      SchemeSlot::All}},
      {"[zz", {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(), "[zz",
               SchemeSlot::All}},
      {"http=ftp//p/x@y", {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(),
                           "http=ftp//p/x@y", SchemeSlot::Http}},
  };
  for (const auto& c : cases) {
    auto list = parse_proxy_server(c.text);
    EXPECT_TRUE(list.per_scheme.empty()) << c.text;
    ASSERT_EQ(list.rejected.size(), 1u) << c.text;
    EXPECT_EQ(list.rejected[0], c.want) << c.text;
  }
}

TEST(ProxySettingsTest, ManualWithBypassAndUnusableSlots) {
  ProxyMode mode = parse_proxy_settings("http=[::1;https=b:2;socks=[zz];gopher=x",
                                        "*.example.com;intranet;<local>");
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

TEST(ProxyServerListTest, RefusedEntriesAreRedacted) {
  auto list = parse_proxy_server("http=http://alice:hunter2@[::1 alice:hunter2");
  ASSERT_EQ(list.rejected.size(), 2u);
  for (const auto& r : list.rejected) {
    EXPECT_EQ(r.redacted_input.find("hunter2"), std::string::npos) << r.redacted_input;
  }
}

std::vector<std::string> step_texts(const std::vector<RouteStep>& steps) {
  std::vector<std::string> out;
  for (const auto& s : steps) {
    if (s.endpoint() == nullptr) {
      out.push_back("DIRECT");
      continue;
    }
    const ProxyEndpoint& e = *s.endpoint();
    std::string kind = s.value.index() == 1 ? "HTTP" : s.value.index() == 2 ? "HTTPS"
                       : s.value.index() == 3 ? "SOCKS4" : "SOCKS5";
    out.push_back(kind + " " + url_text(e.host) + ":" + std::to_string(e.port) + " " +
                  std::string(name(*e.scheme_hint)) + (e.auth ? " auth" : ""));
  }
  return out;
}

TEST(PacResultTest, Answers) {
  struct Case {
    std::string answer;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"PROXY a:3128; DIRECT", {"HTTP a:3128 Http", "DIRECT"}},
      {"proxy a", {"HTTP a:80 Http"}},
      {"HTTPS a", {"HTTPS a:443 Https"}},
      {"SOCKS a", {"SOCKS4 a:1080 Socks4"}},
      {"SOCKS4 a:9", {"SOCKS4 a:9 Socks4"}},
      {"SOCKS5 a", {"SOCKS5 a:1080 Socks5h"}},
      {"PROXY a:0", {"HTTP a:80 Http"}},
      {"PROXY a; PROXY a:80; HTTP a", {"HTTP a:80 Http"}},
      {"DIRECT; DIRECT", {"DIRECT"}},
      {"PROXY u:p@a:1", {"HTTP a:1 Http"}},
      {"PROXY a b;DIRECT a;PROXY;FOO a;PROXY a/b;PROXY a?x;PROXY a#x;PROXY http://a;PROXY b",
       {"HTTP b:80 Http"}},
      {"\r\n;\tPROXY\ta:1\r\nDIRECT\n", {"HTTP a:1 Http", "DIRECT"}},
      {"PROXY a\xC2\xA0" "b; PROXY a\vb; DIRECT", {"DIRECT"}},
      {"PROXY [::1]:8080", {"HTTP [::1]:8080 Http"}},
  };
  for (const auto& c : cases) {
    auto got = parse_pac_result(c.answer);
    ASSERT_TRUE(got.has_value()) << c.answer << ": " << got.error().message();
    EXPECT_EQ(step_texts(*got), c.want) << c.answer;
  }
}

TEST(PacResultTest, StopsAtSixtyFourSteps) {
  std::string answer;
  for (int i = 0; i < 70; ++i) answer += "PROXY p" + std::to_string(i) + ":1;";
  auto steps = parse_pac_result(answer).value();
  ASSERT_EQ(steps.size(), 64u);
  EXPECT_EQ(url_text(steps.back().endpoint()->host), "p63");
  // Duplicates do not count towards the limit.
  std::string repeated = "PROXY x:1;PROXY x:1;" + answer;
  EXPECT_EQ(url_text(parse_pac_result(repeated).value()[1].endpoint()->host), "p0");
}

TEST(PacResultTest, NothingUsableIsAnError) {
  for (std::string answer : {std::string(""), std::string("FOO bar; PROXY"),
                             std::string("PROXY http://user:pw@a/\nx")}) {
    auto got = parse_pac_result(answer);
    ASSERT_FALSE(got.has_value()) << answer;
    EXPECT_TRUE(got.error().get_if<Error::PacInvalidResult>()) << answer;
  }
  EXPECT_EQ(parse_pac_result("FOO\tbar").error().message(),
            "PAC script returned no usable proxy candidate: FOO.bar");
  EXPECT_EQ(parse_pac_result("PROXY http://user:pw@a/").error().message(),
            "PAC script returned no usable proxy candidate: PROXY http://user:***@a/");
}

TEST(CandidateListTest, KeepsFirstOccurrenceInOrder) {
  CandidateList list;
  EXPECT_FALSE(CandidateList().finish());
  auto http = [](std::string host, std::uint16_t port) {
    return RouteStep{RouteStep::Http{{ProxyScheme::Http, Host::domain(std::move(host)), port, {}}}};
  };
  list.push(http("a", 1));
  list.push({RouteStep::Direct{}});
  list.push(http("a", 1));
  list.push(http("a", 2));
  list.push({RouteStep::Direct{}});
  // Same endpoint, other kind of step: a different candidate.
  list.push({RouteStep::Https{{ProxyScheme::Http, Host::domain("a"), 1, {}}}});
  auto steps = std::move(list).finish().value();
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0], http("a", 1));
  EXPECT_EQ(steps[1].endpoint(), nullptr);
  EXPECT_EQ(steps[2], http("a", 2));
  EXPECT_EQ(steps[3].value.index(), 2u);
}

}  // namespace
}  // namespace zelvane::parse
