#include "sys/watch.hpp"

#include <gtest/gtest.h>

#include "sys/reader.hpp"

namespace zelvane::sys {
namespace {

TEST(NoSystemWatch, AnswersUnsupportedWhateverTheOptions) {
  watch::WatchOptions polling;
  polling.poll_interval = value::Duration::from_millis(1000);
  polling.group_policy = false;
  for (const watch::WatchOptions& options : {watch::WatchOptions{}, polling}) {
    auto stream = open_system_watch(options);
    ASSERT_FALSE(stream.has_value());
    EXPECT_EQ(stream.error().code(), model::ErrorCode::Unsupported);
  }
}

TEST(NoSystemWatch, AgreesWithTheReader) {
  auto read = read_system();
  ASSERT_FALSE(read.has_value());
  auto stream = open_system_watch({});
  ASSERT_FALSE(stream.has_value());
  EXPECT_EQ(stream.error().code(), read.error().code());
}

}  // namespace
}  // namespace zelvane::sys
