#include "watch/handle.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <latch>
#include <memory>
#include <optional>
#include <utility>

#include "model/test_print.hpp"

namespace zelvane::watch {
namespace {

using namespace std::chrono_literals;

model::ProxyConfig config_a() {
  model::ProxyConfig c = model::ProxyConfig::empty();
  c.fallbacks = {model::SourceKind::Registry};
  return c;
}

// A backend whose stop is seen: `stopped` is set once it has run `during_stop`.
class Backend final : public WatchBackend {
 public:
  Backend(std::atomic<bool>& stopped, std::function<void()> during_stop)
      : stopped_(stopped), during_stop_(std::move(during_stop)) {}
  ~Backend() override {
    if (during_stop_) during_stop_();
    stopped_ = true;
  }

 private:
  std::atomic<bool>& stopped_;
  std::function<void()> during_stop_;
};

std::shared_ptr<WatchHandle> watching(std::atomic<bool>& stopped, std::function<void()> during_stop = {}) {
  return std::make_shared<WatchHandle>(WatchStream(
      std::make_shared<WatchState>(config_a()), std::make_unique<Backend>(stopped, std::move(during_stop))));
}

// A consumer thread as the module's: it parks between polls until the handle is closed, then
// stops the watch, after `before_stopping` (run on it) lets it.
void start_consumer(const std::shared_ptr<WatchHandle>& handle, std::atomic<bool>& left,
                    std::function<void()> before_stopping = {}) {
  auto started =
      threads::start_thread("handle-test", [handle, &left, before_stopping = std::move(before_stopping)] {
        handle->record_consumer_thread();
        WakeHandle waker = handle->parker().wake_handle();
        while (!handle->is_closed()) {
          const std::optional<WatchPoll> answer = handle->poll(waker);
          if (answer && answer->is<WatchPoll::Pending>()) handle->parker().park();
        }
        if (before_stopping) before_stopping();
        handle->stop_watch();
        left = true;
      });
  ASSERT_TRUE(started.has_value());
  handle->set_thread(std::move(*started));
}

TEST(WatchHandle, CurrentTellsAClosedWatchFromOneThatEndedAndFromNoWatch) {
  using Gone = WatchHandle::Gone;
  struct Case {
    const char* name;
    bool with_stream;
    std::function<void(WatchHandle&)> end;
    std::expected<model::ProxyConfig, Gone> current;
  };
  const Case cases[] = {
      {"no watch", false, [](WatchHandle&) {}, model::ProxyConfig::empty()},
      {"no watch, closed", false, [](WatchHandle& h) { h.stop_and_join(); }, std::unexpected(Gone::Closed)},
      {"running", true, [](WatchHandle&) {}, config_a()},
      {"ended, its consumer stopped it", true, [](WatchHandle& h) { h.stop_watch(); },
       std::unexpected(Gone::Stopped)},
      {"closed", true, [](WatchHandle& h) { h.stop_and_join(); }, std::unexpected(Gone::Closed)},
      {"dropped by its owner", true, [](WatchHandle& h) { h.signal_stop(); }, std::unexpected(Gone::Closed)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> stopped{false};
    auto handle = c.with_stream ? watching(stopped) : std::make_shared<WatchHandle>(std::nullopt);
    c.end(*handle);
    EXPECT_EQ(handle->current(), c.current);
  }
}

TEST(WatchHandle, AStopReleasesTheWatchWhileItHoldsTheStream) {
  std::future<bool> probe;
  std::shared_ptr<WatchHandle> handle;
  std::atomic<bool> stopped{false};
  handle = watching(stopped, [&] {
    // A poll from another thread waits for the end of the stop, and then finds no stream.
    probe = std::async(std::launch::async, [&] { return handle->poll(WakeHandle::noop()).has_value(); });
    EXPECT_EQ(probe.wait_for(100ms), std::future_status::timeout);
  });
  ASSERT_TRUE(handle->poll(WakeHandle::noop()).has_value());
  handle->stop_watch();
  EXPECT_TRUE(stopped);
  ASSERT_TRUE(probe.valid());
  EXPECT_FALSE(probe.get());
}

TEST(WatchHandle, CloseWakesAndJoinsTheConsumerUnlessItIsTheConsumer) {
  std::atomic<bool> stopped{false}, left{false};
  auto handle = watching(stopped);
  // The consumer's own close() (on_change calling it) returns without joining itself.
  start_consumer(handle, left, [&] { handle->stop_and_join(); });
  handle->stop_and_join();
  EXPECT_TRUE(left) << "joined";
  EXPECT_TRUE(stopped);
}

TEST(WatchHandle, TheOwnersEndWaitsForNothingAndLeavesTheStopToTheConsumer) {
  std::atomic<bool> stopped{false}, left{false};
  std::latch go{1};
  auto handle = watching(stopped);
  start_consumer(handle, left, [&] { go.wait(); });
  handle->signal_stop();
  EXPECT_FALSE(stopped) << "the consumer is held before its stop";
  go.count_down();
  handle->stop_and_join();
  EXPECT_TRUE(left);
  EXPECT_TRUE(stopped);

  // Without a consumer thread the owner's end stops the watch itself.
  std::atomic<bool> alone{false};
  auto unconsumed = watching(alone);
  unconsumed->signal_stop();
  EXPECT_TRUE(alone);
}

}  // namespace
}  // namespace zelvane::watch
