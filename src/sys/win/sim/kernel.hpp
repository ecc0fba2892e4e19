// Inside the simulated Windows (its own files only; tests go through sim.hpp): the kernel's
// handles, its events and the waits on them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <span>

#include "sys/win/platform.hpp"
#include "util/locks.hpp"

namespace zelvane::sys::win::sim {

// A kernel event. It lives on while a wait or a registration refers to it, as a kernel object
// does after its handle is closed.
struct Event {
  bool manual_reset = false;
  bool signalled = false;
};

class Kernel {
 public:
  // `mutex` is the lock of the simulation, which every member expects held; signal() says nothing
  // of it, as it touches only the event it is given, whose state the analysis does not follow.
  explicit Kernel(util::Mutex& mutex) : mutex_(mutex) {}

  // The lock as the kernel knows it, for the parts that reach the kernel by a reference of theirs.
  util::Mutex& mutex() const RETURN_CAPABILITY(mutex_) { return mutex_; }

  // Kernel handles are multiples of four; keys, events and WinHTTP handles share one counter, so
  // that a handle of one kind is never a valid handle of another.
  std::uintptr_t new_handle() REQUIRES(mutex_) { return last_handle_ += 4; }

  Handle create_event(bool manual_reset) REQUIRES(mutex_);
  // The event behind a handle; null for a handle that is no event.
  std::shared_ptr<Event> event(Handle handle) const REQUIRES(mutex_);
  // False for a handle that is no event.
  bool set_event(Handle handle) REQUIRES(mutex_);
  bool close_handle(Handle handle) REQUIRES(mutex_);
  // Sets an event, waking the waits.
  void signal(Event& event);
  // WaitForMultipleObjects(handles, FALSE, timeout_ms), sleeping with `lock`, the simulation's,
  // let go.
  WaitResult wait(util::UniqueLock& lock, std::span<const Handle> handles, std::uint32_t timeout_ms)
      REQUIRES(mutex_);
  std::size_t live_handles() const REQUIRES(mutex_) { return events_.size(); }

 private:
  util::Mutex& mutex_;
  std::map<std::uintptr_t, std::shared_ptr<Event>> events_ GUARDED_BY(mutex_);
  std::uintptr_t last_handle_ GUARDED_BY(mutex_) = 0x1000;
  util::CondVar event_set_;  // a wait's wake-up: an event set
};

}  // namespace zelvane::sys::win::sim
