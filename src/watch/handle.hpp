// The consumer's side of a running watch: the stream, the thread that consumes it (the module's
// "zelvane-python"), the parker that thread sleeps on between polls, and the mark of a closed
// watch. Shared by the owner (the module's Watcher) and that thread.
//
// Locks nest in one order: the thread mutex, then the stream mutex, then the watch state's own
// (inside the stream's calls). Every method takes what it needs itself. A stop joins the
// consumer thread while holding the thread mutex, which that thread never takes, so the join
// cannot wait on it; the consumer thread holds the stream mutex while it polls and while it
// stops the watch, so that a current() meanwhile waits for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <optional>
#include <thread>

#include "model/config.hpp"
#include "threads/thread.hpp"
#include "util/locks.hpp"
#include "watch/state.hpp"
#include "watch/wake.hpp"

namespace zelvane::watch {

class WatchHandle {
 public:
  // Without a stream (the system has no watch) the handle has no thread either, and its
  // current() is the configuration of no system.
  explicit WatchHandle(std::optional<WatchStream> stream)
      : had_stream_(stream.has_value()), stream_(std::move(stream)) {}
  WatchHandle(const WatchHandle&) = delete;
  WatchHandle& operator=(const WatchHandle&) = delete;

  bool is_closed() const { return closed_.load(std::memory_order_seq_cst); }
  // The owner's end: marks closed and wakes the consumer thread, never waiting for it; without
  // one, stops the watch. Returns at once while a stop_and_join() is joining.
  void signal_stop() noexcept EXCLUDES(thread_mutex_, stream_mutex_);
  // close(): marks closed, wakes and joins the consumer thread, and stops the watch. On the
  // consumer thread itself (a close() from what it calls) it only marks closed.
  void stop_and_join() noexcept EXCLUDES(thread_mutex_, stream_mutex_);

  enum class Gone : std::uint8_t {
    Closed,   // the owner closed the watch
    Stopped,  // the watch ended by itself, and its consumer stopped it
  };
  // The latest configuration, or why there is none.
  std::expected<model::ProxyConfig, Gone> current() EXCLUDES(stream_mutex_);

  // ---- for the consumer thread
  void set_thread(threads::ThreadHandle thread) EXCLUDES(thread_mutex_);
  void record_consumer_thread() { consumer_thread_.store(std::this_thread::get_id()); }
  ThreadParker& parker() { return parker_; }
  // One poll of the stream; none once a stop has taken it.
  std::optional<WatchPoll> poll(const WakeHandle& waker) EXCLUDES(stream_mutex_);
  // Takes the stream and releases it, which stops the backend and waits for its thread; under
  // the stream mutex, so that a poll or a current() meanwhile waits for the end.
  void stop_watch() noexcept EXCLUDES(stream_mutex_);

 private:
  const bool had_stream_;
  util::Mutex thread_mutex_;
  std::optional<threads::ThreadHandle> thread_ GUARDED_BY(thread_mutex_);
  std::atomic<std::thread::id> consumer_thread_{};
  util::Mutex stream_mutex_ ACQUIRED_AFTER(thread_mutex_);
  std::optional<WatchStream> stream_ GUARDED_BY(stream_mutex_);
  std::atomic<bool> closed_{false};
  ThreadParker parker_;
};

}  // namespace zelvane::watch
