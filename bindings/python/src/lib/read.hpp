// read(): its environment options (env, precedence) and the reading of the system.
#pragma once

#include "py.hpp"

#include <expected>
#include <optional>

#include "env/env.hpp"
#include "py_errors.hpp"

namespace zelvane::python {

using namespace env;
using namespace model;

struct ReadOptions {
  std::optional<EnvLayer> layer;  // none under "ignore"
  Precedence precedence = Precedence::BeforeSystem;
};

struct SystemReading {
  ProxyConfig config;
  bool os_readable;
};

std::expected<Precedence, BindingError> parse_precedence(const std::optional<std::string>& text);
std::expected<std::optional<EnvLayer>, BindingError> read_env_layer(const EnvVars* vars,
                                                                    Precedence precedence);
// Reads the system with the caller's thread detached from the interpreter. Unsupported is an
// empty configuration with os_readable false.
std::expected<SystemReading, BindingError> read_system_config();
ProxyConfig apply_env_layer(const ReadOptions& options, ProxyConfig config);

// Checks `precedence` (None or str) and copies `env` (None, or anything dict() takes) into a
// map of text; null with the Python error set when a check fails.
struct RawReadArgs {
  std::optional<std::string> precedence;
  std::optional<EnvVars> env;
};
std::optional<RawReadArgs> take_read_args(PyObject* env, PyObject* precedence);
// The rest of the option parsing: the precedence text and the environment layer.
std::optional<ReadOptions> read_options(const RawReadArgs& args);

extern PyMethodDef read_def;

}  // namespace zelvane::python
