// Classes whose instances hold one C++ value. Each class is created once, on first use, and
// never destroyed, so objects that outlive a module (or the interpreter's exit) keep a valid
// type. Most are heap types; a class whose instances many threads make at a high rate is a
// static type instead (StaticType).
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

// A new instance of the class (null: the error of its creation is set) holding the value, or
// null with the Python error set (the value is then destroyed here, unused).
template <class T>
PyObject* create_instance(PyTypeObject* type, T value) {
  if (type == nullptr) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  new (&reinterpret_cast<Instance<T>*>(self)->value) T(std::move(value));
  return self;
}

// What the two kinds of class below share: the instance's size and the way to its value.
template <class T>
struct InstanceAccess {
  static constexpr int basic_size = static_cast<int>(sizeof(Instance<T>));
  static T& of(PyObject* self) { return reinterpret_cast<Instance<T>*>(self)->value; }
};

// A class holding a T: its spec names basic_size and dealloc (and, for a GC class without
// references of its own, traverse); create() makes an instance, of() reaches the value.
template <class T>
class HeapType : public InstanceAccess<T> {
 public:
  using InstanceAccess<T>::of;

  explicit constexpr HeapType(PyType_Spec& spec) : spec_(spec) {}

  PyTypeObject* type() { return once_type(cell_, spec_); }

  // A new instance holding the value, or null with the Python error set (the value is then
  // destroyed here, unused).
  PyObject* create(T value) { return create_instance(type(), std::move(value)); }

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

// Where a static class lives: the type object itself, immortal from the start, made ready
// from a PyType_Spec on first use.
struct StaticTypeCell {
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#endif
  PyTypeObject object = {PyVarObject_HEAD_INIT(nullptr, 0)};
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
  std::atomic<PyTypeObject*> type{nullptr};
  PyMutex mutex{};
};

// The cell's class, made ready from its PyType_Spec's name, size, flags and slots on first use; null
// with the Python error set. Takes the slots a class without a constructor uses (dealloc,
// repr, str, hash, richcompare, getset, methods, doc); any other slot is a SystemError.
PyTypeObject* once_static_type(StaticTypeCell& cell, PyType_Spec& spec);

// A class holding a T, as HeapType, but a static type: on the free-threaded 3.13 every
// instance of a heap type adds to and takes from its class's one reference count, a memory
// word all threads then fight over; an instance of a static class leaves its class alone.
// Its instances hold no Python references (the class is not a GC class).
template <class T>
class StaticType : public InstanceAccess<T> {
 public:
  using InstanceAccess<T>::of;

  explicit constexpr StaticType(PyType_Spec& spec) : spec_(spec) {}

  PyTypeObject* type() { return once_static_type(cell_, spec_); }
  PyObject* create(T value) { return create_instance(type(), std::move(value)); }

  // tp_dealloc: the value destroyed and the memory freed; the class is not counted.
  static void dealloc(PyObject* self) {
    of(self).~T();
    Py_TYPE(self)->tp_free(self);
  }

 private:
  PyType_Spec& spec_;
  StaticTypeCell cell_;
};

}  // namespace zelvane::python
