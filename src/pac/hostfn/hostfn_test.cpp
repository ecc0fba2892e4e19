#include "pac/hostfn/hostfn.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace zelvane::pac::hostfn {
namespace {

using namespace std::string_literals;

value::IpAddr ip(std::string_view text) { return *value::parse_ip_standard(text); }

PacPolicy policy(bool resolve_dns, bool allow_internal = false) {
  PacPolicy p;
  p.resolve_dns = resolve_dns;
  p.allow_internal_addresses = allow_internal;
  return p;
}

struct TextsCase {
  std::string a, b;
  bool expected;
};

TEST(IsPlainHostName, NeitherDotNorColon) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"", true},     {"undefined", true}, {"web", true},   {" web", true},    {"a.b", false},
      {"::1", false}, {"[::1]", false},    {"web.", false}, {"web:80", false},
  };
  for (const auto& [host, plain] : cases) EXPECT_EQ(is_plain_host_name(host), plain) << host;
}

TEST(DnsDomainIs, SuffixIgnoringAsciiCase) {
  const std::vector<TextsCase> cases = {
      {"Web.Example.COM", ".example.com", true},
      {"badexample.com", "example.com", true},  // no label boundary
      {"web.example.com", "", true},
      {"", "", true},
      {"example.com", "www.example.com", false},
      {"web.example.org", ".example.com", false},
      {"web.example.com ", ".example.com", false},  // no trimming
      {"WEB.éXAMPLE.COM", "éxample.com", true},     // only ASCII letters fold
      {"web.ÉXAMPLE.com", "éxample.com", false},
  };
  for (const auto& c : cases) EXPECT_EQ(dns_domain_is(c.a, c.b), c.expected) << c.a << " " << c.b;
}

TEST(LocalHostOrDomainIs, EqualOrUnqualifiedPrefix) {
  const std::vector<TextsCase> cases = {
      {"web", "web.example.com", true},
      {"WEB.example.com", "web.EXAMPLE.com", true},
      {"web.other.com", "web.example.com", false},
      {"web", "webx.example.com", false},
      {"web", "web", true},
      {"WEB", "web.example.com", true},
      {"web.example", "web.example.com", false},  // qualified but not equal
      {"web", "xweb.example.com", false},
      {"web", "", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(local_host_or_domain_is(c.a, c.b), c.expected) << c.a << " " << c.b;
  }
}

// Answers that show each rule of the address choice.
void script(ScriptedResolver& dns) {
  dns.set("example.com", {ip("203.0.114.5")});
  dns.set("Example.COM.", {ip("198.51.99.7")});
  dns.set("localhost", {ip("127.0.0.1"), ip("::1")});
  dns.set("mixed", {ip("10.0.0.1"), ip("198.51.99.1")});
  dns.set("v6only", {ip("2001:db8::1"), ip("2606:4700::1")});
  dns.set("mapped", {ip("fe80::1"), ip("::ffff:203.0.114.5")});
  dns.set("mapped-internal", {ip("::ffff:10.1.1.1")});
  dns.set("[1.2.3.4]", {ip("93.184.216.34")});
  dns.set("[::1", {ip("203.0.114.9")});
}

struct ResolveCase {
  std::string host;
  PacPolicy policy;
  std::optional<std::string> expected;
  std::vector<std::string> asked;
};

TEST(Resolving, DnsResolve) {
  const std::vector<ResolveCase> cases = {
      // Names resolve only when the policy allows it.
      {"example.com", policy(false), std::nullopt, {}},
      {"example.com", policy(true), "203.0.114.5", {"example.com"}},
      {" example.com\t", policy(true), "203.0.114.5", {"example.com"}},
      // Asked as written: no lower-casing, no IDNA, the trailing dot kept.
      {"Example.COM.", policy(true), "198.51.99.7", {"Example.COM."}},
      {"unknown.test", policy(true), std::nullopt, {"unknown.test"}},
      // IPv4 literals in every URL form are answered as they stand under any policy.
      {" 10.1.2.3 ", policy(false), "10.1.2.3", {}},
      {"127.1", policy(false), "127.0.0.1", {}},
      {"1.2.3.4.", policy(false), "1.2.3.4", {}},
      {"0x7f.0.0.1", policy(false), "127.0.0.1", {}},
      {"2130706433", policy(false), "127.0.0.1", {}},
      // IPv6 literals are never answered, and never looked up.
      {"::1", policy(true, true), std::nullopt, {}},
      {"[::1]", policy(true, true), std::nullopt, {}},
      {"::ffff:10.0.0.1", policy(true, true), std::nullopt, {}},
      {"[::ffff:10.0.0.1]", policy(true, true), std::nullopt, {}},
      // Brackets around anything but an IPv6 address stay part of the name.
      {"[1.2.3.4]", policy(true), "93.184.216.34", {"[1.2.3.4]"}},
      {"[1.2.3.4]", policy(false), std::nullopt, {}},
      {"[::1", policy(true), "203.0.114.9", {"[::1"}},
      // Empty names and names holding NUL are never asked.
      {"", policy(true), std::nullopt, {}},
      {" \u3000", policy(true), std::nullopt, {}},
      {"example.com\0evil"s, policy(true, true), std::nullopt, {}},
      // The choice among the answers.
      {"localhost", policy(true), std::nullopt, {"localhost"}},
      {"localhost", policy(true, true), "127.0.0.1", {"localhost"}},
      {"mixed", policy(true), "198.51.99.1", {"mixed"}},
      {"mixed", policy(true, true), "10.0.0.1", {"mixed"}},
      {"v6only", policy(true, true), std::nullopt, {"v6only"}},
      {"mapped", policy(true), "203.0.114.5", {"mapped"}},
      {"mapped-internal", policy(true), std::nullopt, {"mapped-internal"}},
      {"mapped-internal", policy(true, true), "10.1.1.1", {"mapped-internal"}},
  };
  for (const auto& c : cases) {
    ScriptedResolver dns;
    script(dns);
    EXPECT_EQ(dns_resolve(c.host, c.policy, dns), c.expected) << c.host;
    EXPECT_EQ(dns.asked(), c.asked) << c.host;
  }
}

TEST(Resolving, IsResolvable) {
  const std::vector<std::tuple<std::string, PacPolicy, bool>> cases = {
      {"[::1]", policy(false), true},
      {"::1", policy(false), true},
      {"::ffff:10.0.0.1", policy(false), true},
      {"10.0.0.1", policy(false), true},
      {"127.1", policy(false), true},
      {"example.com", policy(false), false},
      {"example.com", policy(true), true},
      {"localhost", policy(true), false},
      {"localhost", policy(true, true), true},
      {"v6only", policy(true, true), false},
      {"unknown.test", policy(true, true), false},
      {"", policy(true, true), false},
  };
  for (const auto& [host, p, expected] : cases) {
    ScriptedResolver dns;
    script(dns);
    EXPECT_EQ(is_resolvable(host, p, dns), expected) << host;
  }
}

TEST(Resolving, NoLookupWithoutPermission) {
  ScriptedResolver dns;
  script(dns);
  for (const char* host : {"example.com", "localhost", "[1.2.3.4]"}) {
    EXPECT_FALSE(is_resolvable(host, policy(false), dns));
    EXPECT_FALSE(dns_resolve(host, policy(false), dns));
    EXPECT_FALSE(is_in_net(host, "0.0.0.0", "0.0.0.0", policy(false), dns));
  }
  EXPECT_TRUE(dns.asked().empty());
}

struct InNetCase {
  std::string host, pattern, mask;
  PacPolicy policy;
  bool expected;
  std::vector<std::string> asked;
};

TEST(Resolving, IsInNet) {
  const std::vector<InNetCase> cases = {
      {"10.1.2.3", "10.0.0.0", "255.0.0.0", policy(false), true, {}},
      {"11.1.2.3", "10.0.0.0", "255.0.0.0", policy(false), false, {}},
      {"10.1.2.3", "10.0.0.0", "255.0.0", policy(false), false, {}},
      {"10.1.2.3", " 10.0.0.0", "255.0.0.0", policy(false), false, {}},
      {"10.1.2.3", "010.000.000.000", "255.0.0.0", policy(false), true, {}},
      {"10.1.2.3", "99.1.99.3", "0.255.0.255", policy(false), true, {}},  // not contiguous
      {"::1", "0.0.0.0", "0.0.0.0", policy(true, true), false, {}},
      {"::ffff:10.0.0.1", "10.0.0.0", "255.0.0.0", policy(true, true), false, {}},
      {"127.1", "127.0.0.0", "255.0.0.0", policy(false), true, {}},  // URL form, as dnsResolve
      // A bad pattern or mask costs no lookup.
      {"example.com", "10.0.0", "255.0.0.0", policy(true), false, {}},
      {"example.com", "0.0.0.0", "0.0.0.256", policy(true), false, {}},
      // Names go through the resolver and its choice of address.
      {"example.com", "0.0.0.0", "0.0.0.0", policy(true), true, {"example.com"}},
      {"example.com", "203.0.114.0", "255.255.255.0", policy(true), true, {"example.com"}},
      {"v6only", "0.0.0.0", "0.0.0.0", policy(true, true), false, {"v6only"}},
      {"localhost", "127.0.0.0", "255.0.0.0", policy(true), false, {"localhost"}},
      {"localhost", "127.0.0.0", "255.0.0.0", policy(true, true), true, {"localhost"}},
      {"mixed", "10.0.0.0", "255.0.0.0", policy(true), false, {"mixed"}},
  };
  for (const auto& c : cases) {
    ScriptedResolver dns;
    script(dns);
    EXPECT_EQ(is_in_net(c.host, c.pattern, c.mask, c.policy, dns), c.expected)
        << c.host << " " << c.pattern << " " << c.mask;
    EXPECT_EQ(dns.asked(), c.asked) << c.host;
  }
}

TEST(FirstUsableIpv4, AnswerOrderAndInternalSkip) {
  const std::vector<value::IpAddr> answers = {ip("2001:db8::1"), ip("192.168.1.1"), ip("::ffff:172.16.0.1"),
                                              ip("::ffff:8.8.4.4"), ip("8.8.8.8")};
  EXPECT_EQ(first_usable_ipv4(answers, policy(true)), (value::Ipv4Addr{{8, 8, 4, 4}}));
  EXPECT_EQ(first_usable_ipv4(answers, policy(true, true)), (value::Ipv4Addr{{192, 168, 1, 1}}));
  EXPECT_EQ(first_usable_ipv4({}, policy(true, true)), std::nullopt);
}

TEST(IsInternalAddress, RangeEdges) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"0.0.0.0", true},
      {"0.255.255.255", true},
      {"1.0.0.0", false},
      {"9.255.255.255", false},
      {"10.0.0.0", true},
      {"10.255.255.255", true},
      {"11.0.0.0", false},
      {"100.63.255.255", false},
      {"100.64.0.0", true},
      {"100.127.255.255", true},
      {"100.128.0.0", false},
      {"126.255.255.255", false},
      {"127.0.0.1", true},
      {"127.255.255.255", true},
      {"128.0.0.0", false},
      {"169.253.255.255", false},
      {"169.254.0.1", true},
      {"169.255.0.0", false},
      {"172.15.255.255", false},
      {"172.16.0.0", true},
      {"172.31.255.255", true},
      {"172.32.0.0", false},
      {"192.0.0.255", true},
      {"192.0.1.0", false},
      {"192.0.2.1", true},
      {"192.0.3.0", false},
      {"192.88.99.1", true},
      {"192.88.100.0", false},
      {"192.168.255.255", true},
      {"192.169.0.0", false},
      {"198.17.255.255", false},
      {"198.18.0.0", true},
      {"198.19.255.255", true},
      {"198.20.0.0", false},
      {"198.51.100.7", true},
      {"198.51.101.0", false},
      {"203.0.113.255", true},
      {"203.0.114.0", false},
      {"223.255.255.255", false},
      {"224.0.0.0", true},
      {"239.255.255.255", true},
      {"240.0.0.0", true},
      {"255.255.255.255", true},
      {"8.8.8.8", false},
      {"::", true},
      {"::1", true},
      {"::2", false},
      {"fbff:ffff::", false},
      {"fc00::1", true},
      {"fdff:ffff::1", true},
      {"fe00::", false},
      {"fe7f:ffff::", false},
      {"fe80::1", true},
      {"febf:ffff::", true},
      {"fec0::", false},
      {"ff02::1", true},
      {"2001:db8::1", false},
      {"64:ff9b::a00:1", false},
      {"::ffff:10.0.0.1", true},
      {"::ffff:8.8.8.8", false},
      {"::10.0.0.1", false},
      {"1::1", false},
  };
  for (const auto& [text, internal] : cases) {
    EXPECT_EQ(is_internal_address(ip(text)), internal) << text;
  }
}

TEST(ParseDottedQuad, StrictFourDecimalParts) {
  const std::vector<std::pair<std::string, std::optional<value::Ipv4Addr>>> cases = {
      {"1.2.3.4", value::Ipv4Addr{{1, 2, 3, 4}}},
      {"010.000.000.000", value::Ipv4Addr{{10, 0, 0, 0}}},
      {"255.255.255.255", value::Ipv4Addr{{255, 255, 255, 255}}},
      {"0.0.0.0", value::Ipv4Addr{}},
      {"256.0.0.0", std::nullopt},
      {"1.2.3", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1.2.3.4.", std::nullopt},
      {" 1.2.3.4", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"+1.2.3.4", std::nullopt},
      {"0x1.2.3.4", std::nullopt},
      {"1..3.4", std::nullopt},
      {"0001.2.3.4", std::nullopt},
      {"", std::nullopt},
      {"\u0661.2.3.4", std::nullopt},
      {"1.2.3.4\0"s, std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_dotted_quad(text), expected) << text;
}

TEST(MyIpAddress, PolicyAddressOrLoopback) {
  PacPolicy p;
  EXPECT_EQ(my_ip_address(p), "127.0.0.1");
  p.my_ip_address = ip("192.0.2.7");
  EXPECT_EQ(my_ip_address(p), "192.0.2.7");
  p.my_ip_address = ip("2001:0DB8:0:0::0:1");
  EXPECT_EQ(my_ip_address(p), "2001:db8::1");
}

TEST(DnsDomainLevels, CountsDots) {
  EXPECT_EQ(dns_domain_levels("web.example.com"), 2u);
  EXPECT_EQ(dns_domain_levels("a..b."), 3u);
  EXPECT_EQ(dns_domain_levels(""), 0u);
  EXPECT_EQ(dns_domain_levels(" . "), 1u);
}

TEST(ShExpMatch, Table) {
  const std::vector<TextsCase> cases = {
      // text, pattern
      {"web.example.com", "*.example.com", true},
      {"example.com", "*.example.com", false},
      {"abc", "a?c", true},
      {"a\u00e9", "a?", true},  // one character, two bytes
      {"a\u00e9", "a??", false},
      {"a\U0001F600c", "a?c", true},
      {"ABC", "a?c", false},
      {"ab", "a?*", true},
      {"a", "a*?*", false},
      {"a", "?", true},
      {"", "?", false},
      {"", "*?", false},
      {"", "*", true},
      {"", "", true},
      {"x", "", false},
      {"a*c", "a?c", true},  // '*' in the text is ordinary
      {"abc", "a\\?c", false},
      {"a?c", "a[?]c", false},
      {"xxabcx", "*a?c*", true},
      {"abcabd", "*a?d", true},  // needs the backtrack
      {"aXbXc", "a*?c", true},
      {"abcd", "*?d?", false},
      {"abcde", "*?d?", true},
      {"\u00e9\u00e9", "\u00e9?", true},
      {"\u00e9x", "?\u00e9", false},
  };
  for (const auto& c : cases) EXPECT_EQ(sh_exp_match(c.a, c.b), c.expected) << c.a << " " << c.b;
}

// Whole-match by dynamic programming over characters: slow, obviously right.
bool reference_match(const std::vector<std::string>& text, const std::vector<std::string>& pattern) {
  std::vector<std::vector<char>> m(text.size() + 1, std::vector<char>(pattern.size() + 1, 0));
  m[0][0] = 1;
  for (std::size_t j = 1; j <= pattern.size(); ++j) m[0][j] = m[0][j - 1] && pattern[j - 1] == "*";
  for (std::size_t i = 1; i <= text.size(); ++i) {
    for (std::size_t j = 1; j <= pattern.size(); ++j) {
      const std::string& pc = pattern[j - 1];
      m[i][j] =
          pc == "*" ? (m[i][j - 1] || m[i - 1][j]) : (m[i - 1][j - 1] && (pc == "?" || pc == text[i - 1]));
    }
  }
  return m[text.size()][pattern.size()];
}

TEST(ShExpMatch, AgreesWithAReferenceMatcher) {
  const std::vector<std::string> text_chars = {"a", "b", "\u00e9", "*", "?"};
  const std::vector<std::string> pattern_chars = {"a", "b", "\u00e9", "*", "?", "?", "*"};
  std::uint32_t seed = 12345;
  const auto next = [&](std::size_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  for (int round = 0; round < 20000; ++round) {
    std::vector<std::string> text, pattern;
    for (std::size_t i = next(8); i > 0; --i) text.push_back(text_chars[next(text_chars.size())]);
    for (std::size_t i = next(7); i > 0; --i) pattern.push_back(pattern_chars[next(pattern_chars.size())]);
    std::string t, p;
    for (const auto& c : text) t += c;
    for (const auto& c : pattern) p += c;
    // '*' and '?' in the text are ordinary characters, matched only by themselves or '?'.
    std::vector<std::string> literal_text = text;
    for (auto& c : literal_text) c = c == "*" ? "\x01" : c == "?" ? "\x02" : c;
    ASSERT_EQ(sh_exp_match(t, p), reference_match(literal_text, pattern)) << "'" << t << "' '" << p << "'";
  }
}

TEST(ShExpMatch, StepBudgetBoundsEveryCall) {
  // Each attempt from a new start walks the whole run of 'a's before failing at 'b'.
  const auto text = [](std::size_t run) { return std::string(run, 'a') + "b"; };
  const std::string pattern = "*?" + std::string(500, 'a') + "b";
  EXPECT_TRUE(sh_exp_match(text(2000), pattern));  // about 750 thousand steps
  const std::string long_pattern = "*?" + std::string(5000, 'a') + "b";
  EXPECT_TRUE(sh_exp_match(text(5001), long_pattern));
  EXPECT_FALSE(sh_exp_match(text(20000), long_pattern));  // a match exists past 2^24 steps
  // Without '?' the linear glob answers however long the texts are.
  EXPECT_TRUE(sh_exp_match(text(200000), "*" + std::string(50000, 'a') + "b"));
}

TEST(ConvertAddr, PartsTrimmedReadAndMasked) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"10.0.0.1", 167772161},
      {"1.2.3", 16909056},
      {"1.2.3.256", 16909056},
      {" 1 .2.3.4", 16909060},
      {"\u00a01\u3000.2.3.4", 16909060},
      {"x", 0},
      {"", 0},
      {"1.2.3.4.5", 16909060},
      {"1.2.3.4.x.y", 16909060},
      {"192.168.0.1", -1062731775},
      {"255.255.255.255", -1},
      {"+1.2.3.4", 16909060},
      {"1.-2.3.4", 0x01000304},
      {"1.0x2.3.4", 0x01000304},
      {"4294967295.0.0.0", -16777216},   // 2^32 - 1 keeps its low byte
      {"4294967296.2.3.4", 0x00020304},  // past 32 bits: unreadable
      {"1.2.3.4 ", 16909060},
      {"..3", 0x00000300},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(convert_addr_number(text), expected) << text;
    EXPECT_EQ(convert_addr(text), static_cast<std::uint32_t>(expected)) << text;
  }
}

}  // namespace
}  // namespace zelvane::pac::hostfn
