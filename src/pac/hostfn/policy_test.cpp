#include "pac/hostfn/policy.hpp"

#include <gtest/gtest.h>

namespace zelvane::pac::hostfn {
namespace {

TEST(PacPolicy, DebugText) {
  PacPolicy p;
  EXPECT_EQ(p.debug_text(),
            "PacPolicy { resolve_dns: false, allow_internal_addresses: false, my_ip_address: "
            "None, timeout: None, local_utc_offset: 0, now: None }");
  p.resolve_dns = true;
  p.allow_internal_addresses = true;
  p.my_ip_address = value::IpAddr{*value::parse_ipv6_standard("2001:db8:0:0:0:0:0:1")};
  p.timeout = value::Duration::from_millis(250);
  p.local_utc_offset = -2147483647 - 1;
  p.now = value::WallTime{-42};
  EXPECT_EQ(p.debug_text(),
            "PacPolicy { resolve_dns: true, allow_internal_addresses: true, my_ip_address: "
            "Some(2001:db8::1), timeout: Some(250ms), local_utc_offset: -2147483648, now: "
            "Some(SystemTime { intervals: -42 }) }");
  p.my_ip_address = value::IpAddr{value::Ipv4Addr{{192, 0, 2, 1}}};
  p.timeout = value::Duration{5, 0};
  EXPECT_NE(p.debug_text().find("my_ip_address: Some(192.0.2.1), timeout: Some(5s)"), std::string::npos);
}

}  // namespace
}  // namespace zelvane::pac::hostfn
