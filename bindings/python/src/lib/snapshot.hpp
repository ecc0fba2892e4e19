// Snapshot: one reading of the proxy configuration, fixed at creation.
#pragma once

#include "py.hpp"

#include <memory>

#include "model/config.hpp"

namespace zelvane::python {

// What a Snapshot holds: the reading is shared with the Diagnostics made from it, which builds
// its texts only when asked.
struct SnapshotValue {
  std::shared_ptr<const model::ProxyConfig> config;
  bool os_readable;
};

PyTypeObject* snapshot_type();
// A new Snapshot owning the configuration, or null with the Python error set.
PyObject* new_snapshot(model::ProxyConfig config, bool os_readable);

}  // namespace zelvane::python
