// The registry watch backend's own parts, for notify.cpp and its tests: the keys it arms, how a
// stop reaches its thread, the waits and the loop of "zelvane-registry".
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "model/config.hpp"
#include "model/error.hpp"
#include "sys/win/notify/notify.hpp"
#include "sys/win/platform.hpp"
#include "sys/win/registry.hpp"
#include "sys/win/win32util.hpp"
#include "util/locks.hpp"
#include "watch/options.hpp"
#include "watch/state.hpp"

namespace zelvane::sys::win::notify {

inline constexpr std::string_view kUserKeyPath =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
inline constexpr std::string_view kMachineKeyPath =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
// The proper ancestors of the group-policy Internet Settings key, nearest first. Watching one
// with its subtree sees the policy key being created, changed or deleted.
inline constexpr std::array<std::string_view, 5> kPolicyAncestors = {
    "Software\\Policies\\Microsoft\\Windows\\CurrentVersion",
    "Software\\Policies\\Microsoft\\Windows",
    "Software\\Policies\\Microsoft",
    "Software\\Policies",
    "Software",
};
// A subkey added or deleted, a value set or deleted; the registration outlives the thread
// that made it (keys are armed at the opening and re-armed on the watch thread).
inline constexpr std::uint32_t kNotifyFilter =
    kRegNotifyChangeName | kRegNotifyChangeLastSet | kRegNotifyThreadAgnostic;
// The floor of the poll tick, and the ceiling of the settle delay.
inline constexpr std::uint32_t kPollFloorMs = 200;
inline constexpr std::uint64_t kSettleCeilingSecs = 86'400;
// A stop whose shutdown event cannot be set tries again at this pace, meanwhile watching for
// the thread's end, and gives up after the bound: the thread is then left to end by itself at
// its next wake (a change, a tick, a failed wait), when it sees the stop flag.
inline constexpr std::chrono::milliseconds kStopRetryEvery{10};
inline constexpr std::chrono::milliseconds kStopGiveUpAfter{1000};

// One armed key. Released in this order: the key, then its event.
struct WatchedKey {
  std::string_view path;  // as opened
  HandleGuard event;      // auto-reset
  RegKey key;
  model::SourceKind source;
  bool mandatory = false;  // the current user's key
};

// How a Watch stops its thread, shared by the two: the shutdown event (manual-reset), the stop
// flag that the thread reads at every wake and after every reading, so that a stop never rests
// on SetEvent alone, and the mark of the thread's end, which lets a stop wait for it with a
// bound. The last of the two owners to let go closes the event, so the thread never waits on
// a closed handle, even when a stop gave up on it.
class StopSignal {
 public:
  explicit StopSignal(HandleGuard shutdown) noexcept : shutdown_(std::move(shutdown)) {}
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  Handle shutdown() const { return shutdown_.get(); }
  void request() noexcept { requested_.store(true); }
  bool requested() const noexcept { return requested_.load(); }

  // The thread's last act on its own state: its keys and its share of the watch state are
  // released by then.
  void mark_ended() noexcept EXCLUDES(mutex_);
  // Whether the thread has ended, waiting for it at most the time given.
  bool wait_ended_for(std::chrono::milliseconds timeout) EXCLUDES(mutex_);

 private:
  HandleGuard shutdown_;
  std::atomic<bool> requested_{false};
  util::Mutex mutex_;
  util::CondVar ended_cv_;
  bool ended_ GUARDED_BY(mutex_) = false;
};

// The answer of one wait.
struct WaitOutcome {
  enum class Kind : std::uint8_t { Shutdown, KeyChanged, Timeout };
  Kind kind = Kind::Timeout;
  std::size_t index = 0;  // KeyChanged: the key's place in the list
};

// The wait of the main loop: INFINITE without a poll interval, else the interval in whole
// milliseconds, at least 200 and at most 0xFFFFFFFE (a long interval never becomes INFINITE).
std::uint32_t main_timeout_ms(const std::optional<value::Duration>& poll_interval);
// The settle delay, at most a day; no floor.
std::chrono::nanoseconds settle_time(value::Duration settle_delay);

// Shutdown (index 0), KeyChanged (1 to count - 1, as the key's index) or Timeout; a failed or
// unexpected wait is Error::Io "waiting for registry change notifications".
model::Result<WaitOutcome> wait_for_events(Platform& platform, std::span<const Handle> handles,
                                           std::uint32_t timeout_ms);

// Arms the first candidate under HKLM that opens, gets its event and arms; appends it. Every
// failure is dropped.
bool arm_first_existing_hklm_key(Platform& platform, std::vector<WatchedKey>& keys,
                                 std::span<const std::string_view> candidates, model::SourceKind source);

// Arms key i again after its notification. A failure is fatal (the answer) for the current
// user's key without a poll interval; otherwise the source is reported unwatched, and once no
// key is armed the notifications are reported lost.
std::optional<model::Error> rearm_key(Platform& platform, std::span<WatchedKey> keys,
                                      std::vector<bool>& armed, std::size_t i, bool has_poll_interval,
                                      watch::WatchState& state);

// The fatal error of a key that cannot be watched: what failed, the error's message, why it
// matters, and the way out; the first error is carried as its source.
model::Error watch_setup_error(std::string_view what, const model::Error& error, std::string_view why);

// The loop of the watch thread: nothing when shut down (the event set, or the stop flag seen
// at a wake or after a reading), or the error that ended it. The keys are released before it
// returns, however it ends.
std::optional<model::Error> registry_thread_loop(Platform& platform, const StopSignal& stop,
                                                 std::vector<WatchedKey> keys,
                                                 const watch::WatchOptions& options,
                                                 watch::WatchState& state);

// The body of "zelvane-registry": the loop under the guard that marks the end of the stream,
// its error queued last; then the end is marked on the stop signal.
void registry_thread_main(Platform& platform, std::shared_ptr<StopSignal> stop, std::vector<WatchedKey> keys,
                          watch::WatchOptions options, std::shared_ptr<watch::WatchState> state) noexcept;

}  // namespace zelvane::sys::win::notify
