// A channel that holds one message at a time, so that no send ever waits: the pool's task and
// answer channels. A send fails (and hands the message back) once the receiver is gone; a
// receive ends as Closed once every sender is gone without a message, and as TimedOut at its
// time limit. The caller keeps to one message at a time (a second send before the first is
// received is not allowed).
//
// Everything is one 32-bit state word, with no lock: a send is one atomic operation, plus one
// wake when the receiver is parked; a receiver that waits actively for a while (`spin`) before
// it parks is handed the message without any system call. Dropping a sender touches no lock
// either: a forked child drops the idle entries of its parent's threads, whose channels may
// have been in use by threads that do not exist there.
//
// A spent channel (both ends gone) can be opened again, so that a thread making one exchange
// after another needs no allocation for its channel.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "threads/park.hpp"

namespace zelvane::pac {

enum class Received { Message, TimedOut, Closed };

template <class T>
class Sender;
template <class T>
class Receiver;

template <class T>
class ChannelCore {
 public:
  // Both ends gone: nothing of the last use reads or writes the channel any more.
  bool spent() const noexcept { return (state_.load(std::memory_order_acquire) & kBothGone) == kBothGone; }

 private:
  friend class Sender<T>;
  friend class Receiver<T>;
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> open_channel(std::shared_ptr<ChannelCore<U>> core);

  static constexpr std::uint32_t kFull = 1;          // `message_` holds the message
  static constexpr std::uint32_t kReceiverGone = 2;  // sends fail from now on
  static constexpr std::uint32_t kSendersGone = 4;   // the receiver is told Closed
  static constexpr std::uint32_t kParked = 8;        // the receiver sleeps: a change must wake it
  static constexpr std::uint32_t kBothGone = kReceiverGone | kSendersGone;

  std::atomic<std::uint32_t> state_{0};
  std::atomic<std::size_t> senders_{0};
  // Written by a sender while kFull is clear, read by the receiver once it is set.
  std::optional<T> message_;
};

template <class T>
class Sender {
 public:
  Sender(const Sender& other) : core_(other.core_) {
    if (core_) core_->senders_.fetch_add(1, std::memory_order_relaxed);
  }
  Sender(Sender&& other) noexcept = default;
  Sender& operator=(const Sender&) = delete;
  Sender& operator=(Sender&& other) noexcept {
    if (this != &other) {
      drop();
      core_ = std::move(other.core_);
    }
    return *this;
  }
  ~Sender() { drop(); }

  // The message back when nobody receives any more.
  std::optional<T> send(T message) {
    using Core = ChannelCore<T>;
    Core& c = *core_;
    if ((c.state_.load(std::memory_order_acquire) & Core::kReceiverGone) != 0)
      return std::optional<T>(std::move(message));
    c.message_.emplace(std::move(message));
    const std::uint32_t before = c.state_.fetch_or(Core::kFull, std::memory_order_acq_rel);
    if ((before & Core::kReceiverGone) != 0) {
      // The receiver left before the message was posted, so it has not looked at it.
      std::optional<T> back(std::move(c.message_));
      c.message_.reset();
      return back;
    }
    if ((before & Core::kParked) != 0) threads::unpark_one(c.state_);
    return std::nullopt;
  }

  void drop() noexcept {
    if (!core_) return;
    using Core = ChannelCore<T>;
    if (core_->senders_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      const std::uint32_t before = core_->state_.fetch_or(Core::kSendersGone, std::memory_order_acq_rel);
      if ((before & Core::kParked) != 0) threads::unpark_one(core_->state_);
    }
    core_.reset();
  }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> open_channel(std::shared_ptr<ChannelCore<U>> core);
  explicit Sender(std::shared_ptr<ChannelCore<T>> core) : core_(std::move(core)) {}

  std::shared_ptr<ChannelCore<T>> core_;
};

template <class T>
class Receiver {
 public:
  using Clock = std::chrono::steady_clock;

  Receiver(Receiver&&) noexcept = default;
  Receiver& operator=(Receiver&&) = delete;
  ~Receiver() {
    if (!core_) return;
    using Core = ChannelCore<T>;
    // An unread message (a task would release its slot) is destroyed once the channel is
    // marked, so that no sender can be writing it.
    if ((core_->state_.fetch_or(Core::kReceiverGone, std::memory_order_acq_rel) & Core::kFull) != 0) {
      core_->message_.reset();
    }
  }

  // Waits until `until`, or without limit when there is none. For up to `spin` of that time
  // the thread waits actively, looking at the channel without parking: a message that comes
  // in that moment costs no wake-up on either side.
  Received receive(std::optional<T>& out, std::optional<Clock::time_point> until,
                   std::chrono::nanoseconds spin = std::chrono::nanoseconds::zero()) {
    using Core = ChannelCore<T>;
    Core& c = *core_;
    std::uint32_t s = c.state_.load(std::memory_order_acquire);
    if (spin > std::chrono::nanoseconds::zero() && (s & (Core::kFull | Core::kSendersGone)) == 0) {
      s = spin_for(spin, until);
    }
    for (;;) {
      if ((s & Core::kFull) != 0) {
        if (c.message_) out.emplace(std::move(*c.message_));  // set, as kFull says
        c.message_.reset();
        c.state_.fetch_and(~(Core::kFull | Core::kParked), std::memory_order_acq_rel);
        return Received::Message;
      }
      if ((s & Core::kSendersGone) != 0) {
        c.state_.fetch_and(~Core::kParked, std::memory_order_relaxed);
        return Received::Closed;
      }
      if (until && Clock::now() >= *until) {
        // A message posted at this very moment is still taken.
        s = c.state_.fetch_and(~Core::kParked, std::memory_order_acq_rel) & ~Core::kParked;
        if ((s & (Core::kFull | Core::kSendersGone)) != 0) continue;
        return Received::TimedOut;
      }
      if ((s & Core::kParked) == 0) {
        if (!c.state_.compare_exchange_weak(s, s | Core::kParked, std::memory_order_acq_rel,
                                            std::memory_order_acquire)) {
          continue;
        }
        s |= Core::kParked;
      }
      threads::park(c.state_, s, until);
      s = c.state_.load(std::memory_order_acquire);
    }
  }

 private:
  template <class U>
  friend std::pair<Sender<U>, Receiver<U>> open_channel(std::shared_ptr<ChannelCore<U>> core);
  explicit Receiver(std::shared_ptr<ChannelCore<T>> core) : core_(std::move(core)) {}

  // The state once something came or the moment ended. The first microseconds look at the
  // state as fast as the core allows; after that each look yields the core first, so that on a
  // machine with more runnable threads than cores the wait gives way to them (the sender among
  // them) instead of taking their time. The clock is read every few dozen looks.
  std::uint32_t spin_for(std::chrono::nanoseconds spin, std::optional<Clock::time_point> until) {
    using Core = ChannelCore<T>;
    const Clock::time_point start = Clock::now();
    Clock::time_point end = start + spin;
    if (until && *until < end) end = *until;
    const Clock::time_point yield_from = start + std::min(spin, kTightSpin);
    bool yielding = false;
    for (unsigned looks = 1;; ++looks) {
      if (yielding) {
        std::this_thread::yield();
      } else {
        threads::cpu_relax();
      }
      const std::uint32_t s = core_->state_.load(std::memory_order_acquire);
      if ((s & (Core::kFull | Core::kSendersGone)) != 0) return s;
      if (yielding || looks % 32 == 0) {
        const Clock::time_point now = Clock::now();
        if (now >= end) return s;
        yielding = now >= yield_from;
      }
    }
  }

  static constexpr std::chrono::nanoseconds kTightSpin = std::chrono::microseconds(10);

  std::shared_ptr<ChannelCore<T>> core_;
};

// A channel on `core`, which is new or spent; one sender and the receiver.
template <class T>
std::pair<Sender<T>, Receiver<T>> open_channel(std::shared_ptr<ChannelCore<T>> core) {
  core->state_.store(0, std::memory_order_relaxed);
  core->senders_.store(1, std::memory_order_relaxed);
  return {Sender<T>(core), Receiver<T>(core)};
}

template <class T>
std::pair<Sender<T>, Receiver<T>> make_channel() {
  return open_channel(std::make_shared<ChannelCore<T>>());
}

}  // namespace zelvane::pac
