#include "threads/park.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace zelvane::threads {
namespace {

using namespace std::chrono_literals;
using Clock = ParkClock;

// Parks, as the protocol has it, until the word leaves `expected` or `until` passes.
void park_until_changed(std::atomic<std::uint32_t>& word, std::uint32_t expected,
                        std::optional<Clock::time_point> until) {
  while (word.load() == expected && (!until || Clock::now() < *until)) park(word, expected, until);
}

TEST(Park, ReturnsAtOnceWhenTheWordHasAlreadyChanged) {
  // A change made (and woken) before the park must not be lost: the park looks at the word.
  std::atomic<std::uint32_t> word{1};
  unpark_one(word);
  const auto before = Clock::now();
  park(word, 0, std::nullopt);
  park(word, 0, Clock::now() + 1h);
  EXPECT_LT(Clock::now() - before, 10s);
}

// A park that came back well before its time (a limit rounded down to nothing, say) would make
// its callers spin through the rest of the wait: a few parks must cover it.
TEST(Park, TimedParkEndsAtItsTimeAndNotBefore) {
  struct Case {
    const char* name;
    std::chrono::microseconds wait;
  };
  const Case cases[] = {{"a time already past", -5ms},
                        {"less than a millisecond", 300us},
                        {"a short time", 30ms},
                        {"longer", 120ms}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<std::uint32_t> word{0};
    const auto until = Clock::now() + c.wait;
    int parks = 0;
    while (Clock::now() < until) {
      park(word, 0, until);
      ++parks;
    }
    EXPECT_LT(Clock::now() - until, 5s);
    EXPECT_LE(parks, 3);
  }
}

TEST(Park, WakeReachesAParkedThread) {
  struct Case {
    const char* name;
    bool timed;
  };
  for (const Case& c : {Case{"without a time limit", false}, Case{"with a far time limit", true}}) {
    SCOPED_TRACE(c.name);
    std::atomic<std::uint32_t> word{0};
    std::atomic<bool> parked_past{false};
    const auto far = Clock::now() + 60s;
    std::thread sleeper([&] {
      park_until_changed(word, 0, c.timed ? std::optional(far) : std::nullopt);
      parked_past = Clock::now() >= far;
    });
    std::this_thread::sleep_for(20ms);  // most likely parked by now; either way it must end
    word.store(1);
    unpark_one(word);
    sleeper.join();
    EXPECT_FALSE(parked_past.load());
  }
}

TEST(Park, UnparkAllWakesEveryParkedThread) {
  std::atomic<std::uint32_t> word{0};
  std::atomic<int> woken{0};
  std::vector<std::thread> sleepers;
  sleepers.reserve(4);
  const auto far = Clock::now() + 60s;
  for (int i = 0; i < 4; ++i) {
    sleepers.emplace_back([&] {
      park_until_changed(word, 0, far);
      if (Clock::now() < far) woken.fetch_add(1);
    });
  }
  std::this_thread::sleep_for(20ms);
  word.store(1);
  unpark_all(word);
  for (auto& t : sleepers) t.join();
  EXPECT_EQ(woken.load(), 4);
}

// Two threads hand a counter back and forth, each parking until it is its turn: a wake lost
// between a look at the word and the park would stall a round until its time limit.
TEST(Park, PingPongLosesNoWake) {
  constexpr std::uint32_t kRounds = 2000;
  std::atomic<std::uint32_t> word{0};
  std::atomic<std::uint32_t> stalls{0};
  auto play = [&](std::uint32_t parity) {
    for (std::uint32_t n = parity; n < 2 * kRounds; n += 2) {
      const auto until = Clock::now() + 10s;
      for (std::uint32_t seen = word.load(); seen != n; seen = word.load()) {
        if (Clock::now() >= until) {
          stalls.fetch_add(1);
          return;
        }
        park(word, seen, until);
      }
      word.store(n + 1);
      unpark_one(word);
    }
  };
  std::thread other(play, 1u);
  play(0u);
  other.join();
  EXPECT_EQ(stalls.load(), 0u);
  EXPECT_EQ(word.load(), 2 * kRounds);
}

}  // namespace
}  // namespace zelvane::threads
