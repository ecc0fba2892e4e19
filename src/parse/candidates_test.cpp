#include "parse/candidates.hpp"

#include <gtest/gtest.h>

#include "model/test_print.hpp"
#include "value/debug.hpp"

namespace zelvane::parse {

using namespace model;
using namespace value;

namespace {

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
  auto steps = std::move(list).finish().value();  // NOLINT(bugprone-unchecked-optional-access): throws
  ASSERT_EQ(steps.size(), 4u);
  EXPECT_EQ(steps[0], http("a", 1));
  EXPECT_EQ(steps[1].endpoint(), nullptr);
  EXPECT_EQ(steps[2], http("a", 2));
  EXPECT_EQ(steps[3].value.index(), 2u);
}

}  // namespace
}  // namespace zelvane::parse
