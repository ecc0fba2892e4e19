// The options of one watch of the system's settings.
#pragma once

#include <optional>

#include "value/time.hpp"

namespace zelvane::watch {

using value::Duration;

struct WatchOptions {
  // Quiet time after a change or a poll tick before the backend reads again.
  Duration settle_delay = Duration::from_millis(200);
  // Re-read period; none means no timer.
  std::optional<Duration> poll_interval;
  // Read the machine's group-policy Internet Settings key (and watch its nearest ancestor).
  bool group_policy = true;
};

}  // namespace zelvane::watch
