#include "threads/park.hpp"

#include <limits>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#elif defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>
#else
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#endif

namespace zelvane::threads {

static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t) &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the system waits on the word itself");

#ifdef _WIN32

void park(std::atomic<std::uint32_t>& word, std::uint32_t expected,
          std::optional<ParkClock::time_point> until) {
  DWORD millis = INFINITE;
  if (until) {
    const auto left = *until - ParkClock::now();
    if (left <= ParkClock::duration::zero()) return;
    // Rounded up: a wait cut short by rounding down would come back before the time and spin
    // through the last millisecond.
    const std::int64_t ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    constexpr std::int64_t kLongest = INFINITE - 1;
    millis = static_cast<DWORD>(ms < kLongest ? ms : kLongest);
  }
  WaitOnAddress(&word, &expected, sizeof expected, millis);
}

void unpark_one(std::atomic<std::uint32_t>& word) { WakeByAddressSingle(&word); }

void unpark_all(std::atomic<std::uint32_t>& word) { WakeByAddressAll(&word); }

#elif defined(__linux__)

namespace {

long futex(std::atomic<std::uint32_t>& word, int op, std::uint32_t value, const timespec* timeout,
           std::uint32_t mask) {
  return syscall(SYS_futex, &word, op, value, timeout, nullptr, mask);
}

}  // namespace

void park(std::atomic<std::uint32_t>& word, std::uint32_t expected,
          std::optional<ParkClock::time_point> until) {
  if (!until) {
    futex(word, FUTEX_WAIT_BITSET_PRIVATE, expected, nullptr, FUTEX_BITSET_MATCH_ANY);
    return;
  }
  // The wait-bitset form takes an absolute time on CLOCK_MONOTONIC, the steady clock's, so a
  // wait that returns early and parks again does not drift.
  using std::chrono::duration_cast;
  using std::chrono::nanoseconds;
  using std::chrono::seconds;
  const auto since = until->time_since_epoch();
  if (since <= ParkClock::duration::zero()) return;
  const auto whole = duration_cast<seconds>(since);
  timespec at{};
  constexpr auto kLatest = std::numeric_limits<decltype(at.tv_sec)>::max();
  at.tv_sec = whole.count() < kLatest ? static_cast<decltype(at.tv_sec)>(whole.count()) : kLatest;
  at.tv_nsec = static_cast<long>(duration_cast<nanoseconds>(since - whole).count());
  futex(word, FUTEX_WAIT_BITSET_PRIVATE, expected, &at, FUTEX_BITSET_MATCH_ANY);
}

void unpark_one(std::atomic<std::uint32_t>& word) { futex(word, FUTEX_WAKE_PRIVATE, 1, nullptr, 0); }

void unpark_all(std::atomic<std::uint32_t>& word) {
  futex(word, FUTEX_WAKE_PRIVATE, static_cast<std::uint32_t>(std::numeric_limits<int>::max()), nullptr, 0);
}

#else

// Elsewhere: a few mutexes and condition variables shared by address. The word is read under
// the mutex that its waker takes before waking, so a change cannot fall between the look and
// the wait. Neighbours in a bucket wake each other for nothing, which the protocol allows.
namespace {

struct Bucket {
  std::mutex mutex;
  std::condition_variable changed;
};

Bucket& bucket_of(const std::atomic<std::uint32_t>& word) {
  static Bucket* const buckets = new Bucket[16];  // never destroyed: waits may outlive exit()
  return buckets[std::hash<const void*>{}(&word) % 16];
}

}  // namespace

void park(std::atomic<std::uint32_t>& word, std::uint32_t expected,
          std::optional<ParkClock::time_point> until) {
  Bucket& b = bucket_of(word);
  std::unique_lock lock(b.mutex);
  if (word.load(std::memory_order_acquire) != expected) return;
  if (until) {
    b.changed.wait_until(lock, *until);
  } else {
    b.changed.wait(lock);
  }
}

void unpark_one(std::atomic<std::uint32_t>& word) { unpark_all(word); }

void unpark_all(std::atomic<std::uint32_t>& word) {
  Bucket& b = bucket_of(word);
  { std::lock_guard lock(b.mutex); }
  b.changed.notify_all();
}

#endif

}  // namespace zelvane::threads
