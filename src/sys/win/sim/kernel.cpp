#include "sys/win/sim/kernel.hpp"

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sys/win/sim/state.hpp"

namespace zelvane::sys::win::sim {

Handle Kernel::create_event(bool manual_reset) {
  const std::uintptr_t handle = new_handle();
  events_.emplace(handle, std::make_shared<Event>(Event{manual_reset, false}));
  return Handle{handle};
}

std::shared_ptr<Event> Kernel::event(Handle handle) const {
  const auto it = events_.find(handle.value);
  return it == events_.end() ? nullptr : it->second;
}

bool Kernel::set_event(Handle handle) {
  const auto it = events_.find(handle.value);
  if (it == events_.end()) return false;
  signal(*it->second);
  return true;
}

bool Kernel::close_handle(Handle handle) { return events_.erase(handle.value) != 0; }

void Kernel::signal(Event& event) {
  event.signalled = true;
  event_set_.notify_all();
}

WaitResult Kernel::wait(util::UniqueLock& lock, std::span<const Handle> handles, std::uint32_t timeout_ms) {
  if (handles.empty() || handles.size() > kMaximumWaitObjects) return {kWaitFailed, kErrorInvalidParameter};
  // The events are held for the whole wait: one closed meanwhile keeps its state, as a kernel
  // object lives on while a wait refers to it.
  std::vector<std::shared_ptr<Event>> events;
  for (Handle h : handles) {
    const auto it = events_.find(h.value);
    if (it == events_.end()) return {kWaitFailed, kErrorInvalidHandle};
    events.push_back(it->second);
  }
  const auto take_signalled = [&]() -> std::optional<WaitResult> {
    for (std::size_t i = 0; i < events.size(); ++i) {
      if (events[i]->signalled) {
        if (!events[i]->manual_reset) events[i]->signalled = false;
        return WaitResult{static_cast<std::uint32_t>(kWaitObject0 + i), 0};
      }
    }
    return std::nullopt;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (const auto signalled = take_signalled()) return *signalled;
    if (timeout_ms == kInfinite) {
      event_set_.wait(lock);
    } else if (event_set_.wait_until(lock, deadline) == std::cv_status::timeout) {
      // An event set right at the deadline still counts.
      if (const auto signalled = take_signalled()) return *signalled;
      return {kWaitTimeout, 0};
    }
  }
}

// ---- the platform calls

EventResult Windows::create_event(bool manual_reset) {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::CreateEvent}, [&] {
    return EventResult{s.kernel().create_event(manual_reset), 0};
  });
}

CallResult Windows::set_event(Handle event) noexcept {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = Op::SetEvent}, [&] {
    return s.kernel().set_event(event) ? CallResult{} : CallResult{false, kErrorInvalidHandle};
  });
}

CallResult Windows::close_handle(Handle handle) noexcept {
  util::MutexLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer(
      {.op = Op::CloseHandle},
      [&] {
        return s.kernel().close_handle(handle) ? CallResult{} : CallResult{false, kErrorInvalidHandle};
      },
      OnFault::Close);
}

WaitResult Windows::wait_one(Handle handle, std::uint32_t timeout_ms) {
  return wait(Op::WaitOne, std::span<const Handle>(&handle, 1), timeout_ms);
}

WaitResult Windows::wait_any(std::span<const Handle> handles, std::uint32_t timeout_ms) {
  return wait(Op::WaitAny, handles, timeout_ms);
}

WaitResult Windows::wait(Op op, std::span<const Handle> handles, std::uint32_t timeout_ms) {
  util::UniqueLock lock(state_->mutex);
  Parts& s = state_->parts();
  return s.ledger.answer({.op = op, .timeout_ms = timeout_ms},
                         [&] { return s.kernel().wait(lock, handles, timeout_ms); });
}

std::expected<ThreadHandle, SpawnError> Windows::spawn_thread(std::string_view name, ThreadBody body) {
  std::uint64_t entry = 0;
  {
    // Logged before the thread starts, so that the spawn comes before whatever the thread does.
    util::MutexLock lock(state_->mutex);
    Ledger& ledger = state_->parts().ledger;
    entry = ledger.next_entry();
    SpawnAnswer answer =
        ledger.answer({.op = Op::SpawnThread, .key = std::string(name)}, [] { return SpawnAnswer{}; });
    if (!answer) return std::unexpected(std::move(answer).error());
  }
  auto started = threads::start_thread(name, std::move(body));
  if (!started) {
    util::MutexLock lock(state_->mutex);
    state_->parts().ledger.amend(entry, static_cast<std::uint32_t>(started.error().code));
  }
  return started;
}

std::chrono::steady_clock::time_point Windows::monotonic_now() noexcept {
  return std::chrono::steady_clock::now();
}

// ---- the control side

std::size_t Control::live_handles() const {
  return locked([](auto& s) { return s.kernel().live_handles(); });
}

}  // namespace zelvane::sys::win::sim
