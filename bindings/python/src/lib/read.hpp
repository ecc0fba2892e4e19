// read(): its environment options (env, precedence) and the reading of the system.
#pragma once

#include "py.hpp"

#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "env/env.hpp"
#include "py_errors.hpp"

namespace zelvane::python {

struct ReadOptions {
  // None under "ignore". A layer may be shared with other readings of the same variables: it
  // is never changed once made.
  std::shared_ptr<env::EnvLayer> layer;
  env::Precedence precedence = env::Precedence::BeforeSystem;
  value::WallTime taken;  // when the variables were read
};

struct SystemReading {
  model::ProxyConfig config;
  bool os_readable;
};

std::expected<env::Precedence, BindingError> parse_precedence(const std::optional<std::string>& text);
std::expected<std::optional<env::EnvLayer>, BindingError> read_env_layer(const env::EnvVars* vars,
                                                                         env::Precedence precedence);
// Reads the system with the caller's thread detached from the interpreter. Unsupported is an
// empty configuration with os_readable false.
std::expected<SystemReading, BindingError> read_system_config();
model::ProxyConfig apply_env_layer(const ReadOptions& options, model::ProxyConfig config);
// The same, moving the layer's lists into the configuration where nothing else holds the layer.
model::ProxyConfig apply_env_layer(ReadOptions&& options, model::ProxyConfig config);

// `env` and `precedence` as their converters left them (env_vars, lossy_text_or_none): read()
// and watch() take them alike, the precedence's type before the copy of `env`.
struct ReadArgs {
  std::optional<std::string> precedence;
  std::shared_ptr<const env::EnvVars> env;  // none for the process environment
};
// The rest of the option parsing: the precedence text and the environment layer; none with the
// Python error set.
std::optional<ReadOptions> read_options(const ReadArgs& args);

extern PyMethodDef read_def;

}  // namespace zelvane::python
