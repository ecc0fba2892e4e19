#include "sys/win/platform.hpp"

#include <cerrno>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

namespace zelvane::sys::win {

ThreadHandle& ThreadHandle::operator=(ThreadHandle&& other) noexcept {
  if (this != &other) {
    let_go();
    thread_ = std::move(other.thread_);
  }
  return *this;
}

ThreadHandle::~ThreadHandle() { let_go(); }

void ThreadHandle::let_go() noexcept {
  if (thread_.joinable()) thread_.detach();
}

void ThreadHandle::join() noexcept {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  try {
    thread_.join();
  } catch (const std::system_error&) {
    // Only a thread that is no longer joinable gets here; nothing is left to wait for.
    if (thread_.joinable()) thread_.detach();
  }
}

namespace {

struct Start {
  std::string name;
  ThreadBody body;
  void (*name_thread)(const std::string&) noexcept;
};

void run(Start* raw) noexcept {
  std::unique_ptr<Start> start(raw);
  start->name_thread(start->name);
  try {
    start->body();
  } catch (...) {
    // The body reports its own failures; one that escapes must not end the process.
  }
}

}  // namespace

std::expected<ThreadHandle, SpawnError> start_thread(std::string_view name, ThreadBody body,
                                                     void (*name_thread)(const std::string&) noexcept) {
  std::unique_ptr<Start> start;
  try {
    start = std::make_unique<Start>(Start{std::string(name), std::move(body), name_thread});
  } catch (const std::bad_alloc&) {
    return std::unexpected(
        SpawnError{"not enough memory to start a thread", static_cast<std::int32_t>(ENOMEM)});
  }
  try {
    std::thread thread(run, start.get());
    start.release();  // the thread owns it now
    return ThreadHandle(std::move(thread));
  } catch (const std::system_error& e) {
    // `start` still owns the body: it is destroyed here, unrun.
    return std::unexpected(SpawnError{e.what(), e.code().value()});
  } catch (const std::exception& e) {
    return std::unexpected(SpawnError{e.what(), 0});
  }
}

}  // namespace zelvane::sys::win
