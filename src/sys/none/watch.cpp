// A build without a system has nothing to watch: opening a watch answers Unsupported, as
// reading does, and the caller serves what it has without one.
#include "sys/watch.hpp"

namespace zelvane::sys {

model::Result<watch::WatchStream> open_system_watch(const watch::WatchOptions&) {
  return std::unexpected(model::Error(model::Error::Unsupported{}));
}

}  // namespace zelvane::sys
