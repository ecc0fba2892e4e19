#include "watch/state.hpp"

#include <algorithm>
#include <exception>
#include <utility>

namespace zelvane::watch {

namespace {

bool contains(const std::vector<SourceKind>& list, SourceKind kind) {
  return std::find(list.begin(), list.end(), kind) != list.end();
}

bool is_changed(const WatchEvent& event) { return std::holds_alternative<WatchEvent::Changed>(event.value); }

}  // namespace

WatchState::WatchState(ProxyConfig initial)
    : current_(std::make_shared<const ProxyConfig>(std::move(initial))) {
  events_.push_back({WatchEvent::Changed{}});
}

std::optional<WakeHandle> WatchState::take_waker() { return std::exchange(waker_, std::nullopt); }

void WatchState::wake(std::optional<WakeHandle>& waker) const noexcept {
  if (waker) std::move(*waker).wake();
}

const WatchBackendInfo* WatchState::backend() const {
  return backend_stage_.load(std::memory_order_acquire) == 2 ? &backend_ : nullptr;
}

void WatchState::set_backend(WatchBackendInfo info) {
  int unset = 0;
  if (!backend_stage_.compare_exchange_strong(unset, 1, std::memory_order_acq_rel)) return;
  backend_ = std::move(info);
  backend_stage_.store(2, std::memory_order_release);
}

void WatchState::publish(ProxyConfig config) {
  std::shared_ptr<const ProxyConfig> previous;  // released after the mutex
  std::optional<WakeHandle> waker;
  {
    util::MutexLock lock(mutex_);
    if (config == *current_) return;
    previous = std::exchange(current_, std::make_shared<const ProxyConfig>(std::move(config)));

    // A change behind errors moves behind the newest error, so that the consumer sees the
    // errors first and the newest configuration last; one that leads a longer queue stays
    // and gets a second one behind.
    const auto newest = std::find_if(events_.rbegin(), events_.rend(), is_changed);
    if (newest == events_.rend()) {
      events_.push_back({WatchEvent::Changed{}});
    } else if (newest != events_.rbegin()) {
      if (std::next(newest) != events_.rend()) events_.erase(std::next(newest).base());
      events_.push_back({WatchEvent::Changed{}});
    }
    refresh_ = false;
    while (events_.size() > kEventLimit) {
      events_.pop_front();
      ++dropped_;
    }
    waker = take_waker();
  }
  wake(waker);
}

void WatchState::push_error(model::Error error) {
  std::optional<WakeHandle> waker;
  {
    util::MutexLock lock(mutex_);
    if (!events_.empty()) {
      if (auto* last = std::get_if<WatchEvent::Error>(&events_.back().value)) {
        last->error = std::move(error);
        return;
      }
    }
    events_.push_back({WatchEvent::Error{std::move(error)}});
    waker = take_waker();
  }
  wake(waker);
}

void WatchState::add_unwatched(SourceKind kind) {
  std::optional<WakeHandle> waker;
  {
    util::MutexLock lock(mutex_);
    const WatchBackendInfo* info = backend();
    if (contains(unwatched_, kind) || (info != nullptr && contains(info->unwatched, kind))) return;
    unwatched_.push_back(kind);
    refresh_ = true;
    waker = take_waker();
  }
  wake(waker);
}

void WatchState::mark_notifications_lost() {
  std::optional<WakeHandle> waker;
  {
    util::MutexLock lock(mutex_);
    const WatchBackendInfo* info = backend();
    if (notifications_lost_ || (info != nullptr && !info->notifications)) return;
    notifications_lost_ = true;
    refresh_ = true;
    waker = take_waker();
  }
  wake(waker);
}

void WatchState::close() {
  std::optional<WakeHandle> waker;
  {
    util::MutexLock lock(mutex_);
    if (closed_) return;
    closed_ = true;
    refresh_ = true;
    waker = take_waker();
  }
  wake(waker);
}

WatchDiagnostics WatchState::diagnostics() const {
  WatchDiagnostics d;
  if (const WatchBackendInfo* info = backend()) {
    d.unwatched = info->unwatched;
    d.poll_interval = info->poll_interval;
    d.notifications = info->notifications;
  }
  for (SourceKind kind : unwatched_) {
    if (!contains(d.unwatched, kind)) d.unwatched.push_back(kind);
  }
  if (notifications_lost_) d.notifications = false;
  d.ended = closed_ && events_.empty();
  return d;
}

WatchPoll WatchState::poll_event(const WakeHandle& waker) {
  WakeHandle clone = waker.clone();
  std::optional<WakeHandle> previous;
  std::shared_ptr<const ProxyConfig> config;
  WatchDiagnostics diagnostics;
  std::optional<WatchEvent> event;  // none: a change made for an owed refresh
  {
    util::MutexLock lock(mutex_);
    if (!events_.empty()) {
      event = std::move(events_.front());
      events_.pop_front();
      if (events_.empty()) dropped_ = 0;
      // Once the producer has ended, only the last change settles what is owed: a consumer
      // stops at the change that carries the end, and would never see the events behind it
      // (the error that ended the producer is usually one of them).
      if (is_changed(*event) && (!closed_ || events_.empty())) refresh_ = false;
    } else if (refresh_) {
      refresh_ = false;
    } else if (closed_) {
      return {WatchPoll::Closed{}};
    } else {
      previous = std::exchange(waker_, std::move(clone));
      return {WatchPoll::Pending{}};
    }
    config = current_;
    diagnostics = this->diagnostics();
  }
  // The configuration is immutable: copying it needs no lock.
  WatchSnapshot snapshot{*config, std::move(diagnostics)};
  if (!event || is_changed(*event)) return {WatchPoll::Changed{std::move(snapshot)}};
  return {WatchPoll::Error{std::move(snapshot), std::move(std::get<WatchEvent::Error>(event->value).error)}};
}

ProxyConfig WatchState::current() const {
  std::shared_ptr<const ProxyConfig> config;
  {
    util::MutexLock lock(mutex_);
    config = current_;
  }
  return *config;
}

ProxyConfig WatchState::take_baseline() {
  std::shared_ptr<const ProxyConfig> config;
  {
    util::MutexLock lock(mutex_);
    if (!events_.empty() && is_changed(events_.front())) {
      events_.pop_front();
      if (events_.empty()) dropped_ = 0;
    }
    config = current_;
  }
  return *config;
}

std::uint64_t WatchState::dropped() const {
  util::MutexLock lock(mutex_);
  return dropped_;
}

std::size_t WatchState::queued() const {
  util::MutexLock lock(mutex_);
  return events_.size();
}

BackendThreadGuard::BackendThreadGuard(std::shared_ptr<WatchState> state) noexcept
    : state_(std::move(state)), uncaught_at_start_(std::uncaught_exceptions()) {}

BackendThreadGuard::~BackendThreadGuard() { finish(std::uncaught_exceptions() > uncaught_at_start_); }

void BackendThreadGuard::release() noexcept { finish(false); }

void BackendThreadGuard::finish(bool failed) noexcept {
  const std::shared_ptr<WatchState> state = std::move(state_);
  if (!state) return;
  if (failed) {
    state->mark_notifications_lost();
    try {
      state->push_error(Error::io("running the zelvane backend thread",
                                  model::OsError::other("the watcher thread panicked")));
    } catch (const std::exception&) {
      // Out of memory while unwinding: the end below still reaches the consumer.
    }
  }
  state->close();
}

}  // namespace zelvane::watch
