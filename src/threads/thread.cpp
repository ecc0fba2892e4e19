#include "threads/thread.hpp"

#include <cerrno>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <cxxabi.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace zelvane::threads {

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

#ifdef _WIN32
void name_thread(const std::string& name) noexcept {
  // Looked up at run time: Windows before 10 version 1607 has no such call, and a thread name
  // is not worth failing to load for. Going through void (*)() keeps the cast honest to GCC.
  using SetThreadDescriptionFn = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto set_description = reinterpret_cast<SetThreadDescriptionFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set_description == nullptr) return;
  wchar_t wide[128] = {};
  const int length = static_cast<int>(name.size() < 64 ? name.size() : 64);
  if (MultiByteToWideChar(CP_UTF8, 0, name.data(), length, wide, 127) > 0)
    set_description(GetCurrentThread(), wide);
}
#else
void name_thread(const std::string& name) noexcept {
  // Linux keeps at most 15 bytes of a thread's name.
  char shortened[16] = {};
  name.copy(shortened, 15);
  pthread_setname_np(pthread_self(), shortened);
}
#endif

struct Start {
  std::string name;
  ThreadBody body;
};

// The forced unwind is caught by a reference that the runtime binds to no object, which
// UBSan's null check would take for a fault and stop the process at.
#if defined(__GNUC__) && !defined(_WIN32)
__attribute__((no_sanitize("null")))
#endif
void run(Start* raw) noexcept(false) {
  std::unique_ptr<Start> start(raw);
  name_thread(start->name);
  try {
    start->body();
#ifndef _WIN32
  } catch (const abi::__forced_unwind&) {
    // The thread is being ended (pthread_exit, or an interpreter that is finalising):
    // swallowing the unwind would abort the process. Windows ends such a thread without
    // unwinding, so nothing reaches here there (thread.hpp).
    throw;
#endif
  } catch (...) {
    // The body reports its own failures; one that escapes must not end the process.
  }
}

}  // namespace

std::expected<ThreadHandle, SpawnError> start_thread(std::string_view name, ThreadBody body) {
  std::unique_ptr<Start> start;
  try {
    start = std::make_unique<Start>(Start{std::string(name), std::move(body)});
  } catch (const std::bad_alloc&) {
    return std::unexpected(
        SpawnError{"not enough memory to start a thread", static_cast<std::int32_t>(ENOMEM)});
  }
  try {
    std::thread thread(run, start.get());
    static_cast<void>(start.release());  // the thread owns it now
    return ThreadHandle(std::move(thread));
  } catch (const std::system_error& e) {
    // `start` still owns the body: it is destroyed here, unrun.
    return std::unexpected(SpawnError{e.what(), e.code().value()});
  } catch (const std::exception& e) {
    return std::unexpected(SpawnError{e.what(), 0});
  }
}

std::uint32_t process_id() noexcept {
#ifdef _WIN32
  return static_cast<std::uint32_t>(GetCurrentProcessId());
#else
  return static_cast<std::uint32_t>(getpid());
#endif
}

}  // namespace zelvane::threads
