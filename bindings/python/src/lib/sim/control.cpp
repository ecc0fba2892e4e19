// _zelvane_sim: the test-only control module of the sim build. It lives in the same library as
// zelvane, so it drives the very simulated Windows that zelvane.read() reads.
#include "py.hpp"

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "detached.hpp"
#include "py_entry.hpp"
#include "py_errors.hpp"
#include "snapshot.hpp"
#include "sys/win/sim/sim.hpp"
#include "watcher.hpp"

namespace zelvane::python::sim_control {
namespace {

namespace sim = sys::win::sim;

sim::Control control() { return sim::default_windows().control(); }

bool text_of(PyObject* o, std::string& out) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(o, &size);
  if (utf8 == nullptr) return false;
  out.assign(utf8, static_cast<std::size_t>(size));
  return true;
}

// str -> UTF-16, surrogates kept as they are (tests store lone ones on purpose).
bool wide_of(PyObject* o, std::u16string& out) {
  PyRef bytes(PyUnicode_AsEncodedString(o, "utf-16-le", "surrogatepass"));
  if (!bytes) return false;
  const char* data = PyBytes_AS_STRING(bytes.get());
  const Py_ssize_t n = PyBytes_GET_SIZE(bytes.get());
  out.clear();
  for (Py_ssize_t i = 0; i + 1 < n; i += 2) {
    out += static_cast<char16_t>(static_cast<unsigned char>(data[i]) |
                                 (static_cast<unsigned char>(data[i + 1]) << 8));
  }
  return true;
}

bool optional_wide(PyObject* o, std::optional<std::u16string>& out) {
  if (o == Py_None) {
    out.reset();
    return true;
  }
  std::u16string w;
  if (!wide_of(o, w)) return false;
  out = std::move(w);
  return true;
}

bool root_of(const char* text, sim::Root& root) {
  std::string_view r(text);
  if (r == "HKLM") {
    root = sim::Root::LocalMachine;
  } else if (r == "HKCU") {
    root = sim::Root::CurrentUser;
  } else {
    PyErr_Format(PyExc_ValueError, "root must be \"HKLM\" or \"HKCU\", not \"%s\"", text);
    return false;
  }
  return true;
}

PyObject* reset(PyObject*, PyObject*) {
  return guarded([] {
    control().reset();
    Py_RETURN_NONE;
  });
}

PyObject* create_key(PyObject*, PyObject* args) {
  const char* root_text;
  const char* path;
  if (!PyArg_ParseTuple(args, "ss:create_key", &root_text, &path)) return nullptr;
  sim::Root root;
  if (!root_of(root_text, root)) return nullptr;
  return guarded([&] {
    control().create_key(root, path);
    Py_RETURN_NONE;
  });
}

PyObject* set_dword(PyObject*, PyObject* args) {
  const char* root_text;
  const char* path;
  const char* name;
  unsigned long value;
  if (!PyArg_ParseTuple(args, "sssk:set_dword", &root_text, &path, &name, &value)) return nullptr;
  sim::Root root;
  if (!root_of(root_text, root)) return nullptr;
  return guarded([&] {
    control().set_dword(root, path, name, static_cast<std::uint32_t>(value));
    Py_RETURN_NONE;
  });
}

PyObject* set_string(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"root", "path", "name", "text", "type", nullptr};
  const char* root_text;
  const char* path;
  const char* name;
  PyObject* text;
  unsigned int type = sys::win::kRegSz;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sssU|I:set_string", const_cast<char**>(keywords),
                                   &root_text, &path, &name, &text, &type)) {
    return nullptr;
  }
  sim::Root root;
  std::u16string wide;
  if (!root_of(root_text, root) || !wide_of(text, wide)) return nullptr;
  return guarded([&] {
    control().set_string(root, path, name, wide, type);
    Py_RETURN_NONE;
  });
}

PyObject* set_value(PyObject*, PyObject* args) {
  const char* root_text;
  const char* path;
  const char* name;
  unsigned int type;
  Py_buffer data;
  if (!PyArg_ParseTuple(args, "sssIy*:set_value", &root_text, &path, &name, &type, &data)) {
    return nullptr;
  }
  sim::Root root;
  PyObject* result = root_of(root_text, root) ? guarded([&] {
    const auto* bytes = static_cast<const std::uint8_t*>(data.buf);
    control().set_value(root, path, name, type, std::vector<std::uint8_t>(bytes, bytes + data.len));
    Py_RETURN_NONE;
  })
                                              : nullptr;
  PyBuffer_Release(&data);
  return result;
}

PyObject* delete_value(PyObject*, PyObject* args) {
  const char* root_text;
  const char* path;
  const char* name;
  if (!PyArg_ParseTuple(args, "sss:delete_value", &root_text, &path, &name)) return nullptr;
  sim::Root root;
  if (!root_of(root_text, root)) return nullptr;
  return guarded([&] { return PyBool_FromLong(control().delete_value(root, path, name)); });
}

PyObject* delete_key(PyObject*, PyObject* args) {
  const char* root_text;
  const char* path;
  if (!PyArg_ParseTuple(args, "ss:delete_key", &root_text, &path)) return nullptr;
  sim::Root root;
  if (!root_of(root_text, root)) return nullptr;
  return guarded([&] { return PyBool_FromLong(control().delete_key(root, path)); });
}

PyObject* set_ie_config(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"auto_detect", "auto_config_url", "proxy", "proxy_bypass", nullptr};
  int auto_detect = 0;
  PyObject* url = Py_None;
  PyObject* proxy = Py_None;
  PyObject* bypass = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|$pOOO:set_ie_config", const_cast<char**>(keywords),
                                   &auto_detect, &url, &proxy, &bypass)) {
    return nullptr;
  }
  sys::win::IeProxyConfig config;
  config.auto_detect = auto_detect != 0;
  if (!optional_wide(url, config.auto_config_url) || !optional_wide(proxy, config.proxy) ||
      !optional_wide(bypass, config.proxy_bypass)) {
    return nullptr;
  }
  return guarded([&] {
    control().set_ie_config(std::move(config));
    Py_RETURN_NONE;
  });
}

PyObject* set_default_proxy(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"access_type", "proxy", "proxy_bypass", nullptr};
  unsigned int access = 0;
  PyObject* proxy = Py_None;
  PyObject* bypass = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "I|OO:set_default_proxy", const_cast<char**>(keywords),
                                   &access, &proxy, &bypass)) {
    return nullptr;
  }
  sys::win::ProxyInfo info;
  info.access_type = access;
  if (!optional_wide(proxy, info.proxy) || !optional_wide(bypass, info.proxy_bypass)) return nullptr;
  return guarded([&] {
    control().set_default_proxy(std::move(info));
    Py_RETURN_NONE;
  });
}

PyObject* fail_ie_config(PyObject*, PyObject* args) {
  unsigned long code;
  if (!PyArg_ParseTuple(args, "k:fail_ie_config", &code)) return nullptr;
  return guarded([&] {
    control().fail_ie_config(static_cast<std::uint32_t>(code));
    Py_RETURN_NONE;
  });
}

PyObject* fail_default_proxy(PyObject*, PyObject* args) {
  unsigned long code;
  if (!PyArg_ParseTuple(args, "k:fail_default_proxy", &code)) return nullptr;
  return guarded([&] {
    control().fail_default_proxy(static_cast<std::uint32_t>(code));
    Py_RETURN_NONE;
  });
}

PyObject* fail_next(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"op", "status", "key", "value", "nth", nullptr};
  const char* op_text;
  unsigned long status;
  const char* key = "";
  PyObject* value = Py_None;
  unsigned int nth = 1;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "sk|$sOI:fail_next", const_cast<char**>(keywords), &op_text,
                                   &status, &key, &value, &nth)) {
    return nullptr;
  }
  auto op = sim::op_from_name(op_text);
  if (!op) {
    PyErr_Format(PyExc_ValueError, "unknown operation %s", op_text);
    return nullptr;
  }
  if (value != Py_None && !PyUnicode_Check(value)) {
    PyErr_SetString(PyExc_TypeError, "value must be str or None");
    return nullptr;
  }
  return guarded([&]() -> PyObject* {
    sim::Fault fault{*op, key, std::nullopt, static_cast<std::uint32_t>(status), nth};
    if (value != Py_None) {
      std::string v;
      if (!text_of(value, v)) return nullptr;
      fault.value = std::move(v);
    }
    control().fail_next(std::move(fault));
    Py_RETURN_NONE;
  });
}

// The calls made, as (operation, key, value, status, injected) tuples.
PyObject* log(PyObject*, PyObject*) {
  return guarded([]() -> PyObject* {
    auto calls = control().log();
    PyRef list(PyList_New(0));
    if (!list) return nullptr;
    for (const auto& c : calls) {
      PyRef item(Py_BuildValue(
          "(s#s#NkN)", sim::op_name(c.op).data(), static_cast<Py_ssize_t>(sim::op_name(c.op).size()),
          c.key.data(), static_cast<Py_ssize_t>(c.key.size()),
          c.value ? PyUnicode_FromStringAndSize(c.value->data(), static_cast<Py_ssize_t>(c.value->size()))
                  : Py_NewRef(Py_None),
          static_cast<unsigned long>(c.status), PyBool_FromLong(c.injected)));
      if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* live_keys(PyObject*, PyObject*) {
  return guarded([] { return PyLong_FromSize_t(control().live_keys()); });
}

PyObject* live_handles(PyObject*, PyObject*) {
  return guarded([] { return PyLong_FromSize_t(control().live_handles()); });
}

// A Snapshot of an inline script, which no reader produces yet: the road of a script that a
// configuration carries can be tried from Python all the same.
PyObject* inline_snapshot(PyObject*, PyObject* arg) {
  std::string script;
  if (!PyUnicode_Check(arg)) {
    PyErr_SetString(PyExc_TypeError, "inline_snapshot() takes a str");
    return nullptr;
  }
  if (!text_of(arg, script)) return nullptr;
  return guarded([&] {
    model::ProxyMode mode{model::ProxyMode::PacInline{std::move(script), {}}};
    return new_snapshot(model::ProxyConfig::from_sources({{model::SourceKind::Registry, std::move(mode)}}),
                        true);
  });
}

// ---- WinHTTP's proxy resolver

template <class E, std::size_t N>
bool choice_of(const char* what, const char* text, const std::pair<const char*, E> (&names)[N], E& out) {
  for (const auto& [name, value] : names) {
    if (std::string_view(text) == name) {
      out = value;
      return true;
    }
  }
  PyErr_Format(PyExc_ValueError, "unknown %s \"%s\"", what, text);
  return false;
}

bool u32_of(PyObject* o, const char* what, std::uint32_t& out) {
  const unsigned long long v = PyLong_AsUnsignedLongLong(o);
  if (PyErr_Occurred()) return false;
  if (v > 0xFFFFFFFFull) {
    PyErr_Format(PyExc_OverflowError, "%s does not fit in 32 bits", what);
    return false;
  }
  out = static_cast<std::uint32_t>(v);
  return true;
}

// None is an entry with fProxy false; (scheme, host or None, port) one with fProxy true.
bool entry_of(PyObject* item, sys::win::ProxyResultEntry& entry) {
  entry = {};
  if (item == Py_None) return true;
  PyObject* scheme = nullptr;
  PyObject* host = nullptr;
  unsigned int port = 0;
  if (!PyTuple_Check(item) || !PyArg_ParseTuple(item, "OOI", &scheme, &host, &port)) {
    if (!PyErr_Occurred() || PyErr_ExceptionMatches(PyExc_TypeError)) {
      PyErr_Clear();
      PyErr_SetString(PyExc_TypeError, "an entry is None or a (scheme, host, port) tuple");
    }
    return false;
  }
  if (port > 0xFFFF) {
    PyErr_SetString(PyExc_OverflowError, "port does not fit in 16 bits");
    return false;
  }
  entry.proxy = true;
  entry.port = static_cast<std::uint16_t>(port);
  if (!u32_of(scheme, "scheme", entry.scheme)) return false;
  if (host != Py_None && !PyUnicode_Check(host)) {
    PyErr_SetString(PyExc_TypeError, "host must be str or None");
    return false;
  }
  return optional_wide(host, entry.host);
}

PyObject* script_resolution(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* keywords[] = {"delivery", "status",        "delay",   "on_close", "no_error_info",
                                   "extra",    "result_status", "entries", "count",    nullptr};
  using Resolution = sim::Resolution;
  static constexpr std::pair<const char*, Resolution::Delivery> kDeliveries[] = {
      {"at-once", Resolution::Delivery::AtOnce},
      {"callback", Resolution::Delivery::Callback},
      {"never", Resolution::Delivery::Never},
  };
  static constexpr std::pair<const char*, Resolution::OnClose> kOnClose[] = {
      {"cancel", Resolution::OnClose::Cancel},
      {"keep", Resolution::OnClose::Keep},
      {"drop", Resolution::OnClose::Drop},
  };
  const char* delivery = "callback";
  unsigned long status = 0;
  double delay = 0;
  const char* on_close = "cancel";
  int no_error_info = 0;
  PyObject* extra = nullptr;
  unsigned long result_status = 0;
  PyObject* entries = nullptr;
  PyObject* count = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|$skdspOkOO:script_resolution",
                                   const_cast<char**>(keywords), &delivery, &status, &delay, &on_close,
                                   &no_error_info, &extra, &result_status, &entries, &count)) {
    return nullptr;
  }
  Resolution r;
  if (!choice_of("delivery", delivery, kDeliveries, r.delivery) ||
      !choice_of("on_close", on_close, kOnClose, r.on_close))
    return nullptr;
  if (!(delay >= 0 && delay <= 3600)) {
    PyErr_SetString(PyExc_ValueError, "delay must be between 0 and 3600 seconds");
    return nullptr;
  }
  r.status = static_cast<std::uint32_t>(status);
  r.delay = std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(delay * 1000)));
  r.no_error_info = no_error_info != 0;
  r.result_status = static_cast<std::uint32_t>(result_status);
  if (extra != nullptr) {
    PyRef seq(PySequence_Fast(extra, "extra must be a sequence of notifications"));
    if (!seq) return nullptr;
    for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
      std::uint32_t n = 0;
      if (!u32_of(PySequence_Fast_GET_ITEM(seq.get(), i), "a notification", n)) return nullptr;
      r.extra_notifications.push_back(n);
    }
  }
  if (entries == Py_None) {
    r.result.entries.reset();
    r.result.count = 0;
  } else if (entries != nullptr) {
    PyRef seq(PySequence_Fast(entries, "entries must be a sequence or None"));
    if (!seq) return nullptr;
    std::vector<sys::win::ProxyResultEntry> list(
        static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.get())));
    for (std::size_t i = 0; i < list.size(); ++i) {
      if (!entry_of(PySequence_Fast_GET_ITEM(seq.get(), static_cast<Py_ssize_t>(i)), list[i])) return nullptr;
    }
    r.result.count = static_cast<std::uint32_t>(list.size());
    r.result.entries = std::move(list);
  }
  if (count != Py_None && !u32_of(count, "count", r.result.count)) return nullptr;
  return guarded([&] {
    control().script_resolution(std::move(r));
    Py_RETURN_NONE;
  });
}

PyObject* scripted_resolutions(PyObject*, PyObject*) {
  return guarded([] { return PyLong_FromSize_t(control().scripted_resolutions()); });
}

// The requests WinHTTP was asked, as (url, flags, auto_detect_flags, auto_config_url) tuples.
PyObject* requests(PyObject*, PyObject*) {
  return guarded([]() -> PyObject* {
    const auto all = control().requests();
    PyRef list(PyList_New(0));
    if (!list) return nullptr;
    for (const auto& r : all) {
      auto utf16 = [](const std::u16string& w) {
        return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(w.data()),
                                     static_cast<Py_ssize_t>(w.size() * 2), "surrogatepass", nullptr);
      };
      PyRef url(utf16(r.url));
      if (!url) return nullptr;
      PyRef config(r.options.auto_config_url ? utf16(*r.options.auto_config_url) : Py_NewRef(Py_None));
      if (!config) return nullptr;
      PyRef item(Py_BuildValue("(OkkO)", url.get(), static_cast<unsigned long>(r.options.flags),
                               static_cast<unsigned long>(r.options.auto_detect_flags), config.get()));
      if (!item || PyList_Append(list.get(), item.get()) < 0) return nullptr;
    }
    return list.release();
  });
}

PyObject* live_sessions(PyObject*, PyObject*) {
  return guarded([] { return PyLong_FromSize_t(control().live_sessions()); });
}

PyObject* live_resolvers(PyObject*, PyObject*) {
  return guarded([] { return PyLong_FromSize_t(control().live_resolvers()); });
}

PyObject* held_callbacks(PyObject*, PyObject*) {
  return guarded([] { return PyLong_FromSize_t(control().held_callbacks()); });
}

// Both wait on the simulation's callback thread, so they wait detached.
PyObject* settle_callbacks(PyObject*, PyObject*) {
  return guarded([] {
    run_detached([] {
      control().settle_callbacks();
      return 0;
    });
    Py_RETURN_NONE;
  });
}

PyObject* deliver_held_callbacks(PyObject*, PyObject* args) {
  unsigned long error = sys::win::kErrorWinHttpOperationCancelled;
  if (!PyArg_ParseTuple(args, "|k:deliver_held_callbacks", &error)) return nullptr;
  return guarded([&] {
    run_detached([&] {
      control().deliver_held_callbacks(static_cast<std::uint32_t>(error));
      return 0;
    });
    Py_RETURN_NONE;
  });
}

PyObject* set_native_engine(PyObject*, PyObject* arg) {
  if (!PyBool_Check(arg)) {
    PyErr_SetString(PyExc_TypeError, "set_native_engine() takes a bool");
    return nullptr;
  }
  control().set_proxy_resolver_present(arg == Py_True);
  Py_RETURN_NONE;
}

// ---- watches

// The settle delay of the watches opened from now on, in seconds: 0 re-reads at once after a
// change, so that the time of the rest of the road can be measured.
PyObject* watch_settle_delay(PyObject*, PyObject* arg) {
  const double seconds = PyFloat_AsDouble(arg);
  if (seconds == -1.0 && PyErr_Occurred()) return nullptr;
  if (!(seconds >= 0.0 && seconds <= 86400.0)) {
    PyErr_SetString(PyExc_ValueError, "the settle delay must be from 0 to 86400 seconds");
    return nullptr;
  }
  python::set_watch_settle_delay(static_cast<std::uint64_t>(seconds * 1e9));
  Py_RETURN_NONE;
}

template <class F>
constexpr PyCFunction fn(F f) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

PyMethodDef methods[] = {
    {"reset", reset, METH_NOARGS, "An empty registry and WinHTTP's first answers."},
    {"inline_snapshot", inline_snapshot, METH_O,
     "inline_snapshot(script): a Snapshot of an inline PAC script."},
    {"set_watch_settle_delay", watch_settle_delay, METH_O,
     "set_watch_settle_delay(seconds): for the watches opened from now on (0.2 at the start)."},
    {"create_key", create_key, METH_VARARGS, "create_key(root, path)"},
    {"set_dword", set_dword, METH_VARARGS, "set_dword(root, path, name, value)"},
    {"set_string", fn(set_string), METH_VARARGS | METH_KEYWORDS,
     "set_string(root, path, name, text, type=REG_SZ): UTF-16LE with its NUL."},
    {"set_value", set_value, METH_VARARGS, "set_value(root, path, name, type, data): raw bytes."},
    {"delete_value", delete_value, METH_VARARGS, "delete_value(root, path, name)"},
    {"delete_key", delete_key, METH_VARARGS, "delete_key(root, path)"},
    {"set_ie_config", fn(set_ie_config), METH_VARARGS | METH_KEYWORDS,
     "set_ie_config(*, auto_detect=False, auto_config_url=None, proxy=None, proxy_bypass=None)"},
    {"fail_ie_config", fail_ie_config, METH_VARARGS, "fail_ie_config(last_error)"},
    {"set_default_proxy", fn(set_default_proxy), METH_VARARGS | METH_KEYWORDS,
     "set_default_proxy(access_type, proxy=None, proxy_bypass=None)"},
    {"fail_default_proxy", fail_default_proxy, METH_VARARGS, "fail_default_proxy(last_error)"},
    {"fail_next", fn(fail_next), METH_VARARGS | METH_KEYWORDS,
     "fail_next(op, status, *, key='', value=None, nth=1)"},
    {"log", log, METH_NOARGS, "The calls made: (op, key, value, status, injected)."},
    {"live_keys", live_keys, METH_NOARGS, "Registry keys open now."},
    {"live_handles", live_handles, METH_NOARGS, "Kernel handles open now."},
    {"script_resolution", fn(script_resolution), METH_VARARGS | METH_KEYWORDS,
     "script_resolution(*, delivery='callback', status=0, delay=0.0, on_close='cancel',\n"
     "no_error_info=False, extra=(), result_status=0, entries=[None], count=None)\n\n"
     "How the next unscripted WinHttpGetProxyForUrlEx answers. delivery: 'at-once' (the call\n"
     "answers status), 'callback' (after delay seconds; status 0 completes, else REQUEST_ERROR),\n"
     "'never'. on_close, for a request still pending when its resolver closes: 'cancel' (12017\n"
     "at once), 'keep' (the callback still comes), 'drop' (held until deliver_held_callbacks).\n"
     "extra: notifications sent first. entries: None for a null array, else each None (not a\n"
     "proxy) or (scheme, host or None, port); count: the entry count WinHTTP reports."},
    {"scripted_resolutions", scripted_resolutions, METH_NOARGS, "Scripted answers not yet used."},
    {"requests", requests, METH_NOARGS,
     "The resolutions asked: (url, flags, auto_detect_flags, auto_config_url)."},
    {"live_sessions", live_sessions, METH_NOARGS, "WinHTTP sessions open now."},
    {"live_resolvers", live_resolvers, METH_NOARGS, "WinHTTP resolver handles open now."},
    {"held_callbacks", held_callbacks, METH_NOARGS, "Callbacks owed and not made yet."},
    {"settle_callbacks", settle_callbacks, METH_NOARGS, "Waits until every scheduled callback is made."},
    {"deliver_held_callbacks", deliver_held_callbacks, METH_VARARGS,
     "deliver_held_callbacks(error=12017): every owed callback now, as REQUEST_ERROR."},
    {"set_native_engine", set_native_engine, METH_O,
     "set_native_engine(present): False routes as a build without WinHTTP; reset() restores it."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot slots[] = {
    // One simulated Windows per process, as for zelvane itself.
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_zelvane_sim",
    "The simulated Windows of the sim build; tests only.",
    0,
    methods,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace zelvane::python::sim_control

PyMODINIT_FUNC PyInit__zelvane_sim() { return PyModuleDef_Init(&zelvane::python::sim_control::module_def); }
