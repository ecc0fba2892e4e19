#include "diagnostics.hpp"

#include <new>
#include <string>
#include <vector>

#include "py_errors.hpp"
#include "diagnostic_texts.hpp"
#include "export.hpp"
#include "py_plain.hpp"
#include "siphash.hpp"
#include "py_entry.hpp"
#include "py_type.hpp"

namespace zelvane::python {
namespace {

struct DiagnosticsValue {
  bool os_readable;
  std::vector<std::string> sources;
  std::vector<std::string> fallbacks;
  std::vector<std::string> rejected;
};
using DiagnosticsClass = HeapType<DiagnosticsValue>;

const DiagnosticsValue* self_of(PyObject* o) { return &DiagnosticsClass::of(o); }

PyObject* get_os_readable(PyObject* self, void*) { return PyBool_FromLong(self_of(self)->os_readable); }

template <std::vector<std::string> DiagnosticsValue::*Field>
PyObject* get_list(PyObject* self, void*) {
  return guarded([&] { return plain_to_py(strings_to_values(self_of(self)->*Field)); });
}

PyGetSetDef diagnostics_getset[] = {
    {"os_readable", get_os_readable, nullptr, "Whether the OS had proxy settings to read.", nullptr},
    {"sources", get_list<&DiagnosticsValue::sources>, nullptr,
     "The sources that produced a configuration, highest precedence first.", nullptr},
    {"fallbacks", get_list<&DiagnosticsValue::fallbacks>, nullptr,
     "Sources that could not be read and were left out.", nullptr},
    {"rejected", get_list<&DiagnosticsValue::rejected>, nullptr,
     "Values the sources held but the snapshot dropped (settings that silently stopped\n"
     "applying), each as `\"<kind> from <source>: <value>\"`, credentials masked.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* diagnostics_richcompare(PyObject* a, PyObject* b, int op) {
  PyTypeObject* type = diagnostics_type();
  if (type == nullptr) return nullptr;
  if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(a, type) || !PyObject_TypeCheck(b, type)) {
    Py_RETURN_NOTIMPLEMENTED;
  }
  const auto* x = self_of(a);
  const auto* y = self_of(b);
  bool equal = x->os_readable == y->os_readable && x->sources == y->sources && x->fallbacks == y->fallbacks &&
               x->rejected == y->rejected;
  return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

Py_hash_t diagnostics_hash(PyObject* self) {
  const auto* d = self_of(self);
  SipHash13 h;
  h.write_u8(d->os_readable ? 1 : 0);
  h.write_str_list(d->sources);
  h.write_str_list(d->fallbacks);
  h.write_str_list(d->rejected);
  return static_cast<Py_hash_t>(to_py_hash(h.finish()));
}

PyObject* diagnostics_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const auto* d = self_of(self);
    auto sources = repr_str_list(d->sources);
    if (!sources) return nullptr;
    auto fallbacks = repr_str_list(d->fallbacks);
    if (!fallbacks) return nullptr;
    auto rejected = repr_str_list(d->rejected);
    if (!rejected) return nullptr;
    std::string text = "Diagnostics(os_readable=";
    text += d->os_readable ? "True" : "False";
    text += ", sources=" + *sources + ", fallbacks=" + *fallbacks + ", rejected=" + *rejected + ")";
    return py_str(text).release();
  });
}

PyType_Slot diagnostics_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(DiagnosticsClass::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(diagnostics_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(diagnostics_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(diagnostics_richcompare)},
    {Py_tp_getset, diagnostics_getset},
    {Py_tp_doc,
     const_cast<char*>("Where a snapshot's answer came from, without the proxy addresses or credentials.")},
    {0, nullptr},
};

PyType_Spec diagnostics_spec = {
    "zelvane.Diagnostics",
    DiagnosticsClass::basic_size,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    diagnostics_slots,
};

constinit DiagnosticsClass diagnostics_class{diagnostics_spec};

}  // namespace

PyTypeObject* diagnostics_type() { return diagnostics_class.type(); }

PyObject* new_diagnostics(const ProxyConfig& config, bool os_readable) {
  // Everything is computed before the object exists, so a failure leaves nothing half-made.
  return diagnostics_class.create({os_readable, source_names(config.sources),
                                   fallback_names(config.fallbacks), collect_rejected(config)});
}

}  // namespace zelvane::python
