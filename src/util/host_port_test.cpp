#include "util/host_port.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace zelvane::util {
namespace {

// ---------------------------------------------------------------------------------------
// parse_port and split_host_port

struct PortCase {
  std::string text;
  std::optional<std::uint16_t> port;
  std::string error;  // empty when the text is accepted
};

TEST(ParsePort, Table) {
  const std::string chars = " other), expected only ASCII digits 0-9";
  const std::vector<PortCase> cases = {
      {"", std::nullopt, ""},
      {"0", 0, ""},
      {"00080", 80, ""},
      {"0000000000000000000080", 80, ""},
      {"65535", 65535, ""},
      {"65536", std::nullopt, "invalid port: 5-digit number is out of the 0-65535 range"},
      {"99999999999999999999", std::nullopt, "invalid port: 20-digit number is out of the 0-65535 range"},
      {"+80", std::nullopt, "invalid port: 3 characters (2 ASCII digits, 1" + chars},
      {"-1", std::nullopt, "invalid port: 2 characters (1 ASCII digit, 1" + chars},
      {"8o", std::nullopt, "invalid port: 2 characters (1 ASCII digit, 1" + chars},
      {"x", std::nullopt, "invalid port: 1 character (0 ASCII digits, 1" + chars},
      {" 80", std::nullopt, "invalid port: 3 characters (2 ASCII digits, 1" + chars},
      {"ab", std::nullopt, "invalid port: 2 characters (0 ASCII digits, 2" + chars},
      // ARABIC-INDIC DIGIT ONE and TWO: two characters of two bytes each, not ASCII digits.
      {"\xd9\xa1\xd9\xa2", std::nullopt, "invalid port: 2 characters (0 ASCII digits, 2" + chars},
      {"8\xc3\xa9", std::nullopt, "invalid port: 2 characters (1 ASCII digit, 1" + chars},
  };
  for (const auto& c : cases) {
    const auto got = parse_port(c.text);
    if (c.error.empty()) {
      ASSERT_TRUE(got.has_value()) << "'" << c.text << "': " << got.error();
      EXPECT_EQ(*got, c.port) << "'" << c.text << "'";
    } else {
      ASSERT_FALSE(got.has_value()) << "'" << c.text << "'";
      EXPECT_EQ(got.error(), c.error) << "'" << c.text << "'";
    }
  }
}

struct HostPortCase {
  std::string text;
  std::string host;
  std::optional<std::uint16_t> port;
  std::string error;
};

TEST(SplitHostPort, Table) {
  const std::vector<HostPortCase> cases = {
      {"[::1]", "[::1]", std::nullopt, ""},
      {"[::1]:8080", "[::1]", 8080, ""},
      {"[::1]:", "[::1]", std::nullopt, ""},
      {"[]", "[]", std::nullopt, ""},
      {"[::1]x", "", std::nullopt, "unexpected trailing text after IPv6 literal"},
      {"[a]]", "", std::nullopt, "unexpected trailing text after IPv6 literal"},
      {"[::1", "", std::nullopt, "unbalanced '[' in IPv6 literal"},
      {"[::1]:99999", "", std::nullopt, "invalid port: 5-digit number is out of the 0-65535 range"},
      {"::1", "::1", std::nullopt, ""},
      {"fe80::1:8080", "fe80::1:8080", std::nullopt, ""},
      {"host", "host", std::nullopt, ""},
      {"Host:443", "Host", 443, ""},
      {"host:", "host", std::nullopt, ""},
      {":80", "", 80, ""},
      {"", "", std::nullopt, ""},
      {" host :80", " host ", 80, ""},
      {"host:x", "", std::nullopt,
       "invalid port: 1 character (0 ASCII digits, 1 other), expected only ASCII digits 0-9"},
  };
  for (const auto& c : cases) {
    const auto got = split_host_port(c.text);
    if (c.error.empty()) {
      ASSERT_TRUE(got.has_value()) << "'" << c.text << "': " << got.error();
      EXPECT_EQ(got->host, c.host) << "'" << c.text << "'";
      EXPECT_EQ(got->port, c.port) << "'" << c.text << "'";
    } else {
      ASSERT_FALSE(got.has_value()) << "'" << c.text << "'";
      EXPECT_EQ(got.error(), c.error) << "'" << c.text << "'";
    }
  }
}

}  // namespace
}  // namespace zelvane::util
