#include "pac/hostfn/resolver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace zelvane::pac::hostfn {
namespace {

using namespace std::string_literals;

bool has(const std::vector<value::IpAddr>& answers, const value::IpAddr& wanted) {
  return std::ranges::find(answers, wanted) != answers.end();
}

TEST(SystemResolver, NamesHoldingNulNeverReachTheCall) {
  const value::IpAddr loopback{value::Ipv4Addr{{127, 0, 0, 1}}};
  if (!has(system_resolver().lookup("localhost"), loopback)) {
    GTEST_SKIP() << "localhost does not resolve to 127.0.0.1 here";
  }
  // The C call would see "localhost" alone and answer it.
  EXPECT_TRUE(system_resolver().lookup("localhost\0.example.invalid"s).empty());
  EXPECT_TRUE(system_resolver().lookup("\0"s).empty());
  EXPECT_TRUE(system_resolver().lookup("").empty());
}

TEST(SystemResolver, AnswersLiteralsWithoutTheNetwork) {
  EXPECT_EQ(system_resolver().lookup("192.0.2.5"),
            (std::vector<value::IpAddr>{value::IpAddr{value::Ipv4Addr{{192, 0, 2, 5}}}}));
  const auto v6 = system_resolver().lookup("2001:db8::7");
  ASSERT_EQ(v6.size(), 1u);
  EXPECT_EQ(v6[0], value::IpAddr{*value::parse_ipv6_standard("2001:db8::7")});
}

TEST(ScriptedResolver, AnswersItsTableAndRecordsEveryName) {
  ScriptedResolver dns;
  dns.set("a.test", {value::IpAddr{value::Ipv4Addr{{192, 0, 2, 1}}}});
  EXPECT_EQ(dns.lookup("a.test").size(), 1u);
  EXPECT_TRUE(dns.lookup("b.test").empty());
  EXPECT_EQ(dns.asked(), (std::vector<std::string>{"a.test", "b.test"}));
}

}  // namespace
}  // namespace zelvane::pac::hostfn
