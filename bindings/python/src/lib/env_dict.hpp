// The copy of a caller's `env` mapping into variables, and the cache that lets a dict read
// again unchanged skip its lock.
#pragma once

#include "py.hpp"

#include <memory>

#include "env/env.hpp"

namespace zelvane::python {

// `env` (anything dict() takes) as a map of text, keeping only the names the environment layer
// reads (env::is_read_name); null with the Python error set when dict() or an entry refuses.
std::shared_ptr<const env::EnvVars> copy_env(PyObject* env);

// The converter of an `env` argument: None leaves it out (the process environment is read).
bool env_vars(PyObject* given, std::shared_ptr<const env::EnvVars>& out, const char* name);

// Registers the watcher through which an unchanged `env` dict is read again without its lock;
// called once the module is made (the module lives in the main interpreter alone).
int watch_env_dicts();

}  // namespace zelvane::python
