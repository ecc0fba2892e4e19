#include "value/ip.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "value/debug.hpp"

namespace zelvane::value {
namespace {

using Segments = std::array<std::uint16_t, 8>;

Ipv6Addr v6(const Segments& s) { return Ipv6Addr::from_segments(s); }

struct Ipv6TextCase {
  Segments segments;
  std::string rfc5952;   // debug text
  std::string url_form;  // the URL serialiser's host
};

TEST(Ipv6TextTest, Rfc5952AndUrlHostForms) {
  const std::vector<Ipv6TextCase> cases = {
      {{0, 0, 0, 0, 0, 0, 0, 1}, "::1", "[::1]"},
      {{0, 0, 0, 0, 0, 0, 0, 0}, "::", "[::]"},
      {{0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}, "2001:db8::1", "[2001:db8::1]"},
      // Equal runs: the first one is compressed.
      {{0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}, "2001:db8::1:0:0:1", "[2001:db8::1:0:0:1]"},
      // The longer run wins even when it comes second.
      {{1, 0, 0, 2, 0, 0, 0, 3}, "1:0:0:2::3", "[1:0:0:2::3]"},
      // A single zero group is never "::".
      {{0x2001, 0xdb8, 0, 1, 1, 1, 1, 1}, "2001:db8:0:1:1:1:1:1", "[2001:db8:0:1:1:1:1:1]"},
      {{1, 2, 3, 4, 5, 6, 7, 0}, "1:2:3:4:5:6:7:0", "[1:2:3:4:5:6:7:0]"},
      {{1, 0, 0, 0, 0, 0, 0, 0}, "1::", "[1::]"},
      {{0, 0, 1, 0, 0, 0, 0, 0}, "0:0:1::", "[0:0:1::]"},
      // Lower-case hex, leading zeros dropped.
      {{0xABCD, 0x0db8, 0x00f0, 0, 0, 0, 0, 0x000A}, "abcd:db8:f0::a", "[abcd:db8:f0::a]"},
      // Only the IPv4-mapped range is dotted, and only in the debug text.
      {{0, 0, 0, 0, 0, 0xffff, 0x7f00, 1}, "::ffff:127.0.0.1", "[::ffff:7f00:1]"},
      {{0, 0, 0, 0, 0, 0xffff, 0, 0}, "::ffff:0.0.0.0", "[::ffff:0:0]"},
      {{0, 0, 0, 0, 0, 0, 0x7f00, 1}, "::7f00:1", "[::7f00:1]"},
      {{0, 0, 0, 0, 0xffff, 0, 0x7f00, 1}, "::ffff:0:7f00:1", "[::ffff:0:7f00:1]"},
  };
  for (const auto& c : cases) {
    const Ipv6Addr a = v6(c.segments);
    EXPECT_EQ(to_string(a), c.rfc5952);
    EXPECT_EQ(debug_text(a), c.rfc5952);
    EXPECT_EQ(url_host_form(a), c.url_form) << c.rfc5952;
    EXPECT_EQ(a.segments(), c.segments) << c.rfc5952;
  }
}

TEST(Ipv6TextTest, MappedAddressGivesItsIpv4) {
  EXPECT_EQ(v6({0, 0, 0, 0, 0, 0xffff, 0x0a01, 0x0203}).to_ipv4_mapped(), (Ipv4Addr{{10, 1, 2, 3}}));
  EXPECT_EQ(v6({0, 0, 0, 0, 0, 0, 0x0a01, 0x0203}).to_ipv4_mapped(), std::nullopt);
  EXPECT_EQ(v6({0, 0, 0, 0, 1, 0xffff, 0x0a01, 0x0203}).to_ipv4_mapped(), std::nullopt);
  EXPECT_EQ(v6({0, 0, 0, 0, 0, 0xfffe, 0x0a01, 0x0203}).to_ipv4_mapped(), std::nullopt);
}

TEST(IpTextTest, AddressesAndNetworks) {
  EXPECT_EQ(to_string(Ipv4Addr{{192, 0, 2, 255}}), "192.0.2.255");
  EXPECT_EQ(to_string(Ipv4Addr{{0, 0, 0, 0}}), "0.0.0.0");
  EXPECT_EQ(to_string(IpAddr{Ipv4Addr{{10, 0, 0, 1}}}), "10.0.0.1");
  EXPECT_EQ(debug_text(IpAddr{v6({0, 0, 0, 0, 0, 0, 0, 1})}), "::1");
  EXPECT_EQ(to_string(IpNet{IpAddr{Ipv4Addr{{10, 1, 2, 3}}}, 8}), "10.1.2.3/8");
  EXPECT_EQ(to_string(IpNet{IpAddr{v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 0})}, 32}), "2001:db8::/32");
}

struct Ipv4ParseCase {
  std::string text;
  std::optional<Ipv4Addr> expected;
};

TEST(Ipv4StandardTest, FourDecimalOctetsOnly) {
  const std::vector<Ipv4ParseCase> cases = {
      {"0.0.0.0", Ipv4Addr{{0, 0, 0, 0}}},
      {"255.255.255.255", Ipv4Addr{{255, 255, 255, 255}}},
      {"192.0.2.10", Ipv4Addr{{192, 0, 2, 10}}},
      {"10.0.100.9", Ipv4Addr{{10, 0, 100, 9}}},
      // Leading zeros would read as octal elsewhere: refused.
      {"01.2.3.4", std::nullopt},
      {"1.2.3.04", std::nullopt},
      {"00.1.1.1", std::nullopt},
      {"1.2.3.000", std::nullopt},
      {"256.1.1.1", std::nullopt},
      {"1.2.3.1000", std::nullopt},
      {"1.2.3", std::nullopt},
      {"10.1", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
      {"1.2.3.4.", std::nullopt},
      {".1.2.3.4", std::nullopt},
      {"1..2.3", std::nullopt},
      {"0x7f.0.0.1", std::nullopt},
      {"+1.2.3.4", std::nullopt},
      {"1.2.3.-4", std::nullopt},
      {" 1.2.3.4", std::nullopt},
      {"1.2.3.4 ", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_ipv4_standard(c.text), c.expected) << c.text;
  }
}

struct Ipv6ParseCase {
  std::string text;
  std::optional<Segments> expected;
};

TEST(Ipv6StandardTest, Rfc4291TextForm) {
  const std::vector<Ipv6ParseCase> cases = {
      {"::", Segments{0, 0, 0, 0, 0, 0, 0, 0}},
      {"::1", Segments{0, 0, 0, 0, 0, 0, 0, 1}},
      {"1::", Segments{1, 0, 0, 0, 0, 0, 0, 0}},
      {"2001:db8::1", Segments{0x2001, 0xdb8, 0, 0, 0, 0, 0, 1}},
      {"2001:DB8::A", Segments{0x2001, 0xdb8, 0, 0, 0, 0, 0, 0xa}},
      {"0:0:0:0:0:0:0:1", Segments{0, 0, 0, 0, 0, 0, 0, 1}},
      {"0001:02:003:4:5:6:7:ffff", Segments{1, 2, 3, 4, 5, 6, 7, 0xffff}},
      {"1:0:0:2::3", Segments{1, 0, 0, 2, 0, 0, 0, 3}},
      // "::" may stand for a single zero group, at either end or inside.
      {"1:2:3:4:5:6:7::", Segments{1, 2, 3, 4, 5, 6, 7, 0}},
      {"::2:3:4:5:6:7:8", Segments{0, 2, 3, 4, 5, 6, 7, 8}},
      {"1:2:3::5:6:7:8", Segments{1, 2, 3, 0, 5, 6, 7, 8}},
      // A dotted tail fills the last 32 bits.
      {"::ffff:127.0.0.1", Segments{0, 0, 0, 0, 0, 0xffff, 0x7f00, 1}},
      {"::1.2.3.4", Segments{0, 0, 0, 0, 0, 0, 0x0102, 0x0304}},
      {"1:2:3:4:5:6:1.2.3.4", Segments{1, 2, 3, 4, 5, 6, 0x0102, 0x0304}},
      {"::ffff:0.0.0.0", Segments{0, 0, 0, 0, 0, 0xffff, 0, 0}},
      {"", std::nullopt},
      {":", std::nullopt},
      {":1", std::nullopt},
      {"1:", std::nullopt},
      {":::", std::nullopt},
      {"1:::2", std::nullopt},
      {"1::2::3", std::nullopt},
      {"12345::", std::nullopt},
      {"1:2:3:4:5:6:7", std::nullopt},
      {"1:2:3:4:5:6:7:8:9", std::nullopt},
      {"1:2:3:4:5:6:7:8::", std::nullopt},
      {"::1:2:3:4:5:6:7:8", std::nullopt},
      {"1:2:3:4:5:6:7:1.2.3.4", std::nullopt},
      {"1:2:3:4:5:6:7:8:1.2.3.4", std::nullopt},
      {"::ffff:1.2.3", std::nullopt},
      {"::ffff:1.2.3.4.5", std::nullopt},
      {"::ffff:1.2.3.04", std::nullopt},
      {"::ffff:1.2.3.256", std::nullopt},
      {"::ffff:1.2.3.4:1", std::nullopt},
      {"::1.2.3.4.", std::nullopt},
      {"::.1.2.3", std::nullopt},
      {"1.2.3.4", std::nullopt},
      {"::0x1", std::nullopt},
      {"::g", std::nullopt},
      {"fe80::1%eth0", std::nullopt},
      {"fe80::1%25eth0", std::nullopt},
      {"[::1]", std::nullopt},
      {" ::1", std::nullopt},
      {"::1 ", std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = parse_ipv6_standard(c.text);
    if (!c.expected) {
      EXPECT_EQ(got, std::nullopt) << c.text << " gave " << to_string(*got);
    } else {
      EXPECT_EQ(got, v6(*c.expected)) << c.text;
    }
  }
}

TEST(IpStandardTest, EitherFamily) {
  EXPECT_EQ(parse_ip_standard("10.0.0.1"), (IpAddr{Ipv4Addr{{10, 0, 0, 1}}}));
  EXPECT_EQ(parse_ip_standard("::1"), (IpAddr{v6({0, 0, 0, 0, 0, 0, 0, 1})}));
  // A mapped address stays IPv6.
  EXPECT_EQ(parse_ip_standard("::ffff:10.0.0.1"), (IpAddr{v6({0, 0, 0, 0, 0, 0xffff, 0x0a00, 1})}));
  EXPECT_EQ(parse_ip_standard("10.1"), std::nullopt);
  EXPECT_EQ(parse_ip_standard("example.com"), std::nullopt);
}

struct NetParseCase {
  std::string text;
  std::optional<IpNet> expected;
};

TEST(IpNetTest, AddressSlashDecimalPrefix) {
  const IpAddr ten{Ipv4Addr{{10, 0, 0, 0}}};
  const std::vector<NetParseCase> cases = {
      {"10.0.0.0/8", IpNet{ten, 8}},
      // The address stays as written, host bits included.
      {"10.1.2.3/8", IpNet{IpAddr{Ipv4Addr{{10, 1, 2, 3}}}, 8}},
      {"0.0.0.0/0", IpNet{IpAddr{Ipv4Addr{}}, 0}},
      {"1.2.3.4/32", IpNet{IpAddr{Ipv4Addr{{1, 2, 3, 4}}}, 32}},
      {"::1/128", IpNet{IpAddr{v6({0, 0, 0, 0, 0, 0, 0, 1})}, 128}},
      {"2001:db8::/32", IpNet{IpAddr{v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 0})}, 32}},
      {"::ffff:10.0.0.0/104", IpNet{IpAddr{v6({0, 0, 0, 0, 0, 0xffff, 0x0a00, 0})}, 104}},
      {"10.0.0.0/33", std::nullopt},
      {"::/129", std::nullopt},
      {"10.0.0.0/100", std::nullopt},
      {"10.0.0.0/", std::nullopt},
      {"10.0.0.0", std::nullopt},
      {"/8", std::nullopt},
      {"10.0.0.0/08", std::nullopt},
      {"::/0128", std::nullopt},
      {"10.0.0.0/+8", std::nullopt},
      {"10.0.0.0/-1", std::nullopt},
      {"10.0.0.0/ 8", std::nullopt},
      {"10.0.0.0/8 ", std::nullopt},
      {"10.0.0.0/0x8", std::nullopt},
      {"10.0.0.0/8/8", std::nullopt},
      {"010.0.0.0/8", std::nullopt},
      {"10.0/8", std::nullopt},
      {"[::1]/128", std::nullopt},
      {"example.com/8", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_ip_net(c.text), c.expected) << c.text;
  }
}

struct ContainsCase {
  std::string net;
  std::string addr;
  bool expected;
};

TEST(IpNetTest, ContainsComparesThePrefixBitsOnly) {
  const std::vector<ContainsCase> cases = {
      {"10.0.0.0/8", "10.255.0.1", true},
      {"10.0.0.0/8", "11.0.0.0", false},
      {"10.1.2.3/8", "10.9.9.9", true},
      {"192.168.1.0/23", "192.168.0.255", true},
      {"192.168.1.0/23", "192.168.2.0", false},
      {"1.2.3.4/32", "1.2.3.4", true},
      {"1.2.3.4/32", "1.2.3.5", false},
      {"0.0.0.0/0", "203.0.113.7", true},
      {"2001:db8::/33", "2001:db8:7fff::1", true},
      {"2001:db8::/33", "2001:db8:8000::", false},
      {"::/0", "::1", true},
      {"::1/128", "::1", true},
      {"::1/128", "::2", false},
      // Families never mix; reading mapped addresses as IPv4 is the matcher's business.
      {"0.0.0.0/0", "::1", false},
      {"::/0", "1.2.3.4", false},
      {"::ffff:10.0.0.0/104", "10.1.2.3", false},
  };
  for (const auto& c : cases) {
    auto net = parse_ip_net(c.net);
    auto addr = parse_ip_standard(c.addr);
    ASSERT_TRUE(net && addr) << c.net << " " << c.addr;
    EXPECT_EQ(net_contains(*net, *addr), c.expected) << c.net << " " << c.addr;
  }
}

}  // namespace
}  // namespace zelvane::value
