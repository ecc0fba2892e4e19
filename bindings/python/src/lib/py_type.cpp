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

namespace {

bool fill_static_type(PyTypeObject& t, const PyType_Spec& spec) {
  t.tp_name = spec.name;
  t.tp_basicsize = spec.basicsize;
  t.tp_itemsize = spec.itemsize;
  t.tp_flags = spec.flags;
  for (const PyType_Slot* slot = spec.slots; slot->slot != 0; ++slot) {
    switch (slot->slot) {
      case Py_tp_dealloc:
        t.tp_dealloc = reinterpret_cast<destructor>(slot->pfunc);
        break;
      case Py_tp_repr:
        t.tp_repr = reinterpret_cast<reprfunc>(slot->pfunc);
        break;
      case Py_tp_str:
        t.tp_str = reinterpret_cast<reprfunc>(slot->pfunc);
        break;
      case Py_tp_hash:
        t.tp_hash = reinterpret_cast<hashfunc>(slot->pfunc);
        break;
      case Py_tp_richcompare:
        t.tp_richcompare = reinterpret_cast<richcmpfunc>(slot->pfunc);
        break;
      case Py_tp_getset:
        t.tp_getset = static_cast<PyGetSetDef*>(slot->pfunc);
        break;
      case Py_tp_methods:
        t.tp_methods = static_cast<PyMethodDef*>(slot->pfunc);
        break;
      case Py_tp_doc:
        t.tp_doc = static_cast<const char*>(slot->pfunc);
        break;
      default:
        PyErr_Format(PyExc_SystemError, "%s: slot %d is not taken by a static class", spec.name, slot->slot);
        return false;
    }
  }
  return true;
}

}  // namespace

PyTypeObject* once_static_type(StaticTypeCell& cell, PyType_Spec& spec) {
  if (PyTypeObject* type = cell.type.load(std::memory_order_acquire)) return type;
  // PyMutex detaches while blocked, so waiting here cannot stall a stop-the-world pause.
  PyMutex_Lock(&cell.mutex);
  PyTypeObject* type = cell.type.load(std::memory_order_relaxed);
  if (type == nullptr && fill_static_type(cell.object, spec) && PyType_Ready(&cell.object) == 0) {
    type = &cell.object;
    cell.type.store(type, std::memory_order_release);
  }
  PyMutex_Unlock(&cell.mutex);
  return type;
}

}  // namespace zelvane::python
