// The hand-over point between the thread of a watch backend (the producer) and the one consumer
// of that watch. The producer publishes each configuration it reads again, queues the errors it
// meets, reports the sources it can no longer watch and marks its own end; the consumer polls
// and gets nothing (leaving a wake-up handle behind), a changed configuration with the watch's
// diagnostics, an error, or the end of the stream. Nothing here touches a platform: every
// backend drives the same state.
//
// Threads: one producer, one consumer at a time, and any thread asking for the current
// configuration. One mutex guards the state; each operation takes it once and no other lock
// under it, and wake-up handles are woken or released only after it is let go (the annotations
// below hold the first and the waking to it).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "util/locks.hpp"
#include "value/time.hpp"
#include "watch/wake.hpp"

namespace zelvane::watch {

using model::Error;
using model::ProxyConfig;
using model::SourceKind;
using value::Duration;

// At most this many events stay queued after a publication; an error queued after it can make
// one more until the next.
inline constexpr std::size_t kEventLimit = 1024;

// One queued event. A change carries nothing: the configuration is the one current when it is
// polled.
struct WatchEvent {
  struct Changed {};
  struct Error {
    model::Error error;
  };
  std::variant<Changed, Error> value;
};

// Facts about the backend as it started, written once after its thread runs.
struct WatchBackendInfo {
  std::vector<SourceKind> unwatched;  // sources not armed at the start
  std::optional<Duration> poll_interval;
  bool notifications = false;  // at least one source was armed at the start
};

struct WatchDiagnostics {
  std::vector<SourceKind> unwatched;
  std::optional<Duration> poll_interval;
  bool notifications = false;
  // The producer has ended and nothing is queued behind this answer: a change that carries it
  // is the end mark, after which the stream answers nothing but Closed.
  bool ended = false;
  friend bool operator==(const WatchDiagnostics&, const WatchDiagnostics&) = default;
};

struct WatchSnapshot {
  ProxyConfig config;
  WatchDiagnostics diagnostics;
};

// The answer to one poll.
struct WatchPoll {
  struct Pending {};  // nothing to report; the caller's handle is stored
  struct Closed {};   // the stream has ended and holds nothing more
  struct Changed {
    WatchSnapshot snapshot;
  };
  struct Error {
    WatchSnapshot snapshot;
    model::Error error;
  };
  std::variant<Pending, Closed, Changed, Error> value;

  template <class T>
  bool is() const {
    return std::holds_alternative<T>(value);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&value);
  }
};

class BackendThreadGuard;

class WatchState {
 public:
  // A new state: the initial reading as the current configuration and one change queued, so
  // that the first poll answers it.
  explicit WatchState(ProxyConfig initial);
  WatchState(const WatchState&) = delete;
  WatchState& operator=(const WatchState&) = delete;

  // ---- the producer
  // Drops a configuration equal to the current one (the capture time aside); otherwise makes
  // it current and queues a change behind the newest event.
  void publish(ProxyConfig config) EXCLUDES(mutex_);
  // Queues an error; one that follows an error replaces it, waking nobody.
  void push_error(model::Error error) EXCLUDES(mutex_);
  // A source that stopped being watched; owes the consumer a change so the diagnostics show it.
  void add_unwatched(SourceKind kind) EXCLUDES(mutex_);
  // No source delivers notifications any more; owes the consumer a change likewise.
  void mark_notifications_lost() EXCLUDES(mutex_);

  // ---- the opening side: the first call wins, later ones change nothing.
  void set_backend(WatchBackendInfo info);

  // ---- the consumer
  WatchPoll poll_event(const WakeHandle& waker) EXCLUDES(mutex_);
  // A copy of the latest configuration published.
  ProxyConfig current() const EXCLUDES(mutex_);
  // The consumer's starting point: takes the change queued at the opening (when it still leads
  // the queue) and answers the current configuration. Unlike a poll whose answer is thrown
  // away, it leaves every owed change in place, so a producer that ended before this call
  // still gets its end to the consumer.
  ProxyConfig take_baseline() EXCLUDES(mutex_);

  // ---- for tests and diagnostics
  // Events discarded by the queue limit since a poll last emptied the queue.
  std::uint64_t dropped() const EXCLUDES(mutex_);
  std::size_t queued() const EXCLUDES(mutex_);

 private:
  friend class BackendThreadGuard;

  // The end of the producer: owes the consumer a last change that carries the end.
  void close() EXCLUDES(mutex_);
  WatchDiagnostics diagnostics() const REQUIRES(mutex_);
  // Read under the mutex by the operations, though the mutex does not guard it.
  const WatchBackendInfo* backend() const;
  std::optional<WakeHandle> take_waker() REQUIRES(mutex_);
  // Wakes the handle taken out of waker_, once the mutex is let go.
  void wake(std::optional<WakeHandle>& waker) const noexcept EXCLUDES(mutex_);

  mutable util::Mutex mutex_;
  std::deque<WatchEvent> events_ GUARDED_BY(mutex_);
  std::vector<SourceKind> unwatched_ GUARDED_BY(mutex_);
  std::shared_ptr<const ProxyConfig> current_ GUARDED_BY(mutex_);
  std::uint64_t dropped_ GUARDED_BY(mutex_) = 0;
  std::optional<WakeHandle> waker_ GUARDED_BY(mutex_);
  bool closed_ GUARDED_BY(mutex_) = false;
  bool refresh_ GUARDED_BY(mutex_) = false;
  bool notifications_lost_ GUARDED_BY(mutex_) = false;

  // Set once, outside the mutex: 0 unset, 1 being written, 2 set.
  std::atomic<int> backend_stage_{0};
  WatchBackendInfo backend_;
};

// Held by the producer thread for its whole run; its release marks the end of the stream. When
// the thread leaves by an exception the guard's destructor records that too: notifications
// are lost and an Io error "running the zelvane backend thread" is queued before the end.
class BackendThreadGuard {
 public:
  explicit BackendThreadGuard(std::shared_ptr<WatchState> state) noexcept;
  ~BackendThreadGuard();
  BackendThreadGuard(const BackendThreadGuard&) = delete;
  BackendThreadGuard& operator=(const BackendThreadGuard&) = delete;

  void release() noexcept;

 private:
  void finish(bool failed) noexcept;

  std::shared_ptr<WatchState> state_;
  int uncaught_at_start_;
};

// What a backend is to the stream that owns it: destroying it stops the producer and waits
// for its thread.
class WatchBackend {
 public:
  virtual ~WatchBackend() = default;
};

// The running watch as its consumer holds it: the backend and the shared state. Releasing it
// stops the backend first.
class WatchStream {
 public:
  WatchStream(std::shared_ptr<WatchState> state, std::unique_ptr<WatchBackend> backend) noexcept
      : state_(std::move(state)), backend_(std::move(backend)) {}
  WatchStream(WatchStream&&) noexcept = default;
  WatchStream& operator=(WatchStream&&) noexcept = default;
  ~WatchStream() { backend_.reset(); }

  WatchPoll poll_event(const WakeHandle& waker) { return state_->poll_event(waker); }
  ProxyConfig current() const { return state_->current(); }
  ProxyConfig take_baseline() { return state_->take_baseline(); }

  const std::shared_ptr<WatchState>& state() const { return state_; }

 private:
  std::shared_ptr<WatchState> state_;
  std::unique_ptr<WatchBackend> backend_;  // declared last: destroyed first
};

}  // namespace zelvane::watch
