// Named threads for every build, and the id of the process: the PAC pool, the watch threads and
// the Windows platform's spawns all start theirs here. The rules the callers rely on:
// - A body that cannot start is destroyed unrun, so what it owns is released by its destructor.
// - Dropping a handle that was not joined detaches the thread: the last owner may be that very
//   thread (or a forked child, or a collector's dealloc after the thread ended), and joining
//   itself would deadlock or terminate.
// - Naming is best effort: a name the system refuses or shortens (Linux keeps 15 bytes) never
//   fails the spawn.
// - An exception escaping a body is swallowed (the body reports its own failures), but the
//   forced unwind that ends a thread on Linux (pthread_exit) is let through. On Windows a
//   thread is ended (_endthreadex, as an interpreter that is finalising does) without any
//   unwinding: nothing on its stack is destroyed, the body itself included. Either way a
//   body relies on nothing after the call that may end it, and holds no lock across that call.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace zelvane::threads {

using ThreadBody = std::move_only_function<void()>;

// Owns a started thread; move-only.
class ThreadHandle {
 public:
  ThreadHandle() = default;
  explicit ThreadHandle(std::thread thread) : thread_(std::move(thread)) {}
  ThreadHandle(ThreadHandle&&) noexcept = default;
  ThreadHandle& operator=(ThreadHandle&& other) noexcept;
  ~ThreadHandle();

  bool joinable() const { return thread_.joinable(); }
  // Waits for the thread to end; called on the thread itself it detaches instead.
  void join() noexcept;
  // Detaches the thread, if there is one.
  void let_go() noexcept;

 private:
  std::thread thread_;
};

// Why a thread did not start: the system's text and code.
struct SpawnError {
  std::string text;
  std::int32_t code = 0;
};

std::expected<ThreadHandle, SpawnError> start_thread(std::string_view name, ThreadBody body);

// The id of the calling process: what a child of fork() tells apart from its parent by, for the
// objects it inherited but whose threads stayed behind.
std::uint32_t process_id() noexcept;

}  // namespace zelvane::threads
