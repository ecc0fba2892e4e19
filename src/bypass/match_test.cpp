#include "bypass/match.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bypass/rules.hpp"
#include "model/test_print.hpp"
#include "value/debug.hpp"

namespace zelvane::bypass {

using namespace model;
using namespace value;

namespace {

using R = BypassRule;
constexpr auto kNoProxy = BypassDialect::NoProxyStyle;
constexpr auto kWindows = BypassDialect::WindowsStyle;

Url url(std::string_view text) { return Url::parse(text).value(); }

BypassRules no_proxy(std::string_view list) { return parse(list, ",", kNoProxy); }
BypassRules windows(std::string_view list) { return parse(list, "; ", kWindows); }

struct UrlCase {
  std::string url;
  bool bypass;
};

void expect_urls(const BypassRules& rules, const std::vector<UrlCase>& cases, std::string_view list) {
  for (const auto& c : cases) {
    EXPECT_EQ(matches(rules, url(c.url)), c.bypass) << "list " << quoted(list) << ", url " << c.url;
  }
}

struct ListCase {
  std::string list;
  std::vector<UrlCase> urls;
};

void expect_lists(BypassRules (*parse)(std::string_view), const std::vector<ListCase>& lists) {
  for (const auto& l : lists) {
    const BypassRules rules = parse(l.list);
    ASSERT_TRUE(rules.rejected.empty()) << "list " << quoted(l.list) << ": " << debug_text(rules);
    expect_urls(rules, l.urls, l.list);
  }
}

TEST(BypassMatchTest, NoProxyImplicitSetAndItsWithdrawal) {
  expect_lists(no_proxy,
               {
                   {"",
                    {
                        {"http://localhost/", true},
                        {"http://LOCALHOST:8080/", true},
                        {"http://loopback./", true},
                        {"http://app.localhost/", true},
                        {"http://app.localhost./", true},
                        {"http://127.1.2.3/", true},
                        {"http://0x7f.1/", true},  // the URL parser's 127.0.0.1
                        {"http://[::1]/", true},
                        {"http://[::ffff:127.0.0.1]/", true},
                        {"http://example.com/", false},
                        {"http://localhost.example/", false},
                        {"http://mylocalhost/", false},
                        {"http://loopback../", false},  // one trailing dot is ignored, not two
                        {"http://128.0.0.1/", false},
                        {"http://[::2]/", false},
                        {"http://[::ffff:128.0.0.1]/", false},
                        // No host, or an empty one: nothing to compare, never bypassed.
                        {"mailto:someone@localhost", false},
                        {"file:///etc/hosts", false},
                        {"file://localhost/etc/hosts", false},
                    }},
                   {"<-loopback>",
                    {
                        {"http://localhost/", false},
                        {"http://127.0.0.1/", false},
                        {"http://[::1]/", false},
                        {"http://example.com/", false},
                    }},
                   // The later rule is tried first: here the withdrawal comes before the name.
                   {"localhost,<-loopback>", {{"http://localhost/", false}, {"http://a.localhost/", false}}},
                   {"<-loopback>,localhost",
                    {
                        {"http://localhost/", true},
                        {"http://a.localhost/", true},
                        {"http://127.0.0.1/", false},
                    }},
                   // A withdrawal only concerns implicit members; other hosts go on to earlier rules.
                   {"example.com,<-loopback>", {{"http://example.com/", true}, {"http://[::1]/", false}}},
               });
}

TEST(BypassMatchTest, NoProxyNamesSubdomainsAndTrailingDots) {
  expect_lists(
      no_proxy,
      {
          {".example.com",
           {
               {"http://a.example.com/", true},
               {"http://a.example.com./", true},
               {"http://A.B.EXAMPLE.COM/", true},
               {"http://example.com/", false},
               {"http://badexample.com/", false},
               {"http://example.com.evil/", false},
           }},
          {"example.com",
           {
               {"http://example.com/", true},
               {"http://example.com./", true},
               {"http://a.example.com/", true},
               {"http://badexample.com/", false},
               {"http://example.co/", false},
           }},
          {"*.example.*", {{"http://host.example.org/", true}, {"http://example.org/", false}}},
          {"*.*.1", {{"http://10.0.0.1/", true}, {"http://10.0.0.2/", false}}},
          {"*", {{"http://anything.example/", true}, {"gopher://x/", true}, {"file:///x", false}}},
          // Non-special schemes keep the host as written: compared in lower case.
          {"intranet",
           {{"foo://InTraNet/x", true}, {"foo://a.INTRANET/x", true}, {"foo://intranet.corp/x", false}}},
          {"localhost.localdomain", {{"http://localhost.localdomain/", true}}},
      });
}

TEST(BypassMatchTest, InternationalNamesCompareInTheirAsciiForm) {
  expect_lists(no_proxy, {
                             {"bücher.example",
                              {
                                  {"http://bücher.example/", true},
                                  {"http://BÜCHER.example/", true},
                                  {"http://xn--bcher-kva.example/", true},
                                  {"https://www.bücher.example/", true},
                                  {"http://bucher.example/", false},
                              }},
                             {"xn--bcher-kva.example", {{"http://bücher.example/", true}}},
                         });
  // A host given as Unicode text, not by a URL parser.
  const BypassRules rules = no_proxy(".bücher.example");
  EXPECT_TRUE(matches_host(rules, Host::domain("Www.Bücher.Example"), {}));
  EXPECT_FALSE(matches_host(rules, Host::domain("bücher.example"), {}));
}

TEST(BypassMatchTest, PortsExplicitAndByScheme) {
  expect_lists(no_proxy,
               {
                   {"example.com:8080",
                    {
                        {"http://example.com:8080/", true},
                        {"https://a.example.com:8080/", true},
                        {"http://example.com/", false},
                        {"http://example.com:8081/", false},
                    }},
                   {"example.com:80",
                    {
                        {"http://example.com/", true},
                        {"http://example.com:80/", true},  // the parser drops the default port
                        {"ws://example.com/", true},
                        {"https://example.com:80/", true},
                        {"https://example.com/", false},
                        {"gopher://example.com/", false},  // no default port: a rule with a port fails
                        {"gopher://example.com:80/", true},
                    }},
                   {"example.com:443", {{"https://example.com/", true}, {"wss://example.com/", true}}},
                   {"example.com:21", {{"ftp://example.com/", true}, {"http://example.com/", false}}},
                   {"[2001:db8::1]:8080",
                    {
                        {"http://[2001:db8::1]:8080/", true},
                        {"http://[2001:DB8:0::1]:8080/", true},
                        {"http://[2001:db8::1]/", false},
                    }},
                   {"*:8080", {{"http://x:8080/", true}, {"http://x/", false}}},
               });
}

TEST(BypassMatchTest, NoProxyNetworksAndAddresses) {
  expect_lists(
      no_proxy,
      {
          {"10.0.0.0/8",
           {
               {"http://10.1.2.3/", true},
               {"http://10.0.0.0/", true},
               {"http://10.255.255.255/", true},
               {"http://[::ffff:10.1.2.3]/", true},  // mapped addresses compare as IPv4
               {"http://9.255.255.255/", false},
               {"http://11.0.0.0/", false},
               {"http://10.example/", false},  // a domain never lies in a network
           }},
          {"192.168.1.77/24",  // host bits as written are ignored
           {
               {"http://192.168.1.0/", true},
               {"http://192.168.1.255/", true},
               {"http://192.168.0.255/", false},
               {"http://192.168.2.0/", false},
           }},
          {"10.1.2.3/32", {{"http://10.1.2.3/", true}, {"http://10.1.2.4/", false}}},
          {"0.0.0.0/0",
           {{"http://8.8.8.8/", true}, {"http://[::ffff:8.8.8.8]/", true}, {"http://[2001:db8::1]/", false}}},
          {"::ffff:10.0.0.0/104", {{"http://10.1.2.3/", true}, {"http://11.1.2.3/", false}}},
          {"fd00::/8",
           {{"http://[fd12::1]/", true}, {"http://[fe00::1]/", false}, {"http://10.0.0.1/", false}}},
          {"::/0", {{"http://[2001:db8::1]/", true}, {"http://10.0.0.1/", false}}},
          // Read as the URL parser reads the address: 010 is octal.
          {"010.1.2.0/24", {{"http://8.1.2.9/", true}, {"http://010.1.2.9/", true}}},
          {"10.0.0.1", {{"http://10.0.0.1/", true}, {"http://[::ffff:10.0.0.1]/", true}}},
          {"[::ffff:10.0.0.1]", {{"http://10.0.0.1/", true}, {"http://[::ffff:10.0.0.1]/", true}}},
          {"10.1", {{"http://10.0.0.1/", true}}},
      });
}

TEST(BypassMatchTest, WindowsImplicitSetLocalAndExactNames) {
  expect_lists(
      windows,
      {
          {"",
           {
               {"http://localhost/", true},
               {"http://loopback/", true},
               {"http://127.0.0.1/", true},
               {"http://169.254.1.1/", true},
               {"http://[::1]/", true},
               {"http://[fe80::1]/", true},
               {"http://[febf::1]/", true},
               {"http://127.0.0.2/", false},
               {"http://169.255.0.1/", false},
               {"http://[fec0::1]/", false},
               {"http://localhost./", false},
               {"http://app.localhost/", false},
               {"http://[::ffff:127.0.0.1]/", false},  // an IPv6 address here
           }},
          {"<local>",
           {
               {"http://intranet/", true},
               {"foo://Intranet/", true},
               {"http://intranet.corp/", false},
               {"http://intranet./", false},
               {"http://10.0.0.1/", false},
           }},
          {"intranet",
           {{"http://intranet/", true}, {"http://intranet./", false}, {"http://a.intranet/", false}}},
          {"*.example.com", {{"http://a.example.com/", true}, {"http://example.com/", false}}},
          {"10.*", {{"http://10.1.2.3/", true}, {"http://110.1.2.3/", false}}},
          {"10.0.0.1", {{"http://10.0.0.1/", true}, {"http://[::ffff:10.0.0.1]/", false}}},
          {"[::ffff:10.0.0.1]", {{"http://10.0.0.1/", false}, {"http://[::ffff:10.0.0.1]/", true}}},
          {"<-loopback>", {{"http://localhost/", false}, {"http://169.254.1.1/", false}}},
      });
}

TEST(BypassMatchTest, ImplicitSetsByName) {
  struct Case {
    ImplicitBypass set;
    std::string host;
    bool member;
  };
  const Case cases[] = {
      {ImplicitBypass::CfNetwork, "localhost", true},
      {ImplicitBypass::CfNetwork, "loopback", false},
      {ImplicitBypass::CfNetwork, "127.0.0.1", true},
      {ImplicitBypass::CfNetwork, "127.0.0.2", false},
      {ImplicitBypass::CfNetwork, "[::1]", true},
      {ImplicitBypass::CfNetwork, "169.254.0.1", false},
      {ImplicitBypass::Empty, "localhost", false},
      {ImplicitBypass::Empty, "127.0.0.1", false},
      {ImplicitBypass::Empty, "[::1]", false},
      {ImplicitBypass::Broad, "x.localhost.", true},
      {ImplicitBypass::WinInet, "169.254.255.255", true},
      {ImplicitBypass::Broad, "169.254.0.1", false},
  };
  for (const auto& c : cases) {
    const Host host = *url("http://" + c.host + "/").host();
    EXPECT_EQ(implicit_contains(c.set, host), c.member) << name(c.set) << " " << c.host;
    BypassRules rules;
    rules.implicit = c.set;
    EXPECT_EQ(matches_host(rules, host, {}), c.member) << name(c.set) << " " << c.host;
  }
}

// Rules and flags that no list text produces: the matcher honours them all the same.
BypassRules with_rules(std::vector<BypassRule> patterns) {
  BypassRules rules;
  rules.patterns = std::move(patterns);
  return rules;
}

TEST(BypassMatchTest, HandBuiltRulesCompareWithoutRegardToCase) {
  const BypassRules rules = with_rules({
      R{R::Exact{Host::domain("Intranet"), {}}},
      R{R::Domain{".Example.COM", false, {}}},
      R{R::Wildcard{"*.WILD.example", {}}},
      R{R::Exact{Host::domain("bücher.example"), {}}},
      R{R::Domain{"self.example", true, {}}},
  });
  expect_urls(rules,
              {
                  {"http://intranet/", true},
                  {"http://a.example.com/", true},
                  {"http://x.wild.example/", true},
                  {"http://bücher.example/", true},
                  {"http://self.example/", true},
                  {"http://a.self.example/", true},
                  {"http://example.com/", false},
              },
              "hand-built");
}

TEST(BypassMatchTest, SuffixesThatNameNothingNeverMatch) {
  for (const char* suffix : {"", "."}) {
    const BypassRules rules = with_rules({R{R::Domain{suffix, true, {}}}});
    EXPECT_FALSE(matches(rules, url("http://example.com/"))) << quoted(suffix);
    EXPECT_FALSE(matches(rules, url("http://example.com./"))) << quoted(suffix);
  }
}

TEST(BypassMatchTest, AddressRulesAgainstOpaqueHosts) {
  // A non-special URL's host is text even when it reads as an address.
  const BypassRules rules = with_rules({R{R::Exact{Host{Ipv4Addr{{10, 0, 0, 1}}}, {}}}});
  EXPECT_TRUE(matches(rules, url("foo://10.0.0.1/")));
  EXPECT_FALSE(matches(rules, url("foo://10.0.0.2/")));
  const BypassRules net = with_rules({R{R::Cidr{*parse_ip_net("10.0.0.0/8")}}});
  EXPECT_FALSE(matches(net, url("foo://10.0.0.1/")));
}

TEST(BypassMatchTest, ReversedExceptionsProxyOnlyTheListedHosts) {
  BypassRules rules = with_rules({R{R::Domain{".example.com", true, {}}}});
  rules.reversed_exceptions = true;
  expect_urls(rules,
              {
                  {"http://example.com/", false},
                  {"http://a.example.com/", false},
                  {"http://other.org/", true},
                  {"http://localhost/", true},
              },
              "reversed");
  // A refused entry might have named any host: nothing unlisted goes direct.
  rules.rejected.push_back(RejectedValue{RejectedKind::InvalidBypassPattern, RejectedSource::bypass_list(),
                                         "bad entry", std::nullopt});
  expect_urls(rules,
              {
                  {"http://example.com/", false},
                  {"http://other.org/", false},
                  {"http://localhost/", true},  // the implicit set still bypasses
              },
              "reversed, with a refused entry");

  BypassRules subtract = with_rules({R{R::SubtractImplicit{}}});
  subtract.reversed_exceptions = true;
  EXPECT_TRUE(matches(subtract, url("http://localhost/")));
  EXPECT_TRUE(matches(subtract, url("http://other.org/")));
  subtract.rejected = rules.rejected;
  EXPECT_FALSE(matches(subtract, url("http://localhost/")));
  EXPECT_FALSE(matches(subtract, url("http://other.org/")));
}

TEST(BypassMatchTest, SimpleHostnamesExcluded) {
  BypassRules rules;
  rules.exclude_simple_hostnames = true;
  expect_urls(rules,
              {
                  {"http://intranet/", true},
                  {"http://[2001:db8::1]/", true},  // its key holds no '.' either
                  {"http://intranet.corp/", false},
                  {"http://10.0.0.1/", false},
              },
              "exclude simple");
  // A withdrawal of the implicit set leaves its members to the rules.
  rules.patterns = {R{R::SubtractImplicit{}}};
  EXPECT_FALSE(matches(rules, url("http://localhost/")));
  EXPECT_TRUE(matches(rules, url("http://intranet/")));
}

TEST(BypassMatchTest, ExplicitPortRequired) {
  BypassRules rules =
      with_rules({R{R::Domain{".example.com", true, 80}}, R{R::Exact{Host::domain("any"), {}}}});
  rules.require_explicit_port = true;
  expect_urls(rules,
              {
                  {"http://example.com/", false},
                  {"http://example.com:80/", false},  // dropped by the parser: no port
                  {"https://example.com:80/", true},
                  {"http://any/", true},
              },
              "explicit port");
  EXPECT_EQ(destination_port(rules, url("http://example.com/")), std::nullopt);
  rules.require_explicit_port = false;
  EXPECT_EQ(destination_port(rules, url("http://example.com/")), 80);
  EXPECT_EQ(destination_port(rules, url("wss://example.com/")), 443);
  EXPECT_EQ(destination_port(rules, url("ftp://example.com/")), 21);
  EXPECT_EQ(destination_port(rules, url("gopher://example.com/")), std::nullopt);
  EXPECT_EQ(destination_port(rules, url("gopher://example.com:70/")), 70);
}

TEST(BypassMatchTest, HostKeys) {
  struct Case {
    Host host;
    std::string key;
  };
  const Case cases[] = {
      {Host{Ipv4Addr{{10, 0, 0, 1}}}, "10.0.0.1"},
      {Host{*parse_ipv6_standard("2001:DB8:0:0::1")}, "2001:db8::1"},
      {Host{*parse_ipv6_standard("::ffff:7f00:1")}, "::ffff:127.0.0.1"},
      {Host::domain("ExAmple.COM."), "example.com."},
      {Host::domain("Www.Bücher.Example"), "www.xn--bcher-kva.example"},
      // No ASCII form: kept, its ASCII letters lower-cased.
      {Host::domain("*Ü.X"), "*Ü.x"},
      {Host::domain(""), ""},
  };
  for (const auto& c : cases) EXPECT_EQ(host_key(c.host), c.key) << debug_text(c.host);
}

TEST(BypassMatchTest, EmptyHostNeverBypassesEvenUnderAll) {
  const BypassRules rules = no_proxy("*");
  EXPECT_FALSE(matches_host(rules, Host::domain(""), 80));
  EXPECT_TRUE(matches_host(rules, Host::domain("x"), std::nullopt));
}

}  // namespace
}  // namespace zelvane::bypass
