#include "py_type.hpp"

namespace zelvane::python {

PyTypeObject* once_type(TypeCell& cell, PyType_Spec& spec) {
  if (PyTypeObject* type = cell.type.load(std::memory_order_acquire)) return type;
  // PyMutex detaches while blocked, so waiting here cannot stall a stop-the-world pause.
  PyMutex_Lock(&cell.mutex);
  PyTypeObject* type = cell.type.load(std::memory_order_relaxed);
  if (type == nullptr) {
    type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    if (type != nullptr) cell.type.store(type, std::memory_order_release);
  }
  PyMutex_Unlock(&cell.mutex);
  return type;
}

}  // namespace zelvane::python
