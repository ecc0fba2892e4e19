#include "snapshot.hpp"

#include <new>
#include <string>

#include "value/debug.hpp"
#include "diagnostics.hpp"
#include "diagnostic_texts.hpp"
#include "export.hpp"
#include "py_plain.hpp"
#include "py_errors.hpp"
#include "types.hpp"

namespace zelvane::python {
namespace {

void snapshot_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<SnapshotObject*>(self)->config.~ProxyConfig();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* snapshot_repr(PyObject* self) {
  try {
    const auto* snap = reinterpret_cast<SnapshotObject*>(self);
    std::string text = "<Snapshot os_readable=";
    text += snap->os_readable ? "True " : "False ";
    debug_fmt(text, snap->config);
    text += '>';
    return py_str(text).release();
  } catch (...) {
    return raise_internal_fault();
  }
}

PyObject* snapshot_to_dict(PyObject* self, PyObject*) {
  try {
    const auto* snap = reinterpret_cast<SnapshotObject*>(self);
    return plain_to_py(snapshot_to_value(snap->config, snap->os_readable));
  } catch (...) {
    return raise_internal_fault();
  }
}

PyObject* snapshot_diagnostics(PyObject* self, PyObject*) {
  try {
    const auto* snap = reinterpret_cast<SnapshotObject*>(self);
    return new_diagnostics(snap->config, snap->os_readable);
  } catch (...) {
    return raise_internal_fault();
  }
}

PyMethodDef snapshot_methods[] = {
    {"to_dict", snapshot_to_dict, METH_NOARGS,
     "to_dict($self)\n--\n\nThe whole configuration as plain dicts and lists, the stub file "
     "describes the\nshape. A proxy's password, and one in a PAC URL, is in it as the value."},
    {"diagnostics", snapshot_diagnostics, METH_NOARGS,
     "diagnostics($self)\n--\n\nWhich sources the snapshot came from."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot snapshot_slots[] = {
    {Py_tp_methods, snapshot_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(snapshot_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(snapshot_repr)},
    {Py_tp_doc, const_cast<char*>("One reading of the proxy configuration.")},
    {0, nullptr},
};

PyType_Spec snapshot_spec = {
    "zelvane.Snapshot",
    sizeof(SnapshotObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    snapshot_slots,
};

TypeCell snapshot_cell;

}  // namespace

PyTypeObject* snapshot_type() { return once_type(snapshot_cell, snapshot_spec); }

PyObject* new_snapshot(ProxyConfig config, bool os_readable) {
  PyTypeObject* type = snapshot_type();
  if (type == nullptr) return nullptr;
  auto* self = alloc_instance<SnapshotObject>(type);
  if (self == nullptr) return nullptr;
  new (&self->config) ProxyConfig(std::move(config));
  self->os_readable = os_readable;
  return reinterpret_cast<PyObject*>(self);
}

}  // namespace zelvane::python
