// Heap types whose instances hold one C++ value. Each class is created once, on first use, and
// never destroyed, so objects that outlive a module (or the interpreter's exit) keep a valid
// type. Snapshot and Diagnostics use it; Route, PacPolicy and Watcher are meant to.
#pragma once

#include "py.hpp"

#include <atomic>
#include <new>
#include <utility>

namespace zelvane::python {

// Where a class lives once created: read without a lock once it exists, so no thread waits on
// a mutex (which a forked child could inherit held) for a type that is already there.
struct TypeCell {
  std::atomic<PyTypeObject*> type{nullptr};
  PyMutex mutex{};
};

// The cell's type, created from its PyType_Spec on first use; null with the Python error set.
PyTypeObject* once_type(TypeCell& cell, PyType_Spec& spec);

// The instance layout of a class holding a T.
template <class T>
struct Instance {
  PyObject_HEAD T value;
};

// A class holding a T: its spec names basic_size and dealloc (and, for a GC class without
// references of its own, traverse); create() makes an instance, of() reaches the value.
template <class T>
class HeapType {
 public:
  static constexpr int basic_size = static_cast<int>(sizeof(Instance<T>));

  explicit constexpr HeapType(PyType_Spec& spec) : spec_(spec) {}

  PyTypeObject* type() { return once_type(cell_, spec_); }

  // A new instance holding the value, or null with the Python error set (the value is then
  // destroyed here, unused).
  PyObject* create(T value) {
    PyTypeObject* t = type();
    if (t == nullptr) return nullptr;
    PyObject* self = t->tp_alloc(t, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<Instance<T>*>(self)->value) T(std::move(value));
    return self;
  }

  static T& of(PyObject* self) { return reinterpret_cast<Instance<T>*>(self)->value; }

  // tp_dealloc: a GC instance is untracked first, then the value destroyed, the memory freed,
  // and the instance's reference to its heap type dropped.
  static void dealloc(PyObject* self) {
    PyTypeObject* t = Py_TYPE(self);
    if (PyType_HasFeature(t, Py_TPFLAGS_HAVE_GC)) PyObject_GC_UnTrack(self);
    of(self).~T();
    t->tp_free(self);
    Py_DECREF(t);
  }

  // tp_traverse of a GC class whose value holds no Python references: only the type.
  static int traverse(PyObject* self, visitproc visit, void* arg) {
    Py_VISIT(Py_TYPE(self));
    return 0;
  }

 private:
  PyType_Spec& spec_;
  TypeCell cell_;
};

}  // namespace zelvane::python
