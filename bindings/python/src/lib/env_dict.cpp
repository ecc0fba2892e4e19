#include "env_dict.hpp"

#include <atomic>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "layer_cache.hpp"
#include "py_args.hpp"

namespace zelvane::python {
namespace {

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
  std::shared_ptr<const env::EnvVars> vars;
};
thread_local TakenDict last_taken;

}  // namespace

std::shared_ptr<const env::EnvVars> copy_env(PyObject* env) {
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
  env::EnvVars vars;
  const std::string_view text = taken.text;
  for (const auto& pair : taken.pairs) {
    std::string name(text.substr(pair.name_at, pair.name_size));
    if (pair.value) {
      auto value = lossy_text_of(pair.value.get());
      if (!value) return nullptr;
      vars.insert_or_assign(std::move(name), std::move(*value));
    } else {
      vars.insert_or_assign(std::move(name), std::string(text.substr(pair.value_at, pair.value_size)));
    }
  }
  auto shared = std::make_shared<const env::EnvVars>(std::move(vars));
  if (watched && small_enough_to_keep(*shared)) last_taken = TakenDict{env, changes, shared};
  return shared;
}

bool env_vars(PyObject* given, std::shared_ptr<const env::EnvVars>& out, const char*) {
  if (given == Py_None) return true;
  out = copy_env(given);
  return out != nullptr;
}

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

}  // namespace zelvane::python
