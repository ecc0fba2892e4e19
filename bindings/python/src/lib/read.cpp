#include "read.hpp"

#include <memory>
#include <string>
#include <utility>

#include "detached.hpp"
#include "env_dict.hpp"
#include "layer_cache.hpp"
#include "process_env.hpp"
#include "py_args.hpp"
#include "py_entry.hpp"
#include "snapshot.hpp"
#include "sys/reader.hpp"

namespace zelvane::python {

using namespace env;
using namespace model;
using namespace value;

namespace {

using ReadParam = Param<ReadArgs>;
constexpr Signature kReadSignature{
    "read",
    {
        ReadParam::of<&ReadArgs::env, env_vars>("env", Pass::Name),
        ReadParam::of<&ReadArgs::precedence, lossy_text_or_none>("precedence", Pass::Name),
    },
    {"precedence", "env"}};

// Called with its arguments in place: no tuple or dict made for them on every reading.
PyObject* read_impl(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  ReadArgs raw;
  if (!bind<kReadSignature>(args, nargs, kwnames, raw)) return nullptr;
  auto options = read_options(raw);
  if (!options) return nullptr;

  // Without a system reader nothing is asked of the system, so nothing is worth detaching for.
  auto reading = sys::has_system_reader() ? run_detached([] { return read_system_config(); })
                                          : read_system_config();
  if (!reading) return to_py_err(reading.error());

  ProxyConfig merged = apply_env_layer(std::move(*options), std::move(reading->config));
  return new_snapshot(std::move(merged), reading->os_readable);
}

PyObject* read_entry(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] { return read_impl(args, nargs, kwnames); });
}

}  // namespace

std::expected<Precedence, BindingError> parse_precedence(const std::optional<std::string>& text) {
  if (!text) return Precedence::BeforeSystem;
  if (*text == "before-system") return Precedence::BeforeSystem;
  if (*text == "after-system") return Precedence::AfterSystem;
  if (*text == "ignore") return Precedence::Ignore;
  return std::unexpected(BindingError{"unknown precedence " + quoted_argument(*text), kErrInvalidArgValue});
}

std::expected<std::optional<EnvLayer>, BindingError> read_env_layer(const EnvVars* vars,
                                                                    Precedence precedence) {
  if (precedence == Precedence::Ignore) return std::optional<EnvLayer>();
  auto layer = vars ? env::read_env_map(*vars) : env::read_process_env();
  if (!layer) return std::unexpected(error_parts(layer.error()));
  return std::optional<EnvLayer>(std::move(*layer));
}

std::expected<SystemReading, BindingError> read_system_config() {
  auto config = sys::read_system();
  if (config) return SystemReading{std::move(*config), true};
  if (config.error().get_if<Error::Unsupported>()) return SystemReading{ProxyConfig::empty(), false};
  return std::unexpected(error_parts(config.error()));
}

ProxyConfig apply_env_layer(const ReadOptions& options, ProxyConfig config) {
  if (!options.layer) return config;
  return env::merge(std::move(config), *options.layer, options.precedence, options.taken);
}

ProxyConfig apply_env_layer(ReadOptions&& options, ProxyConfig config) {
  // Held nowhere else (the thread's kept layer would count), so its lists can move.
  if (options.layer && options.layer.use_count() == 1) {
    return env::merge(std::move(config), std::move(*options.layer), options.precedence);
  }
  return apply_env_layer(std::as_const(options), std::move(config));
}

std::optional<ReadOptions> read_options(const ReadArgs& args) {
  auto precedence = parse_precedence(args.precedence);
  if (!precedence) {
    to_py_err(precedence.error());
    return std::nullopt;
  }
  if (*precedence == Precedence::Ignore) return ReadOptions{nullptr, *precedence, WallTime::now()};
  std::shared_ptr<const EnvVars> vars = args.env;
  if (!vars) {
    vars = copy_process_env();
    if (!vars) return std::nullopt;
  }
  if (vars) {
    if (auto layer = kept_layer(*vars)) return ReadOptions{std::move(layer), *precedence, WallTime::now()};
  }
  auto layer = read_env_layer(vars.get(), *precedence);
  if (!layer) {
    to_py_err(layer.error());
    return std::nullopt;
  }
  auto shared = std::make_shared<EnvLayer>(std::move(**layer));
  const WallTime taken = shared->captured_at;
  if (vars) keep_layer(std::move(vars), shared);
  return ReadOptions{std::move(shared), *precedence, taken};
}

PyMethodDef read_def = {
    "read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "read(*, env=None, precedence=None)\n--\n\nRead the OS settings and the environment once.\n\n"
    "`env` is the mapping to read `*_proxy` from, `os.environ` when omitted. `precedence`\n"
    "is `\"before-system\"` (the default), `\"after-system\"` or `\"ignore\"`."};

}  // namespace zelvane::python
