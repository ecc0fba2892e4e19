// Watching the system's proxy configuration: the one entry every build has. The Windows build
// watches the registry (src/sys/win/notify); a build without a system answers Unsupported
// (src/sys/none), and the module then watches nothing.
#pragma once

#include "model/error.hpp"
#include "watch/options.hpp"
#include "watch/state.hpp"

namespace zelvane::sys {

// A running watch, its first reading already current; or the error that kept it from opening.
model::Result<watch::WatchStream> open_system_watch(const watch::WatchOptions& options);

}  // namespace zelvane::sys
