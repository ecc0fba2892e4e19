#include "value/host.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "value/debug.hpp"

namespace zelvane::value {
namespace {

Host v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  return Host{Ipv4Addr{{a, b, c, d}}};
}
Host v6(const std::array<std::uint16_t, 8>& s) { return Host{Ipv6Addr::from_segments(s)}; }

std::string show(const std::expected<Host, UrlError>& r) {
  return r ? debug_text(*r) : std::string(name(r.error()));
}
std::string show(const std::expected<Host, std::string>& r) { return r ? debug_text(*r) : r.error(); }

struct UrlHostCase {
  std::string input;
  std::expected<Host, UrlError> expected;
};

using enum UrlError;
auto fails(UrlError e) { return std::unexpected(e); }

TEST(UrlHostTest, Domains) {
  const std::vector<UrlHostCase> cases = {
      {"example.com", Host::domain("example.com")},
      {"EXAMPLE.Com", Host::domain("example.com")},
      {"bücher.example", Host::domain("xn--bcher-kva.example")},
      {"B%C3%BCcher.example", Host::domain("xn--bcher-kva.example")},
      {"XN--BCHER-KVA.example", Host::domain("xn--bcher-kva.example")},
      // Non-transitional processing keeps the sharp s.
      {"faß.ExAmPlE", Host::domain("xn--fa-hia.example")},
      {"\xef\xbc\xa7\xef\xbd\x8f.com", Host::domain("go.com")},  // fullwidth "Ｇｏ"
      {"%41.com", Host::domain("a.com")},
      {"under_score.example", Host::domain("under_score.example")},
      {"example.com.", Host::domain("example.com.")},
      {".", Host::domain(".")},
      {"1.example", Host::domain("1.example")},
      // The empty last label is dropped, and the one before it is empty too: no number.
      {"1.2..", Host::domain("1.2..")},
      // Last labels that are not numbers.
      {"example.1a", Host::domain("example.1a")},
      {"example.0xg", Host::domain("example.0xg")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(show(parse_url_host(c.input)), show(c.expected)) << c.input;
  }
}

TEST(UrlHostTest, RefusedNames) {
  const std::vector<UrlHostCase> cases = {
      {"", fails(EmptyHost)},
      // Nothing is stripped or cut, unlike a host inside a whole URL.
      {"pro\txy", fails(InvalidDomainCharacter)},
      {"a\nb", fails(InvalidDomainCharacter)},
      {"a\rb", fails(InvalidDomainCharacter)},
      {"a/b", fails(InvalidDomainCharacter)},
      {"a?b", fails(InvalidDomainCharacter)},
      {"a#b", fails(InvalidDomainCharacter)},
      {"a@b", fails(InvalidDomainCharacter)},
      {"a:b", fails(InvalidDomainCharacter)},
      {"a\\b", fails(InvalidDomainCharacter)},
      {"a b", fails(InvalidDomainCharacter)},
      {"a<b", fails(InvalidDomainCharacter)},
      {"a^b", fails(InvalidDomainCharacter)},
      {"a|b", fails(InvalidDomainCharacter)},
      {"a]b", fails(InvalidDomainCharacter)},
      {"a\x7f"
       "b",
       fails(InvalidDomainCharacter)},
      {"a\x01"
       "b",
       fails(InvalidDomainCharacter)},
      {"::1", fails(InvalidDomainCharacter)},
      // After percent-decoding.
      {"a%20b", fails(InvalidDomainCharacter)},
      {"a%2Fb", fails(InvalidDomainCharacter)},
      {"a%00b", fails(InvalidDomainCharacter)},
      {"user%3Apass", fails(InvalidDomainCharacter)},
      {"%zz", fails(InvalidDomainCharacter)},
      {"a%", fails(InvalidDomainCharacter)},
      // After UTS #46 mapping: fullwidth '#' becomes '#'.
      {"a\xef\xbc\x83"
       "b",
       fails(InvalidDomainCharacter)},
      // Mapped to nothing: the empty result is a ToASCII failure.
      {"\xc2\xad", fails(IdnaError)},
      {"%C2%AD", fails(IdnaError)},
      // Not UTF-8, directly or after decoding.
      {"a\xff"
       "b",
       fails(IdnaError)},
      {"a%FFb", fails(IdnaError)},
      // A zero-width joiner outside its permitted context.
      {"a\xe2\x80\x8d"
       "b",
       fails(IdnaError)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(show(parse_url_host(c.input)), show(c.expected)) << debug_text(c.input);
  }
}

TEST(UrlHostTest, Ipv4NumberForms) {
  const std::vector<UrlHostCase> cases = {
      {"127.0.0.1", v4(127, 0, 0, 1)},
      {"0x7f.1", v4(127, 0, 0, 1)},
      {"0X7F.0.0.1", v4(127, 0, 0, 1)},
      {"010.1.2.3", v4(8, 1, 2, 3)},
      {"127.1", v4(127, 0, 0, 1)},
      {"127.0.1", v4(127, 0, 0, 1)},
      {"1.2.65535", v4(1, 2, 255, 255)},
      {"4294967295", v4(255, 255, 255, 255)},
      {"0xffffffff", v4(255, 255, 255, 255)},
      {"037777777777", v4(255, 255, 255, 255)},
      {"0x", v4(0, 0, 0, 0)},
      {"0", v4(0, 0, 0, 0)},
      {"00000000000000000000000001", v4(0, 0, 0, 1)},
      // One trailing dot is dropped.
      {"1.2.3.4.", v4(1, 2, 3, 4)},
      // Percent-decoded to "0xc0.0250.01".
      {"%30%78%63%30%2e%30%32%35%30.01", v4(192, 168, 0, 1)},
      // Fullwidth digits map to ASCII ones.
      {"\xef\xbc\x91\xef\xbc\x92\xef\xbc\x97.0.0.1", v4(127, 0, 0, 1)},
      {"4294967296", fails(InvalidIpv4Address)},
      {"0x100000000", fails(InvalidIpv4Address)},
      {"99999999999999999999999", fails(InvalidIpv4Address)},
      {"1.2.3.256", fails(InvalidIpv4Address)},
      {"1.256.3.4", fails(InvalidIpv4Address)},
      {"1.2.65536", fails(InvalidIpv4Address)},
      {"1.2.3.4.5", fails(InvalidIpv4Address)},
      {"1.2.3.09", fails(InvalidIpv4Address)},
      {"1..2", fails(InvalidIpv4Address)},
      // A name whose last label is a number is read as an address, and refused.
      {"example.123", fails(InvalidIpv4Address)},
      {"example.123.", fails(InvalidIpv4Address)},
      {"example.0x", fails(InvalidIpv4Address)},
      {"example.0x1F", fails(InvalidIpv4Address)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(show(parse_url_host(c.input)), show(c.expected)) << c.input;
  }
}

TEST(UrlHostTest, Ipv6InBrackets) {
  const std::vector<UrlHostCase> cases = {
      {"[::1]", v6({0, 0, 0, 0, 0, 0, 0, 1})},
      {"[0:0::1]", v6({0, 0, 0, 0, 0, 0, 0, 1})},
      {"[::ffff:127.0.0.1]", v6({0, 0, 0, 0, 0, 0xffff, 0x7f00, 1})},
      {"[2001:DB8::1]", v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1})},
      {"[::1", fails(InvalidIpv6Address)},
      {"[", fails(InvalidIpv6Address)},
      {"[]", fails(InvalidIpv6Address)},
      {"[zz]", fails(InvalidIpv6Address)},
      {"[::1]x", fails(InvalidIpv6Address)},
      {"[fe80::1%25eth0]", fails(InvalidIpv6Address)},
      {"[1.2.3.4]", fails(InvalidIpv6Address)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(show(parse_url_host(c.input)), show(c.expected)) << c.input;
  }
}

struct BareHostCase {
  std::string text;
  std::expected<Host, std::string> expected;
};

auto reason(std::string text) { return std::unexpected(std::move(text)); }
const std::string kWithheld4 = "<4 characters, withheld: it may hold a user:password fragment>";

TEST(ParseHostTest, HostsAndReasons) {
  const std::vector<BareHostCase> cases = {
      {"proxy", Host::domain("proxy")},
      {"  Proxy.Example\t", Host::domain("proxy.example")},
      {"\xc2\xa0proxy\xe3\x80\x80", Host::domain("proxy")},  // NBSP and ideographic space
      {"bücher.example", Host::domain("xn--bcher-kva.example")},
      {"192.0.2.1", v4(192, 0, 2, 1)},
      {"0x7f.1", v4(127, 0, 0, 1)},
      {"[::1]", v6({0, 0, 0, 0, 0, 0, 0, 1})},
      {"::1", v6({0, 0, 0, 0, 0, 0, 0, 1})},
      {"2001:db8::1", v6({0x2001, 0xdb8, 0, 0, 0, 0, 0, 1})},
      {"::ffff:127.0.0.1", v6({0, 0, 0, 0, 0, 0xffff, 0x7f00, 1})},
      {" [::1] ", v6({0, 0, 0, 0, 0, 0, 0, 1})},
      {"", reason("missing host")},
      {" \t\n", reason("missing host")},
      {"[zz]", reason("invalid IPv6 literal zz")},
      {"[]", reason("invalid IPv6 literal ")},
      {"[::zz]", reason("invalid IPv6 literal " + kWithheld4)},
      {"[1.2.3.4]", reason("invalid IPv6 literal 1.2.3.4")},
      // Not a bracketed pair: the URL host parser decides.
      {"[1.2.3.4", reason("invalid host [1.2.3.4: invalid IPv6 address")},
      {"[::1", reason("invalid host " + kWithheld4 + ": invalid IPv6 address")},
      {"example.123", reason("invalid host example.123: invalid IPv4 address")},
      {"1.2.3.4.5", reason("invalid host 1.2.3.4.5: invalid IPv4 address")},
      {"4294967296", reason("invalid host 4294967296: invalid IPv4 address")},
      {"\xc2\xad", reason("invalid host \xc2\xad: invalid international domain name")},
      {"a/b", reason("invalid host a/b: invalid domain character")},
      {"a?b", reason("invalid host a?b: invalid domain character")},
      {"a#b", reason("invalid host a#b: invalid domain character")},
      {"a@b", reason("invalid host a@b: invalid domain character")},
      {"a\\b", reason("invalid host a\\b: invalid domain character")},
      {"a b", reason("invalid host a b: invalid domain character")},
      // Control characters are masked: a reason is one line.
      {"pro\txy", reason("invalid host pro.xy: invalid domain character")},
      {"a\nb", reason("invalid host a.b: invalid domain character")},
      // ':' or "%3A" (either case) may separate a user name from a password.
      {"a:b", reason("invalid host <3 characters, withheld: it may hold a user:password "
                     "fragment>: invalid domain character")},
      {"user%3Apass", reason("invalid host <11 characters, withheld: it may hold a "
                             "user:password fragment>: invalid domain character")},
      {"user%3apass", reason("invalid host <11 characters, withheld: it may hold a "
                             "user:password fragment>: invalid domain character")},
      // Counted in characters, not bytes; the count is of the trimmed text.
      {" bü:x ", reason("invalid host " + kWithheld4 + ": invalid domain character")},
      {"1.2.3.4:80", reason("invalid host <10 characters, withheld: it may hold a "
                            "user:password fragment>: invalid domain character")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(show(parse_host(c.text)), show(c.expected)) << debug_text(c.text);
  }
}

}  // namespace
}  // namespace zelvane::value
