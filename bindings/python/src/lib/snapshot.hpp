// Snapshot: one reading of the proxy configuration, fixed at creation.
#pragma once

#include "py.hpp"

#include "model/config.hpp"

namespace zelvane::python {

using namespace model;

// What a Snapshot holds.
struct SnapshotValue {
  ProxyConfig config;
  bool os_readable;
};

PyTypeObject* snapshot_type();
// A new Snapshot owning the configuration, or null with the Python error set.
PyObject* new_snapshot(ProxyConfig config, bool os_readable);

}  // namespace zelvane::python
