#include "types.hpp"

namespace zelvane::python {

PyTypeObject* once_type(TypeCell& cell, PyType_Spec& spec) {
  // PyMutex detaches while blocked, so waiting here cannot stall a stop-the-world pause.
  PyMutex_Lock(&cell.mutex);
  if (cell.type == nullptr) cell.type = PyType_FromSpec(&spec);
  PyObject* type = cell.type;
  PyMutex_Unlock(&cell.mutex);
  return reinterpret_cast<PyTypeObject*>(type);
}

}  // namespace zelvane::python
