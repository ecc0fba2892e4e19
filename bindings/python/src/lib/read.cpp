#include "read.hpp"

#include <exception>
#include <string>

#include "value/debug.hpp"
#include "detached.hpp"
#include "py_entry.hpp"
#include "snapshot.hpp"
#include "sys/reader.hpp"
#include "util/utf8.hpp"

namespace zelvane::python {
namespace {

// A value that cannot be encoded (a lone surrogate) is taken lossily: encoded keeping its
// surrogates, then each invalid sequence becomes U+FFFD. Null with the error set otherwise.
std::optional<std::string> lossy_value(PyObject* value) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size)) {
    return std::string(utf8, static_cast<std::size_t>(size));
  }
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return std::nullopt;
  PyErr_Clear();
  PyRef bytes(PyUnicode_AsEncodedString(value, "utf-8", "surrogatepass"));
  if (!bytes) return std::nullopt;
  return util::utf8_lossy(std::string_view(PyBytes_AS_STRING(bytes.get()),
                                           static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get()))));
}

// Copies the dict's pairs; the first offending entry decides. Runs inside the dict's
// critical section.
bool copy_pairs(PyObject* dict, EnvVars& vars) {
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) {
      PyErr_Format(PyExc_TypeError, "env keys must be str, not %s", Py_TYPE(key)->tp_name);
      return false;
    }
    if (!PyUnicode_Check(value)) {
      PyErr_Format(PyExc_TypeError, "env values must be str, not %s", Py_TYPE(value)->tp_name);
      return false;
    }
    Py_ssize_t key_size = 0;
    const char* key_utf8 = PyUnicode_AsUTF8AndSize(key, &key_size);
    if (key_utf8 == nullptr) {
      if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return false;
      // A name holding a lone surrogate can name no variable of ours: left out.
      PyErr_Clear();
      continue;
    }
    auto text = lossy_value(value);
    if (!text) return false;
    vars.insert_or_assign(std::string(key_utf8, static_cast<std::size_t>(key_size)), std::move(*text));
  }
  return true;
}

std::optional<EnvVars> copy_env(PyObject* env) {
  // The module's own dict: nothing else changes it while it is read.
  PyRef dict(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyDict_Type), env));
  if (!dict) return std::nullopt;
  EnvVars vars;
  bool ok = false;
  std::exception_ptr failure;
  Py_BEGIN_CRITICAL_SECTION(dict.get());
  // Nothing may unwind past the end of the section: it would leave the thread's section stack
  // pointing into this frame.
  try {
    ok = copy_pairs(dict.get(), vars);
  } catch (const std::exception&) {
    failure = std::current_exception();
  }
  Py_END_CRITICAL_SECTION();
  if (failure) std::rethrow_exception(failure);
  if (!ok) return std::nullopt;
  return vars;
}

#ifndef _WIN32
// The process environment as the interpreter's os.environ holds it. Walking the C `environ`
// cannot be made safe: setenv() on another thread may move or free it mid-walk, and nothing
// locks it. os.environ's own dict (bytes to bytes on POSIX) is copied in one step under its
// lock, so the reading sees one state that some writer left. A program that replaced
// os.environ with another mapping gets that mapping read as `env` would be.
std::optional<EnvVars> copy_process_env() {
  PyRef os(PyImport_ImportModule("os"));
  if (!os) return std::nullopt;
  PyRef environ(PyObject_GetAttrString(os.get(), "environ"));
  if (!environ) return std::nullopt;
  PyRef data(PyObject_GetAttrString(environ.get(), "_data"));
  if (!data) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return std::nullopt;
    PyErr_Clear();
  }
  if (!data || !PyDict_Check(data.get())) return copy_env(environ.get());
  PyRef copy(PyDict_Copy(data.get()));
  if (!copy) return std::nullopt;
  // The copy is ours alone: no other thread can reach it.
  EnvVars vars;
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(copy.get(), &pos, &key, &value)) {
    if (!PyBytes_Check(key) || !PyBytes_Check(value)) continue;
    std::string_view name(PyBytes_AS_STRING(key), static_cast<std::size_t>(PyBytes_GET_SIZE(key)));
    if (!util::is_valid_utf8(name)) continue;
    std::string_view text(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
    vars.emplace(std::string(name), util::utf8_lossy(text));
  }
  return vars;
}
#endif

PyObject* read_impl(PyObject* /*module*/, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"env", "precedence", nullptr};
  PyObject* env = Py_None;
  PyObject* precedence = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|$OO:read", const_cast<char**>(keywords), &env,
                                   &precedence)) {
    return nullptr;
  }
  auto raw = take_read_args(env, precedence);
  if (!raw) return nullptr;
  auto options = read_options(*raw);
  if (!options) return nullptr;

  auto reading = run_detached([] { return read_system_config(); });
  if (!reading) return to_py_err(reading.error());

  ProxyConfig merged = apply_env_layer(*options, std::move(reading->config));
  return new_snapshot(std::move(merged), reading->os_readable);
}

PyObject* read_entry(PyObject* module, PyObject* args, PyObject* kwargs) {
  return guarded([&] { return read_impl(module, args, kwargs); });
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
  return env::merge(std::move(config), *options.layer, options.precedence);
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
  const EnvVars* vars = args.env ? &*args.env : nullptr;
#ifndef _WIN32
  std::optional<EnvVars> process;
  if (vars == nullptr && *precedence != Precedence::Ignore) {
    process = copy_process_env();
    if (!process) return std::nullopt;
    vars = &*process;
  }
#endif
  auto layer = read_env_layer(vars, *precedence);
  if (!layer) {
    to_py_err(layer.error());
    return std::nullopt;
  }
  return ReadOptions{std::move(*layer), *precedence};
}

PyMethodDef read_def = {
    "read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_entry)),
    METH_VARARGS | METH_KEYWORDS,
    "read(*, env=None, precedence=None)\n--\n\nRead the OS settings and the environment once.\n\n"
    "`env` is the mapping to read `*_proxy` from, `os.environ` when omitted. `precedence`\n"
    "is `\"before-system\"` (the default), `\"after-system\"` or `\"ignore\"`."};

}  // namespace zelvane::python
