// The module's entry: multi-phase initialisation, what importing registers, and the exit
// hook that tells the watch threads to stop calling into the interpreter.
#include "py.hpp"

#include <atomic>
#include <chrono>
#include <thread>

#include "py_entry.hpp"
#include "py_errors.hpp"
#include "diagnostics.hpp"
#include "env_dict.hpp"
#include "finalizing.hpp"
#include "pac_policy.hpp"
#include "read.hpp"
#include "route.hpp"
#include "snapshot.hpp"
#include "value/time.hpp"
#include "watcher.hpp"

namespace zelvane::python {
namespace {

using value::MonotonicInstant;

std::atomic<bool> g_finalizing{false};
std::atomic<unsigned long> g_exiting_thread{0};  // the thread that ran the exit hooks
// Until when a thread coming back from the module may still wait for the interpreter to mark
// itself finalising (see before_reattach), as a count of its clock; set once, by the first run
// of the hook: one bound for the whole process, not one for each call.
std::atomic<MonotonicInstant::rep> g_reattach_deadline{0};
constexpr std::chrono::seconds kReattachBound{1};

PyObject* finalizing_hook(PyObject*, PyObject*) {
  // Set before the flag, so that a thread that sees the flag sees when its wait ends.
  MonotonicInstant::rep unset = 0;
  g_reattach_deadline.compare_exchange_strong(
      unset, (MonotonicInstant::clock::now() + kReattachBound).time_since_epoch().count(),
      std::memory_order_seq_cst);
  g_exiting_thread.store(PyThread_get_thread_ident(), std::memory_order_seq_cst);
  g_finalizing.store(true, std::memory_order_seq_cst);
  std::atomic_thread_fence(std::memory_order_seq_cst);
  Py_RETURN_NONE;
}

PyMethodDef finalizing_def = {"_finalizing", finalizing_hook, METH_NOARGS, "_finalizing()\n--\n\n"};

// Adds the object under its name and appends the name to __all__; steals `object`.
int add(PyObject* module, PyObject* all, const char* name, PyObject* object) {
  if (object == nullptr) return -1;
  if (PyModule_Add(module, name, object) < 0) return -1;
  PyRef text(PyUnicode_FromString(name));
  if (!text) return -1;
  return PyList_Append(all, text.get());
}

int add_type(PyObject* module, PyObject* all, const char* name, PyTypeObject* type) {
  if (type == nullptr) return -1;
  return add(module, all, name, Py_NewRef(reinterpret_cast<PyObject*>(type)));
}

int init_module(PyObject* module) {
  PyRef module_name(PyModule_GetNameObject(module));
  if (!module_name) return -1;
  PyRef all(PyList_New(0));
  if (!all) return -1;
  if (PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return -1;

  PyObject* error_type = zelvane_error_type();
  if (error_type == nullptr) return -1;
  if (add(module, all.get(), "ZelvaneError", Py_NewRef(error_type)) < 0) return -1;

  if (add_type(module, all.get(), "Route", route_type()) < 0) return -1;
  if (add_type(module, all.get(), "PacPolicy", pac_policy_type()) < 0) return -1;
  if (add_type(module, all.get(), "Diagnostics", diagnostics_type()) < 0) return -1;
  if (add_type(module, all.get(), "Snapshot", snapshot_type()) < 0) return -1;
  if (add_type(module, all.get(), "Watcher", watcher_type()) < 0) return -1;

  if (add(module, all.get(), "read", PyCFunction_NewEx(&read_def, module, module_name.get())) < 0) {
    return -1;
  }
  if (add(module, all.get(), "watch", PyCFunction_NewEx(&watch_def, module, module_name.get())) < 0) {
    return -1;
  }

  if (watch_env_dicts() < 0) return -1;

  PyRef hook(PyCFunction_NewEx(&finalizing_def, nullptr, nullptr));
  if (!hook) return -1;
  PyRef atexit(PyImport_ImportModule("atexit"));
  if (!atexit) return -1;
  PyRef registered(PyObject_CallMethod(atexit.get(), "register", "O", hook.get()));
  if (!registered) return -1;
  return 0;
}

int module_exec(PyObject* module) {
  return guarded([&] { return init_module(module); });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    // The exception class, the types and the pools are process-wide; an interpreter that
    // shares them with another (a legacy subinterpreter) would be handed objects it does
    // not own, so every interpreter but the main one is refused at import.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "zelvane", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace

bool finalizing() { return g_finalizing.load(std::memory_order_seq_cst); }

void before_reattach() {
  if (!finalizing() || PyThread_get_thread_ident() == g_exiting_thread.load(std::memory_order_seq_cst)) {
    return;
  }
  const MonotonicInstant deadline{
      MonotonicInstant::duration{g_reattach_deadline.load(std::memory_order_seq_cst)}};
  while (!Py_IsFinalizing() && MonotonicInstant::clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace zelvane::python

PyMODINIT_FUNC PyInit_zelvane() { return PyModuleDef_Init(&zelvane::python::module_def); }
