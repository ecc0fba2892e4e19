// Inside the simulated Windows (its own files only; tests go through sim.hpp): WinHTTP, with the
// scripted answers of its two reading calls and its proxy resolver, whose callbacks come from a
// dispatcher thread of the resolver's own.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "sys/win/platform.hpp"
#include "sys/win/sim/kernel.hpp"
#include "sys/win/sim/resolution.hpp"
#include "util/locks.hpp"

namespace zelvane::sys::win::sim {

// What a reading call answers: its failure, or a copy of `value`.
template <class T>
struct Answer {
  bool ok = true;
  std::uint32_t last_error = 0;
  T value;

  CallResult copy_to(T& out) const {
    if (!ok) return {false, last_error};
    out = value;
    return {};
  }
};

// The reading calls' answers, from the start as on a fresh Windows: the current user's settings
// detect automatically and hold no strings, the default configuration is "no proxy".
struct Settings {
  Answer<IeProxyConfig> ie_config{true, 0, {true, std::nullopt, std::nullopt, std::nullopt}};
  Answer<ProxyInfo> default_proxy{true, 0, {kWinHttpAccessTypeNoProxy, std::nullopt, std::nullopt}};
  // Settings stored so far; each changes a registry value to this count, so that a watch sees it.
  std::uint32_t stored = 0;
};

class Resolver {
 public:
  // The dispatcher takes `mutex`, the lock of the simulation, which the other members expect
  // held; handles come from `kernel`.
  Resolver(Kernel& kernel, util::Mutex& mutex) : kernel_(kernel), mutex_(mutex) {}

  // The lock by the resolver's own name for it, the one its members need.
  util::Mutex& mutex() const RETURN_CAPABILITY(mutex_) { return mutex_; }

  // ---- the platform calls
  NetResult open(std::u16string_view agent, std::uint32_t access_type, std::uint32_t flags) REQUIRES(mutex_);
  CallResult set_timeouts(NetHandle session, std::array<std::int32_t, 4> timeouts) REQUIRES(mutex_);
  CallResult set_status_callback(NetHandle session, StatusSink sink, std::uint32_t notifications)
      REQUIRES(mutex_);
  std::uint32_t create_resolver(NetHandle session, NetHandle& resolver) REQUIRES(mutex_);
  std::uint32_t get_proxy_for_url(NetHandle resolver, std::u16string_view url,
                                  const AutoProxyOptions& options, std::uintptr_t context) REQUIRES(mutex_);
  std::uint32_t get_proxy_result(NetHandle resolver, ProxyResult& result) const REQUIRES(mutex_);
  CallResult close(NetHandle handle) REQUIRES(mutex_);

  // ---- the control side
  void script(Resolution resolution) REQUIRES(mutex_) { resolutions_.push_back(std::move(resolution)); }
  std::size_t scripted() const REQUIRES(mutex_) { return resolutions_.size(); }
  void forget_scripts() REQUIRES(mutex_) { resolutions_.clear(); }
  std::vector<SessionInfo> sessions() const REQUIRES(mutex_) { return sessions_; }
  std::vector<ResolutionRequest> requests() const REQUIRES(mutex_) { return requests_; }
  std::size_t live_sessions() const REQUIRES(mutex_);
  std::size_t live_resolvers() const REQUIRES(mutex_);
  std::size_t held_callbacks() const REQUIRES(mutex_) { return owed_.size(); }
  // Every callback owed, due now as REQUEST_ERROR with `error`.
  void fail_held(std::uint32_t error) REQUIRES(mutex_);
  // Returns, `lock` let go meanwhile, once every callback scheduled has been made.
  void settle(util::UniqueLock& lock) REQUIRES(mutex_);

  // ---- the end: every callback scheduled is due now, and the dispatcher ends once they are
  // made. The caller joins the dispatcher it is given, without the lock.
  [[nodiscard]] std::thread stop() REQUIRES(mutex_);

 private:
  // A session or a resolver.
  struct Net {
    bool session = false;
    std::size_t info = 0;  // a session's entry in sessions_
    StatusSink sink = nullptr;
    std::uint32_t notifications = 0;
    std::uintptr_t parent = 0;                                    // a resolver's session
    bool pending = false;                                         // a resolver's request awaits its callback
    std::optional<std::pair<std::uint32_t, ProxyResult>> answer;  // a resolver's answer, once in
  };
  // A callback owed for a pending request: scheduled for `due`, or held with no time.
  struct Owed {
    std::uintptr_t resolver = 0;
    std::uintptr_t context = 0;
    StatusSink sink = nullptr;
    std::uint32_t notifications = 0;
    Resolution script;
    std::optional<std::chrono::steady_clock::time_point> due;

    // Due now, as REQUEST_ERROR with `error` and nothing before it.
    void fail_now(std::uint32_t error);
    // As its script says (Resolution::OnClose).
    void resolver_closed();
  };

  // Wakes the dispatcher for a change of what is owed, starting it the first time.
  void schedule() REQUIRES(mutex_);
  // The kernel, which knows the lock by a reference of its own: Parts gives both the kernel and
  // the resolver the simulation's, so holding the resolver's is holding the kernel's.
  Kernel& kernel() const REQUIRES(mutex_) ASSERT_CAPABILITY(kernel().mutex()) { return kernel_; }
  // The dispatcher's thread: makes each callback once it is due, under the lock but for the
  // callbacks themselves.
  void dispatch() noexcept EXCLUDES(mutex_);
  // Calls the owed callback's sink: its extra notifications, then `status`. Without the lock:
  // a sink calls back into the platform, which takes it.
  void call_back(const Owed& owed, std::uint32_t status) const EXCLUDES(mutex_);

  Kernel& kernel_;
  util::Mutex& mutex_;

  // Shared by the platform calls and the control side, on any thread, and the dispatcher.
  std::map<std::uintptr_t, Net> nets_ GUARDED_BY(mutex_);  // by handle
  std::vector<SessionInfo> sessions_ GUARDED_BY(mutex_);
  std::vector<ResolutionRequest> requests_ GUARDED_BY(mutex_);
  std::deque<Resolution> resolutions_ GUARDED_BY(mutex_);
  std::map<std::uint64_t, Owed> owed_ GUARDED_BY(mutex_);  // in the order owed
  std::uint64_t last_owed_ GUARDED_BY(mutex_) = 0;
  std::size_t in_flight_ GUARDED_BY(mutex_) = 0;  // callbacks being made
  bool stopping_ GUARDED_BY(mutex_) = false;
  util::CondVar dispatch_changed_;  // the dispatcher's wake-up: a callback scheduled, or the end
  util::CondVar dispatched_;        // a callback made, or passed over
  // Started under the lock; joined by stop()'s caller, without it.
  std::thread dispatcher_ GUARDED_BY(mutex_);
};

}  // namespace zelvane::sys::win::sim
