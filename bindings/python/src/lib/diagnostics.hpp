// Diagnostics: where a snapshot's answer came from, without addresses or credentials.
#pragma once

#include "py.hpp"

#include <memory>

#include "model/config.hpp"

namespace zelvane::python {

PyTypeObject* diagnostics_type();
// A new Diagnostics of the reading, or null with the Python error set.
PyObject* new_diagnostics(std::shared_ptr<const model::ProxyConfig> config, bool os_readable);

}  // namespace zelvane::python
