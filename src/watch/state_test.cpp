#include "watch/state.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "model/test_print.hpp"
#include "value/debug.hpp"

namespace zelvane::watch {
namespace {

using namespace std::chrono_literals;

// Configurations told apart by their fallbacks.
ProxyConfig config(std::vector<SourceKind> fallbacks = {}) {
  ProxyConfig c = ProxyConfig::empty();
  c.fallbacks = std::move(fallbacks);
  return c;
}
const ProxyConfig kA = config({SourceKind::Registry});
const ProxyConfig kB = config({SourceKind::GroupPolicy});

Error error(std::string text) { return Error::io(text, model::OsError::other("failed")); }

// A handle that counts what is done to it, and can run a check each time it is released.
struct Waker {
  std::atomic<int> made{0}, clones{0}, wakes{0}, drops{0};
  std::function<void()> on_release;

  WakeHandle handle() {
    ++made;
    static constexpr WakeHandle::VTable vtable{
        [](void* d) noexcept -> void* {
          ++static_cast<Waker*>(d)->clones;
          return d;
        },
        [](void* d) noexcept {
          auto* w = static_cast<Waker*>(d);
          ++w->wakes;
          if (w->on_release) w->on_release();
        },
        [](void* d) noexcept { ++static_cast<Waker*>(d)->wakes; },
        [](void* d) noexcept {
          auto* w = static_cast<Waker*>(d);
          ++w->drops;
          if (w->on_release) w->on_release();
        },
    };
    return WakeHandle(vtable, this);
  }
  // Handles not yet released: once the caller's own are gone, those the state holds.
  int stored() const { return made + clones - wakes - drops; }
};

// Whether another thread can take the state's mutex right now. Called from inside a wake-up,
// it tells whether the state let go of its mutex before waking; a state that did not makes
// the probe wait out its time and answer false, and the probe finishes once the state lets go.
bool mutex_is_free(const std::shared_ptr<WatchState>& state) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([state, done] {
    state->queued();
    done->set_value();
  }).detach();
  return finished.wait_for(2s) == std::future_status::ready;
}

// The answers of polls until the first Pending or the second Closed, in a short form:
// "C" a change, "E:text" an error, "Closed", with "!" after an answer that carries the end.
std::string drain(WatchState& state) {
  std::string out;
  WakeHandle noop = WakeHandle::noop();
  for (int closed = 0; closed < 2;) {
    WatchPoll poll = state.poll_event(noop);
    if (poll.is<WatchPoll::Pending>()) break;
    if (!out.empty()) out += " ";
    if (poll.is<WatchPoll::Closed>()) {
      out += "Closed";
      ++closed;
    } else if (const auto* c = poll.get_if<WatchPoll::Changed>()) {
      out += c->snapshot.diagnostics.ended ? "C!" : "C";
    } else if (const auto* e = poll.get_if<WatchPoll::Error>()) {
      out += "E:" + e->error.message() + (e->snapshot.diagnostics.ended ? "!" : "");
    }
  }
  return out;
}

void end(const std::shared_ptr<WatchState>& state) { BackendThreadGuard(state).release(); }

class WatchStateTest : public ::testing::Test {
 protected:
  // A state whose opening change the consumer has taken.
  std::shared_ptr<WatchState> polled_state() {
    auto s = std::make_shared<WatchState>(kA);
    EXPECT_EQ(drain(*s), "C");
    return s;
  }
  std::shared_ptr<WatchState> state_ = std::make_shared<WatchState>(kA);
};

// ---- the poll answers

TEST_F(WatchStateTest, ANewStateAnswersItsInitialConfigurationThenPending) {
  Waker waker;
  WatchPoll first = state_->poll_event(waker.handle());
  const auto* changed = first.get_if<WatchPoll::Changed>();
  ASSERT_NE(changed, nullptr);
  EXPECT_EQ(changed->snapshot.config, kA);
  EXPECT_EQ(changed->snapshot.diagnostics, WatchDiagnostics{}) << "no backend information yet";
  EXPECT_EQ(waker.stored(), 0) << "only a pending poll keeps a handle";

  EXPECT_TRUE(state_->poll_event(waker.handle()).is<WatchPoll::Pending>());
  EXPECT_EQ(waker.stored(), 1);
  state_->publish(kB);
  EXPECT_EQ(waker.wakes, 1);
  EXPECT_EQ(waker.stored(), 0);
}

TEST_F(WatchStateTest, APendingPollReplacesTheStoredHandleAndReleasesTheOldOne) {
  auto state = polled_state();
  Waker first, second;
  first.on_release = [&] { EXPECT_TRUE(mutex_is_free(state)) << "released under the mutex"; };
  EXPECT_TRUE(state->poll_event(first.handle()).is<WatchPoll::Pending>());
  EXPECT_TRUE(state->poll_event(second.handle()).is<WatchPoll::Pending>());
  EXPECT_EQ(first.stored(), 0) << "the first clone was dropped";
  EXPECT_EQ(second.stored(), 1);
  state->push_error(error("e"));
  EXPECT_EQ(first.wakes, 0);
  EXPECT_EQ(second.wakes, 1);
}

TEST_F(WatchStateTest, ACurrentCopyIsTheLatestPublished) {
  EXPECT_EQ(state_->current(), kA);
  state_->publish(kB);
  EXPECT_EQ(state_->current(), kB);
  EXPECT_EQ(drain(*state_), "C");
  EXPECT_EQ(state_->current(), kB);
}

// ---- publishing

TEST_F(WatchStateTest, AnEqualConfigurationIsDroppedWhateverItsCaptureTime) {
  auto state = polled_state();
  Waker waker;
  ASSERT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Pending>());
  ProxyConfig same = kA;
  same.captured_at.intervals += 10'000'000;
  state->publish(same);
  EXPECT_EQ(state->queued(), 0u);
  EXPECT_EQ(waker.wakes, 0);
  EXPECT_EQ(waker.stored(), 1) << "the handle stays for the next real change";
  EXPECT_EQ(state->current().captured_at, kA.captured_at) << "the current one keeps its own time";

  state->publish(kB);
  EXPECT_EQ(waker.wakes, 1);
}

TEST_F(WatchStateTest, ChangesBeforeAPollCollapseIntoOneWithTheNewest) {
  state_->publish(kB);
  state_->publish(config({SourceKind::Env}));
  EXPECT_EQ(state_->queued(), 1u);
  WatchPoll poll = state_->poll_event(WakeHandle::noop());
  ASSERT_TRUE(poll.is<WatchPoll::Changed>());
  EXPECT_EQ(poll.get_if<WatchPoll::Changed>()->snapshot.config, config({SourceKind::Env}));
  EXPECT_TRUE(state_->poll_event(WakeHandle::noop()).is<WatchPoll::Pending>());
}

TEST_F(WatchStateTest, AChangeMovesBehindTheNewestErrorUnlessItLeadsTheQueue) {
  struct Case {
    const char* queue;
    std::function<void(WatchState&)> build;
    std::string after_publish;
  };
  const Case cases[] = {
      {"[Changed, Error]", [](WatchState& s) { s.push_error(error("e1")); }, "C E:e1 C"},
      {"[Error, Changed, Error]",
       [](WatchState& s) {
         drain(s);
         s.push_error(error("e1"));
         s.publish(kB);
         s.push_error(error("e2"));
       },
       "E:e1 E:e2 C"},
      {"[Error]",
       [](WatchState& s) {
         drain(s);
         s.push_error(error("e1"));
       },
       "E:e1 C"},
      {"[Error, Changed]",
       [](WatchState& s) {
         drain(s);
         s.push_error(error("e1"));
         s.publish(kB);
       },
       "E:e1 C"},
  };
  for (const Case& c : cases) {
    WatchState state(kA);
    c.build(state);
    state.publish(config({SourceKind::Env}));
    EXPECT_EQ(drain(state), c.after_publish) << c.queue;
  }
}

TEST_F(WatchStateTest, AnErrorBehindAnErrorReplacesItWithoutWaking) {
  auto state = polled_state();
  Waker waker;
  ASSERT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Pending>());
  state->push_error(error("first"));
  EXPECT_EQ(waker.wakes, 1);
  ASSERT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Error>()) << "the handle stays with the state";
  state->push_error(error("second"));
  state->push_error(error("third"));
  EXPECT_EQ(waker.wakes, 1);
  EXPECT_EQ(drain(*state), "E:third");
}

TEST_F(WatchStateTest, AnErrorCarriesTheCurrentConfiguration) {
  auto state = polled_state();
  state->publish(kB);
  state->push_error(error("e"));
  drain(*state);
  state->push_error(error("e"));
  WatchPoll poll = state->poll_event(WakeHandle::noop());
  const auto* e = poll.get_if<WatchPoll::Error>();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->snapshot.config, kB);
  EXPECT_EQ(e->error.message(), "e");
}

TEST_F(WatchStateTest, TheQueueIsTrimmedAtTheLimitAndCountsWhatItDropped) {
  // Each round queues an error and a change: [Changed, Error x n, Changed].
  const ProxyConfig configs[] = {kA, kB};
  for (std::size_t n = 1; n <= kEventLimit - 2; ++n) {
    state_->push_error(error("e" + std::to_string(n)));
    state_->publish(configs[n % 2]);
  }
  EXPECT_EQ(state_->queued(), kEventLimit);
  EXPECT_EQ(state_->dropped(), 0u);
  state_->push_error(error("last"));
  EXPECT_EQ(state_->queued(), kEventLimit + 1) << "an error may stand over the limit until the next publish";

  state_->publish(config({SourceKind::Env}));
  EXPECT_EQ(state_->queued(), kEventLimit);
  EXPECT_EQ(state_->dropped(), 1u) << "the oldest event went";

  WakeHandle noop = WakeHandle::noop();
  WatchPoll first = state_->poll_event(noop);
  ASSERT_TRUE(first.is<WatchPoll::Error>()) << "the opening change was the one dropped";
  EXPECT_EQ(first.get_if<WatchPoll::Error>()->error.message(), "e1");
  for (std::size_t i = 1; i < kEventLimit - 1; ++i)
    ASSERT_FALSE(state_->poll_event(noop).is<WatchPoll::Pending>());
  EXPECT_EQ(state_->dropped(), 1u) << "kept until a poll empties the queue";
  WatchPoll last = state_->poll_event(noop);
  ASSERT_TRUE(last.is<WatchPoll::Changed>());
  EXPECT_EQ(last.get_if<WatchPoll::Changed>()->snapshot.config, config({SourceKind::Env}));
  EXPECT_EQ(state_->dropped(), 0u);
}

// ---- sources no longer watched, notifications lost

TEST_F(WatchStateTest, ASourceNoLongerWatchedOwesOneChange) {
  auto state = polled_state();
  state->set_backend({{SourceKind::GroupPolicy}, Duration{5, 0}, true});
  Waker waker;
  ASSERT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Pending>());

  state->add_unwatched(SourceKind::GroupPolicy);  // known from the start
  EXPECT_EQ(waker.wakes, 0);
  EXPECT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Pending>());

  state->add_unwatched(SourceKind::WinHttpDefault);
  EXPECT_EQ(waker.wakes, 1);
  state->add_unwatched(SourceKind::WinHttpDefault);  // already reported
  WatchPoll poll = state->poll_event(waker.handle());
  const auto* changed = poll.get_if<WatchPoll::Changed>();
  ASSERT_NE(changed, nullptr);
  EXPECT_EQ(changed->snapshot.config, kA) << "the configuration did not change";
  EXPECT_EQ(
      changed->snapshot.diagnostics,
      (WatchDiagnostics{{SourceKind::GroupPolicy, SourceKind::WinHttpDefault}, Duration{5, 0}, true, false}));
  EXPECT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Pending>()) << "owed once";
}

TEST_F(WatchStateTest, LostNotificationsOweOneChangeOnlyWhenThereWereAny) {
  {
    auto state = polled_state();
    state->set_backend({{}, std::nullopt, false});
    state->mark_notifications_lost();
    EXPECT_EQ(drain(*state), "") << "nothing was armed, nothing is lost";
  }
  auto state = polled_state();
  state->set_backend({{}, std::nullopt, true});
  state->mark_notifications_lost();
  state->mark_notifications_lost();
  WatchPoll poll = state->poll_event(WakeHandle::noop());
  const auto* changed = poll.get_if<WatchPoll::Changed>();
  ASSERT_NE(changed, nullptr);
  EXPECT_FALSE(changed->snapshot.diagnostics.notifications);
  EXPECT_TRUE(state->poll_event(WakeHandle::noop()).is<WatchPoll::Pending>());
}

TEST_F(WatchStateTest, AQueuedChangeSettlesAnOwedRefresh) {
  auto state = polled_state();
  state->add_unwatched(SourceKind::Registry);
  state->publish(kB);
  EXPECT_EQ(drain(*state), "C");
  state->add_unwatched(SourceKind::GroupPolicy);
  state->push_error(error("e"));
  EXPECT_EQ(drain(*state), "E:e C") << "an error does not settle it";
}

TEST_F(WatchStateTest, TheBackendInformationIsSetOnce) {
  state_->set_backend({{SourceKind::Registry}, Duration{1, 0}, true});
  state_->set_backend({{}, std::nullopt, false});
  WatchPoll poll = state_->poll_event(WakeHandle::noop());
  EXPECT_EQ(poll.get_if<WatchPoll::Changed>()->snapshot.diagnostics,
            (WatchDiagnostics{{SourceKind::Registry}, Duration{1, 0}, true, false}));
}

// ---- the end

TEST_F(WatchStateTest, TheEndReachesTheConsumerOnceAfterWhatWasQueued) {
  struct Case {
    const char* queue;
    std::function<void(WatchState&)> build;
    std::string answers;
  };
  const Case cases[] = {
      {"empty", [](WatchState& s) { drain(s); }, "C! Closed Closed"},
      {"[Error]",
       [](WatchState& s) {
         drain(s);
         s.push_error(error("e"));
       },
       "E:e! C! Closed Closed"},
      // The end rides on the last answer: a consumer that stops at it has seen everything.
      {"[Changed, Error]", [](WatchState& s) { s.push_error(error("e")); }, "C E:e! C! Closed Closed"},
      {"[Error, Changed]",
       [](WatchState& s) {
         drain(s);
         s.push_error(error("e"));
         s.publish(kB);
       },
       "E:e C! Closed Closed"},
  };
  for (const Case& c : cases) {
    auto state = std::make_shared<WatchState>(kA);
    c.build(*state);
    end(state);
    EXPECT_EQ(drain(*state), c.answers) << c.queue;
  }
}

TEST_F(WatchStateTest, EndingTwiceChangesNothing) {
  auto state = polled_state();
  Waker waker;
  ASSERT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Pending>());
  end(state);
  EXPECT_EQ(waker.wakes, 1);
  EXPECT_EQ(drain(*state), "C! Closed Closed");
  end(state);
  EXPECT_EQ(waker.wakes, 1);
  EXPECT_EQ(drain(*state), "Closed Closed");
}

TEST_F(WatchStateTest, TheEndSurvivesAProducerThatEndsBeforeTheFirstPoll) {
  // Taking the baseline leaves the end owed, whatever the producer queued before it ended.
  struct Case {
    const char* before_end;
    std::function<void(WatchState&)> produce;
    std::string answers;
  };
  const Case cases[] = {
      {"nothing", [](WatchState&) {}, "C! Closed"},
      {"an error", [](WatchState& s) { s.push_error(error("fatal")); }, "E:fatal! C! Closed"},
      {"a change and an error",
       [](WatchState& s) {
         s.publish(kB);
         s.push_error(error("fatal"));
       },
       "E:fatal! C! Closed"},
  };
  for (const Case& c : cases) {
    auto state = std::make_shared<WatchState>(kA);
    c.produce(*state);
    end(state);
    EXPECT_EQ(state->take_baseline(), state->current()) << c.before_end;
    std::string answers = drain(*state);
    EXPECT_EQ(answers.substr(0, answers.rfind(" Closed")), c.answers) << c.before_end;
  }

  // What a consumer that polls once and throws the answer away would get instead.
  auto state = std::make_shared<WatchState>(kA);
  end(state);
  state->poll_event(WakeHandle::noop());
  EXPECT_EQ(drain(*state), "Closed Closed") << "the thrown-away answer carried the end";
}

TEST_F(WatchStateTest, TheBaselineTakesOnlyTheOpeningChange) {
  state_->take_baseline();
  EXPECT_EQ(state_->queued(), 0u);
  EXPECT_TRUE(state_->poll_event(WakeHandle::noop()).is<WatchPoll::Pending>());
  state_->push_error(error("e"));
  state_->publish(kB);
  EXPECT_EQ(state_->take_baseline(), kB);
  EXPECT_EQ(drain(*state_), "E:e C") << "an error in front stays, and what is behind it";
}

TEST_F(WatchStateTest, AProducerThatThrowsEndsTheStreamWithAnError) {
  state_->set_backend({{}, std::nullopt, true});
  drain(*state_);
  std::thread producer([state = state_] {
    try {
      BackendThreadGuard guard(state);
      state->publish(kB);
      throw std::runtime_error("boom");
    } catch (const std::exception&) {
    }
  });
  producer.join();
  WakeHandle noop = WakeHandle::noop();
  WatchPoll change = state_->poll_event(noop);
  ASSERT_TRUE(change.is<WatchPoll::Changed>());
  EXPECT_FALSE(change.get_if<WatchPoll::Changed>()->snapshot.diagnostics.notifications);
  EXPECT_FALSE(change.get_if<WatchPoll::Changed>()->snapshot.diagnostics.ended)
      << "the error is still behind it";
  WatchPoll failure = state_->poll_event(noop);
  const auto* e = failure.get_if<WatchPoll::Error>();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->error.message(), "running the zelvane backend thread");
  EXPECT_EQ(
      debug_text(e->error),
      "Io { context: \"running the zelvane backend thread\", source: Custom { kind: Other, error: \"the "
      "watcher thread panicked\" } }");
  EXPECT_TRUE(e->snapshot.diagnostics.ended);
  EXPECT_EQ(drain(*state_), "C! Closed Closed");
}

TEST_F(WatchStateTest, AGuardLeftWithoutReleaseStillEndsTheStream) {
  drain(*state_);
  { BackendThreadGuard guard(state_); }
  EXPECT_EQ(drain(*state_), "C! Closed Closed") << "no failure is recorded";
}

// ---- wake-ups

TEST_F(WatchStateTest, EveryWakeUpAndReleaseHappensOutsideTheMutex) {
  using State = std::shared_ptr<WatchState>;
  struct Case {
    const char* what;
    std::function<void(const State&)> act;
  };
  const Case cases[] = {
      {"publish", [](const State& s) { s->publish(kB); }},
      {"push_error", [](const State& s) { s->push_error(error("e")); }},
      {"add_unwatched", [](const State& s) { s->add_unwatched(SourceKind::Registry); }},
      {"mark_notifications_lost", [](const State& s) { s->mark_notifications_lost(); }},
      {"the end", [](const State& s) { end(s); }},
  };
  for (const Case& c : cases) {
    auto state = polled_state();
    Waker waker;
    waker.on_release = [&] { EXPECT_TRUE(mutex_is_free(state)) << c.what << " woke under the mutex"; };
    ASSERT_TRUE(state->poll_event(waker.handle()).is<WatchPoll::Pending>());
    c.act(state);
    EXPECT_EQ(waker.wakes, 1) << c.what;
    // A poll that answers something drops its clone of the caller's handle, also after unlocking.
    EXPECT_FALSE(state->poll_event(waker.handle()).is<WatchPoll::Pending>()) << c.what;
    EXPECT_EQ(waker.stored(), 0) << c.what;
  }
}

TEST_F(WatchStateTest, AConsumerThatParksNeverMissesAChange) {
  // The producer publishes while the consumer goes from a pending poll to its park: whichever
  // comes first, the consumer sees every configuration up to the last.
  constexpr int kChanges = 2000;
  auto state = polled_state();
  std::thread producer([state] {
    for (int i = 1; i <= kChanges; ++i) {
      state->publish(config(std::vector<SourceKind>(static_cast<std::size_t>(i % 7 + 1), SourceKind::Env)));
      if (i % 3 == 0) std::this_thread::yield();
    }
    state->publish(config({SourceKind::Portal}));
    end(state);
  });
  ThreadParker parker;
  WakeHandle handle = parker.wake_handle();
  bool saw_last = false, lost = false;
  for (;;) {
    WatchPoll poll = state->poll_event(handle);
    if (poll.is<WatchPoll::Closed>()) break;
    if (poll.is<WatchPoll::Pending>()) {
      if (!parker.park_for(10s)) {
        lost = true;
        break;
      }
      continue;
    }
    if (const auto* c = poll.get_if<WatchPoll::Changed>())
      saw_last = c->snapshot.config == config({SourceKind::Portal});
  }
  producer.join();
  EXPECT_FALSE(lost) << "a wake-up was lost";
  EXPECT_TRUE(saw_last);
}

}  // namespace
}  // namespace zelvane::watch
