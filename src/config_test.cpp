#include "config.hpp"

#include <gtest/gtest.h>

#include "debug.hpp"

namespace zelvane {
namespace {

TEST(ProxyConfigTest, EmptyIsDirect) {
  ProxyConfig c = ProxyConfig::empty();
  EXPECT_TRUE(c.effective.is<ProxyMode::Direct>());
  EXPECT_TRUE(c.sources.empty());
}

}  // namespace
}  // namespace zelvane
