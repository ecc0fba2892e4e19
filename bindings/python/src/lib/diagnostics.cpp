#include "diagnostics.hpp"

#include <memory>
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

using namespace model;
using namespace value;

namespace {

// The reading itself, shared with its Snapshot: the texts are made when asked, so a reading
// of millions of refused values is never held a second time as text.
struct DiagnosticsValue {
  bool os_readable;
  std::shared_ptr<const ProxyConfig> config;
};
using DiagnosticsClass = HeapType<DiagnosticsValue>;

const DiagnosticsValue* self_of(PyObject* o) { return &DiagnosticsClass::of(o); }

PyObject* get_os_readable(PyObject* self, void*) { return PyBool_FromLong(self_of(self)->os_readable); }

PyObject* get_sources(PyObject* self, void*) {
  return guarded(
      [&] { return plain_to_py(strings_to_values(source_names(self_of(self)->config->sources))); });
}

PyObject* get_fallbacks(PyObject* self, void*) {
  return guarded(
      [&] { return plain_to_py(strings_to_values(fallback_names(self_of(self)->config->fallbacks))); });
}

PyObject* get_rejected(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    // Straight into the list: no second copy of every text on the way.
    PyRef list(PyList_New(0));
    if (!list) return nullptr;
    bool ok = true;
    each_distinct_rejected(*self_of(self)->config, [&](const RejectedValue& r) {
      if (!ok) return;
      PyRef text = py_str(rejected_text(r));
      ok = text && PyList_Append(list.get(), text.get()) == 0;
    });
    return ok ? list.release() : nullptr;
  });
}

PyGetSetDef diagnostics_getset[] = {
    {"os_readable", get_os_readable, nullptr, "Whether the OS had proxy settings to read.", nullptr},
    {"sources", get_sources, nullptr, "The sources that produced a configuration, highest precedence first.",
     nullptr},
    {"fallbacks", get_fallbacks, nullptr, "Sources that could not be read and were left out.", nullptr},
    {"rejected", get_rejected, nullptr,
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
  return guarded([&] {
    const ProxyConfig& x = *self_of(a)->config;
    const ProxyConfig& y = *self_of(b)->config;
    bool equal = self_of(a)->os_readable == self_of(b)->os_readable &&
                 (&x == &y || (source_names(x.sources) == source_names(y.sources) &&
                               fallback_names(x.fallbacks) == fallback_names(y.fallbacks) &&
                               collect_rejected(x) == collect_rejected(y)));
    return PyBool_FromLong(op == Py_EQ ? equal : !equal);
  });
}

Py_hash_t diagnostics_hash(PyObject* self) {
  return guarded([&] {
    const auto* d = self_of(self);
    SipHash13 h;
    h.write_u8(d->os_readable ? 1 : 0);
    h.write_str_list(source_names(d->config->sources));
    h.write_str_list(fallback_names(d->config->fallbacks));
    h.write_str_list(collect_rejected(*d->config));
    return static_cast<Py_hash_t>(to_py_hash(h.finish()));
  });
}

PyObject* diagnostics_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const auto* d = self_of(self);
    auto sources = repr_str_list(source_names(d->config->sources));
    if (!sources) return nullptr;
    auto fallbacks = repr_str_list(fallback_names(d->config->fallbacks));
    if (!fallbacks) return nullptr;
    auto rejected = repr_str_list(collect_rejected(*d->config));
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

PyObject* new_diagnostics(std::shared_ptr<const ProxyConfig> config, bool os_readable) {
  return diagnostics_class.create({os_readable, std::move(config)});
}

}  // namespace zelvane::python
