// Waking a waiting consumer: the handle a consumer leaves behind when it has nothing to read,
// and the parking that a thread-waking handle unparks.
//
// A WakeHandle is an opaque data word and a table of four operations (clone, wake,
// wake_by_ref, drop). Whoever holds one releases it exactly once, through wake or drop; the
// class does that for its owner (destroying a handle that was not woken drops it).
#pragma once

#include <chrono>
#include <cstddef>

namespace zelvane::watch {

class WakeHandle {
 public:
  struct VTable {
    // Returns the data of a new handle for the same target, with this table.
    void* (*clone)(void* data) noexcept;
    // Wakes the target and releases the handle.
    void (*wake)(void* data) noexcept;
    // Wakes the target and keeps the handle.
    void (*wake_by_ref)(void* data) noexcept;
    // Releases the handle without waking.
    void (*drop)(void* data) noexcept;
  };

  WakeHandle(const VTable& vtable, void* data) noexcept : vtable_(&vtable), data_(data) {}
  WakeHandle(WakeHandle&& other) noexcept;
  WakeHandle& operator=(WakeHandle&& other) noexcept;
  WakeHandle(const WakeHandle&) = delete;
  WakeHandle& operator=(const WakeHandle&) = delete;
  ~WakeHandle() { std::move(*this).drop(); }

  // A handle whose four operations do nothing.
  static WakeHandle noop() noexcept;

  WakeHandle clone() const noexcept;
  void wake() && noexcept;
  void wake_by_ref() const noexcept;
  void drop() && noexcept;

  // False once the handle was woken, dropped or moved from.
  explicit operator bool() const { return vtable_ != nullptr; }
  void* data() const { return data_; }

 private:
  const VTable* vtable_;
  void* data_;
};

// A thread's parking place with one wake-up token: an unpark that comes before the park is
// kept, so the park that follows returns at once. Tokens do not add up: two unparks before a
// park make one.
//
// The parker is shared by reference counting between its owner and the handles it gives out,
// so a handle may outlive the owner and still be woken safely.
class ThreadParker {
 public:
  ThreadParker();
  ~ThreadParker();
  ThreadParker(const ThreadParker&) = delete;
  ThreadParker& operator=(const ThreadParker&) = delete;

  // Blocks until a token is there, and takes it.
  void park();
  // As park, for at most the given time; whether a token was taken.
  bool park_for(std::chrono::nanoseconds timeout);
  // Leaves a token and wakes the parked thread, if any.
  void unpark() noexcept;

  // A handle whose wake unparks this parker.
  WakeHandle wake_handle() noexcept;

 private:
  struct Shared;
  Shared* shared_;
};

}  // namespace zelvane::watch
