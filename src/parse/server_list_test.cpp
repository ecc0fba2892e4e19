#include "parse/server_list.hpp"

#include <gtest/gtest.h>

#include "model/test_print.hpp"
#include "parse/entry_texts.hpp"
#include "value/debug.hpp"

namespace zelvane::parse {

using namespace model;
using namespace value;

namespace {

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
      {"socks=socks5://s",
       {"http=use s:1080 Socks5", "https=use s:1080 Socks5", "ftp=use s:1080 Socks5",
        "socks=use s:1080 Socks5", "all=use s:1080 Socks5"}},
      {"socks=s all=x", {"socks=use s:1080 Socks4", "all=use x:80"}},
      {"socks=s http=",
       {"http=disabled", "https=use s:1080 Socks4", "ftp=use s:1080 Socks4", "socks=use s:1080 Socks4",
        "all=use s:1080 Socks4"}},
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
      {"gopher=g:70",
       {RejectedKind::UnknownProxyScheme, RejectedSource::proxy_server(), "gopher=g:70", std::nullopt}},
      // Entries holding ':' are kept by their length only: they may be "user:password".
      {"http=[::1",
       {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(),
        "<9 characters, withheld: it may hold a user:password fragment>", SchemeSlot::Http}},
      {"socks=[::1",
       {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(),
        "<10 characters, withheld: it may hold a user:password fragment>", SchemeSlot::All}},
      {"[zz", {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(), "[zz", SchemeSlot::All}},
      {"http=ftp//p/x@y",
       {RejectedKind::InvalidProxyEndpoint, RejectedSource::proxy_server(), "http=ftp//p/x@y",
        SchemeSlot::Http}},
  };
  for (const auto& c : cases) {
    auto list = parse_proxy_server(c.text);
    EXPECT_TRUE(list.per_scheme.empty()) << c.text;
    ASSERT_EQ(list.rejected.size(), 1u) << c.text;
    EXPECT_EQ(list.rejected[0], c.want) << c.text;
  }
}

TEST(ProxyServerListTest, RefusedEntriesAreRedacted) {
  auto list = parse_proxy_server("http=http://alice:hunter2@[::1 alice:hunter2");
  ASSERT_EQ(list.rejected.size(), 2u);
  for (const auto& r : list.rejected) {
    EXPECT_EQ(r.redacted_input.find("hunter2"), std::string::npos) << r.redacted_input;
  }
}

}  // namespace
}  // namespace zelvane::parse
