// The environment layer of the thread's last reading, kept with the variables it was read
// from: a program reads the same environment over and over, and the same variables make the
// same layer.
#pragma once

#include <memory>

#include "env/env.hpp"

namespace zelvane::python {

// Whether variables are small enough to be kept for a later reading; a large environment is
// never kept, here or by the copy of a dict it came from.
bool small_enough_to_keep(const env::EnvVars& vars);

// The layer kept for these very variables (the same map taken from an unchanged dict) or
// equal ones; null when there is none.
std::shared_ptr<env::EnvLayer> kept_layer(const env::EnvVars& vars);
// Keeps the layer read from the variables, in place of the thread's last one.
void keep_layer(std::shared_ptr<const env::EnvVars> vars, const std::shared_ptr<env::EnvLayer>& layer);

}  // namespace zelvane::python
