// The registry watch backend: follows the Windows proxy configuration over time.
//
// Opening a watch arms registry change notifications on up to three keys (the current user's
// Internet Settings, the nearest existing ancestor of the group-policy key, the machine's
// Internet Settings), reads the configuration once into a new watch state and starts the
// "zelvane-registry" thread. The thread waits for a notification, an optional poll tick or the
// shutdown; after a change or a tick it lets a settle delay absorb the burst, reads the whole
// configuration again and publishes it (or queues the reading's error).
//
// Without a poll interval, failing to arm or re-arm the current user's key is fatal: it is the
// one source Windows always has, and nothing else would notice its changes. Failing to arm any
// other key never is. With a poll interval no arming failure is fatal: the tick covers what
// cannot be watched.
//
// Every system call goes through the platform interface; the decisions are plain code here.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "model/error.hpp"
#include "model/source.hpp"
#include "sys/win/platform.hpp"
#include "threads/thread.hpp"
#include "watch/options.hpp"
#include "watch/state.hpp"

namespace zelvane::sys::win::notify {

inline constexpr std::string_view kThreadName = "zelvane-registry";

// The backend's own parts (notify_internal.hpp): one armed key, and how a stop reaches the thread.
struct WatchedKey;
class StopSignal;

// The backend of one watch. Destroying it stops the thread, waits for it, and closes what is
// left.
class Watch final : public watch::WatchBackend {
 public:
  // The shutdown event and the armed keys; no thread yet.
  static model::Result<std::unique_ptr<Watch>> create(Platform& platform, const watch::WatchOptions& options);
  ~Watch() override;
  Watch(const Watch&) = delete;
  Watch& operator=(const Watch&) = delete;

  // Starts the thread, which takes the keys. Called once per watch: a second call is a
  // programming error that ends the process.
  model::Result<void> spawn(const watch::WatchOptions& options, std::shared_ptr<watch::WatchState> state);
  // Raises the stop flag, sets the shutdown event and waits for the thread; a change being
  // settled is not read. When the event cannot be set, it tries again every kStopRetryEvery
  // while watching for the thread's end, and after kStopGiveUpAfter lets the thread go: it
  // ends by itself at its next wake, reading and publishing nothing more, and closes the event
  // then. Calling it again only raises the flag and sets the event again.
  void stop() noexcept;

  // The sources whose key could not be armed at the opening, in the order they are armed.
  const std::vector<model::SourceKind>& unwatched() const { return unwatched_; }
  std::size_t armed_count() const { return armed_count_; }

 private:
  explicit Watch(Platform& platform);

  Platform* platform_;
  std::vector<model::SourceKind> unwatched_;
  std::vector<WatchedKey> keys_;      // until the thread takes them
  std::shared_ptr<StopSignal> stop_;  // with the thread, which may outlive a stop that gave up
  std::size_t armed_count_ = 0;
  bool spawned_ = false;
  ThreadHandle thread_;
};

// Opens a watch: arms the keys, reads the configuration (a change made meanwhile is seen by
// the first wait), makes the state with that reading and starts the thread.
model::Result<watch::WatchStream> open_watch_stream(Platform& platform, const watch::WatchOptions& options);
// The same on this build's platform.
model::Result<watch::WatchStream> open_system_watch(const watch::WatchOptions& options);

}  // namespace zelvane::sys::win::notify
