#include "snapshot.hpp"

#include <new>
#include <string>

#include "diagnostic_texts.hpp"
#include "diagnostics.hpp"
#include "export.hpp"
#include "py_entry.hpp"
#include "py_errors.hpp"
#include "py_plain.hpp"
#include "py_type.hpp"
#include "route.hpp"
#include "value/debug.hpp"

namespace zelvane::python {

using namespace model;
using namespace value;

namespace {

using SnapshotClass = HeapType<SnapshotValue>;

PyObject* snapshot_repr(PyObject* self) {
  return guarded([&] {
    const SnapshotValue& snap = SnapshotClass::of(self);
    std::string text;
    text.reserve(debug_text_size_hint(*snap.config));
    text += "<Snapshot os_readable=";
    text += snap.os_readable ? "True " : "False ";
    debug_fmt(text, *snap.config);
    text += '>';
    return py_str_consuming(std::move(text)).release();
  });
}

PyObject* snapshot_to_dict(PyObject* self, PyObject*) {
  return guarded([&] {
    const SnapshotValue& snap = SnapshotClass::of(self);
    return plain_to_py(snapshot_to_value(*snap.config, snap.os_readable));
  });
}

PyObject* snapshot_diagnostics(PyObject* self, PyObject*) {
  return guarded([&] {
    const SnapshotValue& snap = SnapshotClass::of(self);
    return new_diagnostics(snap.config, snap.os_readable);
  });
}

PyObject* snapshot_route(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return route_method(*SnapshotClass::of(self).config, args, nargs, kwnames);
}

PyMethodDef snapshot_methods[] = {
    {"route", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(snapshot_route)),
     METH_FASTCALL | METH_KEYWORDS,
     "route($self, url, *, pac=None, script=None, wpad=False, policy=None)\n--\n\n"
     "The route for `url`. `pac` names who runs a PAC configuration: `\"none\"` (the\n"
     "default), `\"native\"`, `\"quickjs\"` or `\"auto\"`, with `script`, `wpad` and `policy` as\n"
     "the stub file describes. The GIL is released while an engine downloads or runs a\n"
     "script. A URL with no host (`mailto:`, `file:`, `data:`) is `[\"direct\"]` under every\n"
     "choice."},
    {"to_dict", snapshot_to_dict, METH_NOARGS,
     "to_dict($self)\n--\n\nThe whole configuration as plain dicts and lists, the stub file "
     "describes the\nshape. A proxy's password, and one in a PAC URL, is in it as the value."},
    {"diagnostics", snapshot_diagnostics, METH_NOARGS,
     "diagnostics($self)\n--\n\nWhich sources the snapshot came from."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot snapshot_slots[] = {
    {Py_tp_methods, snapshot_methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(SnapshotClass::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(snapshot_repr)},
    {Py_tp_doc, const_cast<char*>("One reading of the proxy configuration.")},
    {0, nullptr},
};

PyType_Spec snapshot_spec = {
    "zelvane.Snapshot",
    SnapshotClass::basic_size,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    snapshot_slots,
};

constinit SnapshotClass snapshot_class{snapshot_spec};

}  // namespace

PyTypeObject* snapshot_type() { return snapshot_class.type(); }

PyObject* new_snapshot(ProxyConfig config, bool os_readable) {
  return snapshot_class.create({std::make_shared<const ProxyConfig>(std::move(config)), os_readable});
}

}  // namespace zelvane::python
