#include "watch/handle.hpp"

#include <utility>

namespace zelvane::watch {

void WatchHandle::signal_stop() noexcept {
  if (closed_.exchange(true, std::memory_order_seq_cst)) return;
  if (!thread_mutex_.try_lock()) return;  // a stop_and_join() is joining
  if (thread_) {
    parker_.unpark();  // it sees closed and stops the watch itself
  } else {
    stop_watch();
  }
  thread_mutex_.unlock();
}

void WatchHandle::stop_and_join() noexcept {
  closed_.store(true, std::memory_order_seq_cst);
  if (consumer_thread_.load() == std::this_thread::get_id()) return;
  {
    util::MutexLock thread_lock(thread_mutex_);
    std::optional<threads::ThreadHandle> thread = std::move(thread_);
    thread_.reset();
    if (thread) {
      parker_.unpark();
      thread->join();
    }
  }
  stop_watch();
}

std::expected<model::ProxyConfig, WatchHandle::Gone> WatchHandle::current() {
  if (is_closed()) return std::unexpected(Gone::Closed);
  util::MutexLock stream_lock(stream_mutex_);
  if (!stream_) {
    if (!had_stream_) return model::ProxyConfig::empty();
    if (is_closed()) return std::unexpected(Gone::Closed);
    return std::unexpected(Gone::Stopped);
  }
  return stream_->current();
}

void WatchHandle::set_thread(threads::ThreadHandle thread) {
  util::MutexLock thread_lock(thread_mutex_);
  thread_ = std::move(thread);
}

std::optional<WatchPoll> WatchHandle::poll(const WakeHandle& waker) {
  util::MutexLock stream_lock(stream_mutex_);
  if (!stream_) return std::nullopt;
  return stream_->poll_event(waker);
}

void WatchHandle::stop_watch() noexcept {
  util::MutexLock stream_lock(stream_mutex_);
  std::optional<WatchStream> taken = std::move(stream_);
  stream_.reset();
  taken.reset();
}

}  // namespace zelvane::watch
