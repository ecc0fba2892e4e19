#include "read.hpp"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

// The pairs of a dict that the layer reads, taken inside the dict's critical section: the
// ASCII texts copied into one buffer reserved beforehand, any other value held by reference.
struct TakenPairs {
  struct Pair {
    std::size_t name_at, name_size, value_at, value_size;
    PyRef value;  // set for a value that is not ASCII
  };
  std::string text;
  std::vector<Pair> pairs;
};

std::string_view ascii_view(PyObject* text) {
  return {static_cast<const char*>(PyUnicode_DATA(text)),
          static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))};
}

// The first offending entry of all decides. Every other thread reading the same dict waits on
// its critical section, so this only copies bytes: no allocation while the buffers last and
// no reference count touched on the objects the threads share.
bool take_pairs(PyObject* dict, TakenPairs& taken) {
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
    // Every name the layer reads is ASCII; a name holding a lone surrogate is left out with
    // all others.
    if (!PyUnicode_IS_ASCII(key)) continue;
    const std::string_view name = ascii_view(key);
    if (!env::is_read_name(name)) continue;
    TakenPairs::Pair pair{taken.text.size(), name.size(), 0, 0, {}};
    taken.text += name;
    if (PyUnicode_IS_ASCII(value)) {
      const std::string_view text = ascii_view(value);
      pair.value_at = taken.text.size();
      pair.value_size = text.size();
      taken.text += text;
    } else {
      pair.value = PyRef::borrow(value);
    }
    taken.pairs.push_back(std::move(pair));
  }
  return true;
}

// Variables larger than this are never kept for a later reading.
constexpr std::size_t kKeptTextLimit = 4096;

std::size_t text_size(const EnvVars& vars) {
  std::size_t size = 0;
  for (const auto& [name, value] : vars) size += name.size() + value.size();
  return size;
}

// A program often reads one dict from many threads (`env=` shared, unchanged). Taking its
// lock on every reading makes the threads wait on each other, so a dict read once is watched:
// the watcher counts every change of every such dict (and each one's end), and a thread whose
// last dict is the same and saw the same count reuses what it took from it, without the lock.
// A change counted while a reading takes the pairs only makes the next reading take them again.
std::atomic<int> g_dict_watcher{-1};
std::atomic<std::uint64_t> g_dict_changes{0};

int count_dict_change(PyDict_WatchEvent, PyObject*, PyObject*, PyObject*) {
  g_dict_changes.fetch_add(1, std::memory_order_acq_rel);
  return 0;
}

struct TakenDict {
  PyObject* dict = nullptr;  // compared by address only; its end is counted as a change
  std::uint64_t changes = 0;
  std::shared_ptr<const EnvVars> vars;
};
thread_local TakenDict last_taken;

std::shared_ptr<const EnvVars> copy_env(PyObject* env) {
  // A plain dict is read in place under its own lock; any other mapping is first made the
  // module's own dict. The caller's reference keeps `env` alive throughout.
  const int watcher = g_dict_watcher.load(std::memory_order_acquire);
  const bool exact = PyDict_CheckExact(env);
  const std::uint64_t changes = g_dict_changes.load(std::memory_order_acquire);
  if (exact && watcher >= 0 && last_taken.dict == env && last_taken.changes == changes && last_taken.vars) {
    return last_taken.vars;
  }
  bool watched = false;
  PyRef copy;
  PyObject* dict = env;
  if (!exact) {
    copy = PyRef(PyObject_CallOneArg(reinterpret_cast<PyObject*>(&PyDict_Type), env));
    if (!copy) return nullptr;
    dict = copy.get();
  }
  TakenPairs taken;
  taken.text.reserve(512);
  taken.pairs.reserve(8);
  bool ok = false;
  std::exception_ptr failure;
  Py_BEGIN_CRITICAL_SECTION(dict);
  // Nothing may unwind past the end of the section: it would leave the thread's section stack
  // pointing into this frame.
  try {
    ok = take_pairs(dict, taken);
    // Under the lock that every change of the dict takes: no change can slip in unwatched.
    if (ok && exact && watcher >= 0) {
      watched = PyDict_Watch(watcher, dict) == 0;
      if (!watched) PyErr_Clear();
    }
  } catch (const std::exception&) {
    failure = std::current_exception();
  }
  Py_END_CRITICAL_SECTION();
  if (failure) std::rethrow_exception(failure);
  if (!ok) return nullptr;
  EnvVars vars;
  const std::string_view text = taken.text;
  for (const auto& pair : taken.pairs) {
    std::string name(text.substr(pair.name_at, pair.name_size));
    if (pair.value) {
      auto value = lossy_value(pair.value.get());
      if (!value) return nullptr;
      vars.insert_or_assign(std::move(name), std::move(*value));
    } else {
      vars.insert_or_assign(std::move(name), std::string(text.substr(pair.value_at, pair.value_size)));
    }
  }
  auto shared = std::make_shared<const EnvVars>(std::move(vars));
  if (watched && text_size(*shared) <= kKeptTextLimit) last_taken = TakenDict{env, changes, shared};
  return shared;
}

// The process environment in one consistent state. Where the system copies its block under
// its own lock (Windows), that copy is read. Elsewhere walking the C `environ` cannot be made
// safe: setenv() on another thread may move or free it mid-walk, and nothing locks it. There
// os.environ's own dict (bytes to bytes) is copied in one step under its lock, so the reading
// sees one state that some writer left. A program that replaced os.environ with another
// mapping gets that mapping read as `env` would be.
std::shared_ptr<const EnvVars> copy_process_env() {
  if (auto block = env::process_block_vars()) return std::make_shared<const EnvVars>(std::move(*block));
  PyRef os(PyImport_ImportModule("os"));
  if (!os) return nullptr;
  // Not named `environ`: the C runtime of Windows defines that as a macro.
  PyRef os_environ(PyObject_GetAttrString(os.get(), "environ"));
  if (!os_environ) return nullptr;
  PyRef data(PyObject_GetAttrString(os_environ.get(), "_data"));
  if (!data) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
  }
  if (!data || !PyDict_Check(data.get())) return copy_env(os_environ.get());
  PyRef copy(PyDict_Copy(data.get()));
  if (!copy) return nullptr;
  // The copy is ours alone: no other thread can reach it.
  EnvVars vars;
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(copy.get(), &pos, &key, &value)) {
    if (!PyBytes_Check(key) || !PyBytes_Check(value)) continue;
    std::string_view name(PyBytes_AS_STRING(key), static_cast<std::size_t>(PyBytes_GET_SIZE(key)));
    if (!env::is_read_name(name)) continue;
    std::string_view text(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
    vars.emplace(std::string(name), util::utf8_lossy(text));
  }
  return std::make_shared<const EnvVars>(std::move(vars));
}

// The layer of the thread's last reading, with the variables it was read from. A program
// reads the same environment over and over: the same variables make the same layer, and only
// the time of the reading differs. Each thread keeps its own, so no reading waits on another
// or on a lock that a fork() could leave held; a large environment is never kept.
struct KeptLayer {
  std::shared_ptr<const EnvVars> vars;
  std::shared_ptr<EnvLayer> layer;
};
thread_local KeptLayer kept;

std::shared_ptr<EnvLayer> kept_layer(const EnvVars& vars) {
  // The very variables taken from an unchanged dict, or equal ones.
  if (kept.layer && (kept.vars.get() == &vars || *kept.vars == vars)) return kept.layer;
  return nullptr;
}

void keep_layer(std::shared_ptr<const EnvVars> vars, const std::shared_ptr<EnvLayer>& layer) {
  if (text_size(*vars) > kKeptTextLimit) return;
  kept = KeptLayer{std::move(vars), layer};
}

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

int watch_env_dicts() {
  if (g_dict_watcher.load(std::memory_order_acquire) >= 0) return 0;
  const int id = PyDict_AddWatcher(count_dict_change);
  if (id < 0) {
    // Every watcher taken: dicts are then read under their lock each time.
    PyErr_Clear();
    return 0;
  }
  g_dict_watcher.store(id, std::memory_order_release);
  return 0;
}

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
