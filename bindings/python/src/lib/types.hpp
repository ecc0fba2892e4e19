// Process-wide heap types: each class is created once, on first use, and never destroyed,
// so objects that outlive a module (or the interpreter's exit) keep a valid type.
#pragma once

#include "py.hpp"

namespace zelvane::python {

struct TypeCell {
  PyMutex mutex{};
  PyObject* type = nullptr;
};

// The cell's type, created from its PyType_Spec on first use; null with the Python error set.
PyTypeObject* once_type(TypeCell& cell, PyType_Spec& spec);

// Allocates an instance of a type whose instances hold C++ members; the caller
// placement-constructs them before the object is used.
template <class T>
T* alloc_instance(PyTypeObject* type) {
  return reinterpret_cast<T*>(type->tp_alloc(type, 0));
}

}  // namespace zelvane::python
