// The process environment, as the variables the environment layer reads.
#pragma once

#include "py.hpp"

#include <memory>

#include "env/env.hpp"

namespace zelvane::python {

// The process environment in one consistent state; null with the Python error set.
std::shared_ptr<const env::EnvVars> copy_process_env();

}  // namespace zelvane::python
