#include "watch/wake.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace zelvane::watch {
namespace {

using namespace std::chrono_literals;

// A handle that counts what is done to it; every handle made from it shares the counts.
struct Counts {
  std::atomic<int> clones{0}, wakes{0}, wakes_by_ref{0}, drops{0};
  int released() const { return wakes + drops; }
};

WakeHandle counting(Counts& counts) {
  static constexpr WakeHandle::VTable vtable{
      [](void* d) noexcept -> void* {
        ++static_cast<Counts*>(d)->clones;
        return d;
      },
      [](void* d) noexcept { ++static_cast<Counts*>(d)->wakes; },
      [](void* d) noexcept { ++static_cast<Counts*>(d)->wakes_by_ref; },
      [](void* d) noexcept { ++static_cast<Counts*>(d)->drops; },
  };
  return WakeHandle(vtable, &counts);
}

TEST(WakeHandle, EachHandleIsReleasedExactlyOnce) {
  Counts counts;
  {
    WakeHandle original = counting(counts);
    WakeHandle copy = original.clone();
    EXPECT_EQ(copy.data(), &counts);
    copy.wake_by_ref();
    std::move(copy).wake();
    EXPECT_FALSE(copy);
    std::move(copy).wake();  // a woken handle is spent: nothing happens
    std::move(copy).drop();

    WakeHandle moved = std::move(original);
    EXPECT_FALSE(original);
    WakeHandle other = counting(counts);
    other = std::move(moved);  // the handle assigned over is dropped
    EXPECT_EQ(counts.drops, 1);
  }  // `other` is dropped here
  EXPECT_EQ(counts.clones, 1);
  EXPECT_EQ(counts.wakes_by_ref, 1);
  EXPECT_EQ(counts.wakes, 1);
  EXPECT_EQ(counts.drops, 2);
  EXPECT_EQ(counts.released(), 1 + counts.clones + 1) << "two made, one cloned, each released once";
}

TEST(WakeHandle, TheNoopHandleDoesNothing) {
  WakeHandle noop = WakeHandle::noop();
  WakeHandle clone = noop.clone();
  clone.wake_by_ref();
  std::move(clone).wake();
  EXPECT_TRUE(noop);
}

TEST(ThreadParker, AWakeBeforeTheParkIsKept) {
  ThreadParker parker;
  WakeHandle handle = parker.wake_handle();
  handle.wake_by_ref();
  EXPECT_TRUE(parker.park_for(0ns)) << "the token left before the park";
  EXPECT_FALSE(parker.park_for(10ms)) << "the token was taken";

  handle.wake_by_ref();
  std::move(handle).wake();
  EXPECT_TRUE(parker.park_for(0ns));
  EXPECT_FALSE(parker.park_for(0ns)) << "two wakes before a park make one token";
}

TEST(ThreadParker, AParkedThreadIsWokenFromAnotherThread) {
  ThreadParker parker;
  std::atomic<bool> woken{false};
  std::thread waiter([&] {
    parker.park();
    woken = true;
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(woken.load());
  parker.wake_handle().wake();
  waiter.join();
  EXPECT_TRUE(woken.load());
}

TEST(ThreadParker, HandlesOutliveTheirParker) {
  std::vector<WakeHandle> handles;
  {
    ThreadParker parker;
    handles.push_back(parker.wake_handle());
    handles.push_back(handles.back().clone());
  }
  handles[0].wake_by_ref();
  std::move(handles[0]).wake();
  std::move(handles[1]).drop();  // the last reference frees the parker; ASan sees a leak or a reuse
}

TEST(ThreadParker, NoWakeIsLostWhenItRacesThePark) {
  // The producer wakes at every moment relative to the park: just before, during, just after.
  ThreadParker parker;
  constexpr int kRounds = 2000;
  std::atomic<int> round{0};
  std::thread producer([&, handle = parker.wake_handle()] {
    for (int i = 1; i <= kRounds; ++i) {
      while (round.load() < i) std::this_thread::yield();
      handle.wake_by_ref();
    }
  });
  int lost = 0;
  for (int i = 1; i <= kRounds; ++i) {
    round = i;
    if (!parker.park_for(5s)) ++lost;
  }
  producer.join();
  EXPECT_EQ(lost, 0);
}

}  // namespace
}  // namespace zelvane::watch
