#include "sys/win/notify/notify.hpp"

#include "sys/win/notify/notify_internal.hpp"

#include "sys/watch.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <utility>

#include "sys/win/reader.hpp"

namespace zelvane::sys::win::notify {

using namespace model;
using value::Duration;
using watch::WatchOptions;

namespace {

constexpr std::string_view kRegisteringContext = "registering a registry change notification";
constexpr std::string_view kEventContext = "creating a registry notification event";
constexpr std::string_view kWaitContext = "waiting for registry change notifications";
constexpr std::string_view kOpenWhat = "opening or arming HKCU Internet Settings for notifications";
constexpr std::string_view kRearmWhat = "re-arming HKCU Internet Settings for notifications";
constexpr std::string_view kMandatoryWhy =
    "HKCU is Windows' only mandatory proxy configuration source, with no fallback route this backend can use "
    "instead";
constexpr std::uint32_t kLongestWaitMs = 0xFFFFFFFE;

std::uint32_t arm(Platform& platform, const WatchedKey& key) {
  return platform.reg_notify_change_key_value(key.key.hkey(), true, kNotifyFilter, key.event.get(), true);
}

// The current user's key: armed and appended (true), missing (false), or the error.
Result<bool> arm_user_key(Platform& platform, std::vector<WatchedKey>& keys) {
  auto opened = RegKey::open(platform, kHkeyCurrentUser, kUserKeyPath, kKeyNotify,
                             "opening HKCU Internet Settings key for notifications");
  if (!opened) return std::unexpected(std::move(opened.error()));
  if (!*opened) return false;
  auto event = create_event(platform, false, kEventContext);
  if (!event) return std::unexpected(std::move(event.error()));
  WatchedKey key{kUserKeyPath, std::move(*event), std::move(**opened), SourceKind::Registry, true};
  if (const std::uint32_t status = arm(platform, key); status != kErrorSuccess) {
    return std::unexpected(io_error_from_win32(kRegisteringContext, status));
  }
  keys.push_back(std::move(key));
  return true;
}

}  // namespace

std::uint32_t main_timeout_ms(const std::optional<Duration>& poll_interval) {
  if (!poll_interval) return kInfinite;
  return static_cast<std::uint32_t>(
      std::max<std::uint64_t>(poll_interval->millis_at_most(kLongestWaitMs), kPollFloorMs));
}

std::chrono::nanoseconds settle_time(Duration settle_delay) {
  constexpr Duration kCeiling{kSettleCeilingSecs, 0};
  // A day, and what nanoseconds may add to a shorter one, always fit the clock's count.
  return std::min(settle_delay, kCeiling).to_nanoseconds().value_or(std::chrono::seconds(kSettleCeilingSecs));
}

Result<WaitOutcome> wait_for_events(Platform& platform, std::span<const Handle> handles,
                                    std::uint32_t timeout_ms) {
  const WaitResult result = platform.wait_any(handles, timeout_ms);
  if (result.code == kWaitObject0) return WaitOutcome{WaitOutcome::Kind::Shutdown, 0};
  if (result.code > kWaitObject0 && result.code - kWaitObject0 < handles.size()) {
    return WaitOutcome{WaitOutcome::Kind::KeyChanged, result.code - kWaitObject0 - 1};
  }
  if (result.code == kWaitTimeout) return WaitOutcome{WaitOutcome::Kind::Timeout, 0};
  if (result.code == kWaitFailed) {
    return std::unexpected(io_error_from_hresult(kWaitContext, hresult_from_win32(result.last_error)));
  }
  return std::unexpected(Error::io(kWaitContext, OsError::other("unexpected wait result WAIT_EVENT(" +
                                                                std::to_string(result.code) + ")")));
}

bool arm_first_existing_hklm_key(Platform& platform, std::vector<WatchedKey>& keys,
                                 std::span<const std::string_view> candidates, SourceKind source) {
  for (std::string_view path : candidates) {
    auto opened = RegKey::open(platform, kHkeyLocalMachine, path, kKeyNotify,
                               "opening HKLM Internet Settings key for notifications");
    if (!opened || !*opened) continue;
    auto event = create_event(platform, false, kEventContext);
    if (!event) continue;
    WatchedKey key{path, std::move(*event), std::move(**opened), source, false};
    if (arm(platform, key) != kErrorSuccess) continue;
    keys.push_back(std::move(key));
    return true;
  }
  return false;
}

std::optional<Error> rearm_key(Platform& platform, std::span<WatchedKey> keys, std::vector<bool>& armed,
                               std::size_t i, bool has_poll_interval, watch::WatchState& state) {
  const WatchedKey& key = keys[i];
  const std::uint32_t status = arm(platform, key);
  if (status == kErrorSuccess) return std::nullopt;
  Error error = io_error_from_win32(kRegisteringContext, status);
  if (!has_poll_interval && key.mandatory) return watch_setup_error(kRearmWhat, error, kMandatoryWhy);
  // The key's event stays in the wait, never to be set again; nothing is retried.
  state.add_unwatched(key.source);
  armed[i] = false;
  if (std::none_of(armed.begin(), armed.end(), [](bool a) { return a; })) state.mark_notifications_lost();
  return std::nullopt;
}

Error watch_setup_error(std::string_view what, const Error& error, std::string_view why) {
  std::string context(what);
  context += " failed (";
  context += error.message();
  context += "), and ";
  context += why;
  context += "; set WatchOptions::poll_interval to fall back to polling and continue anyway";
  return Error::io(context, OsError::wrapping(error));
}

void StopSignal::mark_ended() noexcept {
  {
    util::MutexLock lock(mutex_);
    ended_ = true;
  }
  ended_cv_.notify_all();
}

bool StopSignal::wait_ended_for(std::chrono::milliseconds timeout) {
  util::UniqueLock lock(mutex_);
  return ended_cv_.wait_for(lock, timeout, [this]() REQUIRES(mutex_) { return ended_; });
}

std::optional<Error> registry_thread_loop(Platform& platform, const StopSignal& stop,
                                          std::vector<WatchedKey> keys, const WatchOptions& options,
                                          watch::WatchState& state) {
  // The shutdown comes first, so that it wins over a notification set at the same moment.
  std::vector<Handle> handles;
  handles.reserve(keys.size() + 1);
  handles.push_back(stop.shutdown());
  for (const WatchedKey& key : keys) handles.push_back(key.event.get());
  std::vector<bool> armed(keys.size(), true);
  const std::uint32_t main_timeout = main_timeout_ms(options.poll_interval);
  const std::chrono::nanoseconds settle = settle_time(options.settle_delay);
  const bool has_poll_interval = options.poll_interval.has_value();

  // The stop flag is read at every wake and before every wait but the first: a stop whose
  // event could not be set ends the loop at the next wake all the same, with nothing more read
  // or published, and one that came during a reading ends it before it waits again.
  for (;;) {
    auto woken = wait_for_events(platform, handles, main_timeout);
    if (stop.requested()) return std::nullopt;
    if (!woken) return std::move(woken.error());
    if (woken->kind == WaitOutcome::Kind::Shutdown) return std::nullopt;
    // A fatal re-arm ends the watch only after the reading of this change is published.
    std::optional<Error> fatal;
    if (woken->kind == WaitOutcome::Kind::KeyChanged) {
      fatal = rearm_key(platform, keys, armed, woken->index, has_poll_interval, state);
    }

    // Further changes inside the delay are absorbed (their keys re-armed); they do not move it.
    const auto deadline = platform.monotonic_now() + settle;
    for (;;) {
      const auto now = platform.monotonic_now();
      if (now >= deadline) break;
      const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      const auto timeout = static_cast<std::uint32_t>(std::min<std::int64_t>(remaining, kLongestWaitMs));
      auto during = wait_for_events(platform, handles, timeout);
      if (stop.requested()) return std::nullopt;
      if (!during) return std::move(during.error());
      if (during->kind == WaitOutcome::Kind::Shutdown) return std::nullopt;
      if (during->kind == WaitOutcome::Kind::Timeout) break;
      std::optional<Error> again = rearm_key(platform, keys, armed, during->index, has_poll_interval, state);
      if (again && !fatal) fatal = std::move(again);
    }

    if (stop.requested()) return std::nullopt;
    if (auto reading = read_windows_config(platform, ReadOptions{options.group_policy})) {
      state.publish(std::move(*reading));
    } else {
      state.push_error(std::move(reading.error()));
    }
    if (fatal) return fatal;
    if (stop.requested()) return std::nullopt;
  }
}

void registry_thread_main(Platform& platform, std::shared_ptr<StopSignal> stop, std::vector<WatchedKey> keys,
                          WatchOptions options, std::shared_ptr<watch::WatchState> state) noexcept {
  try {
    watch::BackendThreadGuard guard(state);
    if (std::optional<Error> error =
            registry_thread_loop(platform, *stop, std::move(keys), options, *state)) {
      state->push_error(std::move(*error));
    }
    guard.release();
  } catch (const std::exception&) {
    // The guard recorded the failure and ended the stream on its way out.
  }
  state.reset();
  stop->mark_ended();
}

Result<std::unique_ptr<Watch>> Watch::create(Platform& platform, const WatchOptions& options) {
  std::unique_ptr<Watch> watch(new Watch(platform));
  auto shutdown = create_event(platform, true, "creating the zelvane shutdown event");
  if (!shutdown) return std::unexpected(std::move(shutdown.error()));
  watch->stop_ = std::make_shared<StopSignal>(std::move(*shutdown));

  if (auto user = arm_user_key(platform, watch->keys_); !user) {
    if (!options.poll_interval)
      return std::unexpected(watch_setup_error(kOpenWhat, user.error(), kMandatoryWhy));
    watch->unwatched_.push_back(SourceKind::Registry);
  } else if (!*user) {
    watch->unwatched_.push_back(SourceKind::Registry);
  }
  if (options.group_policy &&
      !arm_first_existing_hklm_key(platform, watch->keys_, kPolicyAncestors, SourceKind::GroupPolicy)) {
    watch->unwatched_.push_back(SourceKind::GroupPolicy);
  }
  const std::string_view machine[] = {kMachineKeyPath};
  if (!arm_first_existing_hklm_key(platform, watch->keys_, machine, SourceKind::WinHttpDefault)) {
    watch->unwatched_.push_back(SourceKind::WinHttpDefault);
  }
  watch->armed_count_ = watch->keys_.size();
  return watch;
}

Watch::Watch(Platform& platform) : platform_(&platform) {}

Watch::~Watch() { stop(); }

Result<void> Watch::spawn(const WatchOptions& options, std::shared_ptr<watch::WatchState> state) {
  if (spawned_) {
    std::fputs("Watch::spawn must be called exactly once\n", stderr);
    std::abort();
  }
  spawned_ = true;
  Platform& platform = *platform_;
  // The keys go with the body: an unstarted body releases them.
  auto started = platform.spawn_thread(kThreadName, [&platform, stop = stop_, keys = std::exchange(keys_, {}),
                                                     options, state = std::move(state)]() mutable {
    registry_thread_main(platform, std::move(stop), std::move(keys), std::move(options), std::move(state));
  });
  if (!started) {
    const SpawnError& e = started.error();
    OsError source = e.code != 0 ? OsError{e.code, e.text, nullptr} : OsError::other(e.text);
    return std::unexpected(Error::io("spawning the zelvane registry thread", std::move(source)));
  }
  thread_ = std::move(*started);
  return {};
}

void Watch::stop() noexcept {
  ThreadHandle thread = std::move(thread_);
  if (!stop_) {
    thread.join();
    return;
  }
  // The flag first: the thread reads it at its next wake, however it is woken.
  stop_->request();
  bool woken = platform_->set_event(stop_->shutdown()).ok;
  if (!thread.joinable()) return;
  // SetEvent failed: try again at a steady pace until it works or the thread has ended by
  // itself (a change or a tick woke it, or it was between two waits), for a bounded time.
  try {
    const auto give_up = std::chrono::steady_clock::now() + kStopGiveUpAfter;
    while (!woken && std::chrono::steady_clock::now() < give_up) {
      if (stop_->wait_ended_for(kStopRetryEvery)) break;
      woken = platform_->set_event(stop_->shutdown()).ok;
    }
    if (woken || stop_->wait_ended_for(std::chrono::milliseconds(0))) {
      thread.join();
      return;
    }
  } catch (const std::exception&) {
    // A clock or a lock that failed: let the thread go as below.
  }
  // Left to end by itself: it holds its own share of the stop signal, its keys and the watch
  // state, reads and publishes nothing more, and closes the event when it lets go.
  thread.let_go();
}

Result<watch::WatchStream> open_watch_stream(Platform& platform, const WatchOptions& options) {
  auto watch = Watch::create(platform, options);
  if (!watch) return std::unexpected(std::move(watch.error()));
  // The keys are armed already: a change made while this runs is seen by the first wait.
  auto reading = read_windows_config(platform, ReadOptions{options.group_policy});
  if (!reading) return std::unexpected(std::move(reading.error()));
  auto state = std::make_shared<watch::WatchState>(std::move(*reading));
  if (auto spawned = (*watch)->spawn(options, state); !spawned)
    return std::unexpected(std::move(spawned.error()));
  state->set_backend({(*watch)->unwatched(), options.poll_interval, (*watch)->armed_count() > 0});
  return watch::WatchStream(std::move(state), std::move(*watch));
}

Result<watch::WatchStream> open_system_watch(const WatchOptions& options) {
  return open_watch_stream(default_platform(), options);
}

}  // namespace zelvane::sys::win::notify

namespace zelvane::sys {

model::Result<watch::WatchStream> open_system_watch(const watch::WatchOptions& options) {
  return win::notify::open_system_watch(options);
}

}  // namespace zelvane::sys
