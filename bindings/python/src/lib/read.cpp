#include "read.hpp"

#include <memory>
#include <string>
#include <utility>

#include "detached.hpp"
#include "env_dict.hpp"
#include "layer_cache.hpp"
#include "process_env.hpp"
#include "py_entry.hpp"
#include "snapshot.hpp"
#include "sys/reader.hpp"

namespace zelvane::python {
namespace {

// The arguments' own errors, raised as the argument parser words them (with its suggestion of
// a near keyword): made only for a call that is wrong.
PyObject* raise_argument_error(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  PyRef tuple(PyTuple_New(nargs));
  if (!tuple) return nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
  PyRef kwargs(PyDict_New());
  if (!kwargs) return nullptr;
  const Py_ssize_t count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (PyDict_SetItem(kwargs.get(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) return nullptr;
  }
  static const char* keywords[] = {"env", "precedence", nullptr};
  PyObject* env = nullptr;
  PyObject* precedence = nullptr;
  if (PyArg_ParseTupleAndKeywords(tuple.get(), kwargs.get(), "|$OO:read", const_cast<char**>(keywords), &env,
                                  &precedence)) {
    PyErr_SetString(PyExc_SystemError, "read(): arguments refused without a reason");
  }
  return nullptr;
}

PyObject* read_impl(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  // Called with its arguments in place: no tuple or dict made for them on every reading.
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs != 0) return raise_argument_error(args, nargs, kwnames);
  PyObject* env = Py_None;
  PyObject* precedence = Py_None;
  const Py_ssize_t count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* name = PyTuple_GET_ITEM(kwnames, i);
    if (PyUnicode_CompareWithASCIIString(name, "env") == 0) {
      env = args[i];
    } else if (PyUnicode_CompareWithASCIIString(name, "precedence") == 0) {
      precedence = args[i];
    } else {
      return raise_argument_error(args, nargs, kwnames);
    }
  }
  auto raw = take_read_args(env, precedence);
  if (!raw) return nullptr;
  auto options = read_options(*raw);
  if (!options) return nullptr;

  auto reading = run_detached([] { return read_system_config(); });
  if (!reading) return to_py_err(reading.error());

  ProxyConfig merged = apply_env_layer(std::move(*options), std::move(reading->config));
  return new_snapshot(std::move(merged), reading->os_readable);
}

PyObject* read_entry(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&] { return read_impl(module, args, nargsf, kwnames); });
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

std::optional<RawReadArgs> take_read_args(PyObject* env, PyObject* precedence) {
  RawReadArgs raw;
  if (precedence != Py_None) {
    if (!PyUnicode_Check(precedence)) {
      PyErr_Format(PyExc_TypeError, "argument 'precedence' must be str or None, not %s",
                   Py_TYPE(precedence)->tp_name);
      return std::nullopt;
    }
    auto text = lossy_value(precedence);
    if (!text) return std::nullopt;
    raw.precedence = std::move(*text);
  }
  if (env != Py_None) {
    raw.env = copy_env(env);
    if (!raw.env) return std::nullopt;
  }
  return raw;
}

std::optional<ReadOptions> read_options(const RawReadArgs& args) {
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
