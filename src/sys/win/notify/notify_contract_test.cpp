// The registry watch on whatever Windows the build has: the simulated one, or the real calls
// under Wine, where the change comes from another process (reg.exe).
#include <gtest/gtest.h>

#include <chrono>

#include "model/test_print.hpp"
#include "sys/win/contract_harness.hpp"
#include "sys/win/notify/notify.hpp"
#include "sys/win/reader.hpp"
#include "value/debug.hpp"

namespace zelvane::sys::win::notify {

using namespace model;
using namespace value;
using watch::WatchOptions;
namespace {

using namespace std::chrono_literals;
using watch::WatchPoll;

TEST(NotifyContract, AChangeMadeElsewhereReachesTheWatch) {
  auto harness = make_contract_harness();
  harness->set_ie_config({false, std::nullopt, u"before.example:3128", std::nullopt});
  WatchOptions options;
  options.settle_delay = Duration::from_millis(50);
  auto stream = open_watch_stream(harness->platform(), options);
  ASSERT_TRUE(stream.has_value()) << stream.error().message();
  const ProxyConfig before = stream->take_baseline();
  ASSERT_TRUE(before.effective.is<ProxyMode::Manual>()) << debug_text(before);

  harness->set_ie_config_elsewhere({false, std::nullopt, u"after.example:8080", std::nullopt});
  const ProxyConfig expected =
      read_windows_config(harness->platform(), ReadOptions{options.group_policy}).value();
  ASSERT_NE(expected, before) << "the new settings read differently";

  watch::ThreadParker parker;
  watch::WakeHandle handle = parker.wake_handle();
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  std::optional<watch::WatchSnapshot> seen;
  while (!seen && std::chrono::steady_clock::now() < deadline) {
    WatchPoll poll = stream->poll_event(handle);
    if (const auto* c = poll.get_if<WatchPoll::Changed>()) {
      if (c->snapshot.config == expected) seen = c->snapshot;
    } else if (const auto* e = poll.get_if<WatchPoll::Error>()) {
      FAIL() << e->error.message();
    } else if (poll.is<WatchPoll::Closed>()) {
      FAIL() << "the watch ended";
    } else {
      parker.park_for(deadline - std::chrono::steady_clock::now());
    }
  }
  ASSERT_TRUE(seen) << "no change reached the watch";
  EXPECT_TRUE(seen->diagnostics.notifications);
  EXPECT_FALSE(seen->diagnostics.ended);
}

}  // namespace
}  // namespace zelvane::sys::win::notify
