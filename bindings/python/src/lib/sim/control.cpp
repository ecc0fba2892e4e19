// _zelvane_sim: the test-only control module of the sim build. It lives in the same library as
// zelvane, so it drives the very simulated Windows that zelvane.read() reads.
#include "py.hpp"

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "detached.hpp"
#include "py_args.hpp"
#include "py_entry.hpp"
#include "py_errors.hpp"
#include "snapshot.hpp"
#include "sys/win/sim/sim.hpp"
#include "watcher.hpp"

namespace zelvane::python::sim_control {
namespace {

namespace sim = sys::win::sim;

sim::Control control() { return sim::default_windows().control(); }

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

// ---- converters of the arguments (py_args.hpp), as the argument parser's codes took them

// The text of a str; none with the interpreter's error for a lone surrogate, as "s" refuses it.
std::optional<std::string> text_of(PyObject* str) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(size));
}

// "s": the text of a str without NUL.
bool c_text(PyObject* given, std::string& out, const char* name) {
  if (!PyUnicode_Check(given)) return wrong_type(name, "str", given);
  auto text = text_of(given);
  if (!text) return false;
  if (text->find('\0') != std::string::npos) {
    PyErr_SetString(PyExc_ValueError, "embedded null character");
    return false;
  }
  out = std::move(*text);
  return true;
}

// "k" and "I": the low 32 bits of an int.
bool bits32(PyObject* given, std::uint32_t& out, const char* name) {
  if (!PyLong_Check(given)) return wrong_type(name, "int", given);
  const unsigned long long v = PyLong_AsUnsignedLongLongMask(given);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

// "p": the truth of anything.
bool truth(PyObject* given, bool& out, const char*) {
  const int t = PyObject_IsTrue(given);
  if (t < 0) return false;
  out = t != 0;
  return true;
}

// "d".
bool real(PyObject* given, double& out, const char*) {
  out = PyFloat_AsDouble(given);
  return !(out == -1.0 && PyErr_Occurred());
}

// "y*": the bytes of a bytes-like object, copied.
bool bytes_copy(PyObject* given, std::vector<std::uint8_t>& out, const char*) {
  Py_buffer view;
  if (PyObject_GetBuffer(given, &view, PyBUF_SIMPLE) < 0) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(view.buf);
  out.assign(bytes, bytes + view.len);
  PyBuffer_Release(&view);
  return true;
}

// A str as UTF-16, or none for None.
bool wide_or_none(PyObject* given, std::optional<std::u16string>& out, const char*) {
  if (given == Py_None) {
    out.reset();
    return true;
  }
  std::u16string w;
  if (!wide_of(given, w)) return false;
  out = std::move(w);
  return true;
}

bool root_of(const std::string& text, sim::Root& root) {
  if (text == "HKLM") {
    root = sim::Root::LocalMachine;
  } else if (text == "HKCU") {
    root = sim::Root::CurrentUser;
  } else {
    PyErr_Format(PyExc_ValueError, "root must be \"HKLM\" or \"HKCU\", not \"%s\"", text.c_str());
    return false;
  }
  return true;
}

// The registry's arguments, by position only.
struct KeyArgs {
  std::string root, path;
};
struct ValueArgs : KeyArgs {
  std::string name;
};
struct DwordArgs : ValueArgs {
  std::uint32_t value = 0;
};
struct StringArgs : ValueArgs {
  PyObject* text = nullptr;
  std::uint32_t type = sys::win::kRegSz;
};
struct RawValueArgs : ValueArgs {
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

template <class Args>
constexpr Param<Args> kRootParam = Param<Args>::template of<&Args::root, c_text>("root", Pass::Position,
                                                                                 Need::Required);
template <class Args>
constexpr Param<Args> kPathParam = Param<Args>::template of<&Args::path, c_text>("path", Pass::Position,
                                                                                 Need::Required);
template <class Args>
constexpr Param<Args> kNameParam = Param<Args>::template of<&Args::name, c_text>("name", Pass::Position,
                                                                                 Need::Required);

constexpr Signature kCreateKey{"create_key", {kRootParam<KeyArgs>, kPathParam<KeyArgs>}};
constexpr Signature kDeleteKey{"delete_key", {kRootParam<KeyArgs>, kPathParam<KeyArgs>}};
constexpr Signature kDeleteValue{"delete_value",
                                 {kRootParam<ValueArgs>, kPathParam<ValueArgs>, kNameParam<ValueArgs>}};
constexpr Signature kSetDword{
    "set_dword",
    {kRootParam<DwordArgs>, kPathParam<DwordArgs>, kNameParam<DwordArgs>,
     Param<DwordArgs>::of<&DwordArgs::value, bits32>("value", Pass::Position, Need::Required)}};
constexpr Signature kSetValue{
    "set_value",
    {kRootParam<RawValueArgs>, kPathParam<RawValueArgs>, kNameParam<RawValueArgs>,
     Param<RawValueArgs>::of<&RawValueArgs::type, bits32>("type", Pass::Position, Need::Required),
     Param<RawValueArgs>::of<&RawValueArgs::data, bytes_copy>("data", Pass::Position, Need::Required)}};
// set_string() takes its arguments by name too.
using StringParam = Param<StringArgs>;
constexpr Signature kSetString{
    "set_string",
    {StringParam::of<&StringArgs::root, c_text>("root", Pass::Either, Need::Required),
     StringParam::of<&StringArgs::path, c_text>("path", Pass::Either, Need::Required),
     StringParam::of<&StringArgs::name, c_text>("name", Pass::Either, Need::Required),
     StringParam::of<&StringArgs::text, str_object>("text", Pass::Either, Need::Required),
     StringParam::of<&StringArgs::type, bits32>("type", Pass::Either)}};

PyObject* reset(PyObject*, PyObject*) {
  return guarded([] {
    control().reset();
    Py_RETURN_NONE;
  });
}

// A registry call: its arguments bound, its root checked once all their types are, then run.
// The arguments come as a tuple, or in place for set_string(), which takes them by name too.
template <const auto& S, class... Call>
PyObject* registry_call(auto&& run, Call... call) {
  return guarded([&]() -> PyObject* {
    typename std::remove_cvref_t<decltype(S)>::Arguments a;
    sim::Root root;
    if (!bind<S>(call..., a) || !root_of(a.root, root)) return nullptr;
    return run(root, a);
  });
}

PyObject* create_key(PyObject*, PyObject* args) {
  const auto run = [](sim::Root root, const KeyArgs& a) {
    control().create_key(root, a.path);
    Py_RETURN_NONE;
  };
  return registry_call<kCreateKey>(run, args, nullptr);
}

PyObject* set_dword(PyObject*, PyObject* args) {
  const auto run = [](sim::Root root, const DwordArgs& a) {
    control().set_dword(root, a.path, a.name, a.value);
    Py_RETURN_NONE;
  };
  return registry_call<kSetDword>(run, args, nullptr);
}

PyObject* set_string(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  const auto run = [](sim::Root root, const StringArgs& a) -> PyObject* {
    std::u16string wide;
    if (!wide_of(a.text, wide)) return nullptr;
    control().set_string(root, a.path, a.name, wide, a.type);
    Py_RETURN_NONE;
  };
  return registry_call<kSetString>(run, args, nargs, kwnames);
}

PyObject* set_value(PyObject*, PyObject* args) {
  const auto run = [](sim::Root root, RawValueArgs& a) {
    control().set_value(root, a.path, a.name, a.type, std::move(a.data));
    Py_RETURN_NONE;
  };
  return registry_call<kSetValue>(run, args, nullptr);
}

PyObject* delete_value(PyObject*, PyObject* args) {
  const auto run = [](sim::Root root, const ValueArgs& a) {
    return PyBool_FromLong(control().delete_value(root, a.path, a.name));
  };
  return registry_call<kDeleteValue>(run, args, nullptr);
}

PyObject* delete_key(PyObject*, PyObject* args) {
  const auto run = [](sim::Root root, const KeyArgs& a) {
    return PyBool_FromLong(control().delete_key(root, a.path));
  };
  return registry_call<kDeleteKey>(run, args, nullptr);
}

using IeConfigParam = Param<sys::win::IeProxyConfig>;
constexpr Signature kSetIeConfig{
    "set_ie_config",
    {IeConfigParam::of<&sys::win::IeProxyConfig::auto_detect, truth>("auto_detect", Pass::Name),
     IeConfigParam::of<&sys::win::IeProxyConfig::auto_config_url, wide_or_none>("auto_config_url",
                                                                                Pass::Name),
     IeConfigParam::of<&sys::win::IeProxyConfig::proxy, wide_or_none>("proxy", Pass::Name),
     IeConfigParam::of<&sys::win::IeProxyConfig::proxy_bypass, wide_or_none>("proxy_bypass", Pass::Name)}};

PyObject* set_ie_config(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    sys::win::IeProxyConfig config;
    if (!bind<kSetIeConfig>(args, nargs, kwnames, config)) return nullptr;
    control().set_ie_config(std::move(config));
    Py_RETURN_NONE;
  });
}

using ProxyInfoParam = Param<sys::win::ProxyInfo>;
constexpr Signature kSetDefaultProxy{
    "set_default_proxy",
    {ProxyInfoParam::of<&sys::win::ProxyInfo::access_type, bits32>("access_type", Pass::Either,
                                                                   Need::Required),
     ProxyInfoParam::of<&sys::win::ProxyInfo::proxy, wide_or_none>("proxy", Pass::Either),
     ProxyInfoParam::of<&sys::win::ProxyInfo::proxy_bypass, wide_or_none>("proxy_bypass", Pass::Either)}};

PyObject* set_default_proxy(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    sys::win::ProxyInfo info;
    if (!bind<kSetDefaultProxy>(args, nargs, kwnames, info)) return nullptr;
    control().set_default_proxy(std::move(info));
    Py_RETURN_NONE;
  });
}

// A Windows error code (GetLastError()'s), by position.
struct LastErrorArgs {
  std::uint32_t code = 0;
};
constexpr Signature kFailIeConfig{
    "fail_ie_config",
    {Param<LastErrorArgs>::of<&LastErrorArgs::code, bits32>("last_error", Pass::Position, Need::Required)}};
constexpr Signature kFailDefaultProxy{
    "fail_default_proxy",
    {Param<LastErrorArgs>::of<&LastErrorArgs::code, bits32>("last_error", Pass::Position, Need::Required)}};

PyObject* fail_ie_config(PyObject*, PyObject* args) {
  return guarded([&]() -> PyObject* {
    LastErrorArgs a;
    if (!bind<kFailIeConfig>(args, nullptr, a)) return nullptr;
    control().fail_ie_config(a.code);
    Py_RETURN_NONE;
  });
}

PyObject* fail_default_proxy(PyObject*, PyObject* args) {
  return guarded([&]() -> PyObject* {
    LastErrorArgs a;
    if (!bind<kFailDefaultProxy>(args, nullptr, a)) return nullptr;
    control().fail_default_proxy(a.code);
    Py_RETURN_NONE;
  });
}

struct FaultArgs {
  std::string op;
  std::uint32_t status = 0;
  std::string key;
  PyObject* value = nullptr;
  std::uint32_t nth = 1;
};
using FaultParam = Param<FaultArgs>;
constexpr Signature kFailNext{
    "fail_next",
    {FaultParam::of<&FaultArgs::op, c_text>("op", Pass::Either, Need::Required),
     FaultParam::of<&FaultArgs::status, bits32>("status", Pass::Either, Need::Required),
     FaultParam::of<&FaultArgs::key, c_text>("key", Pass::Name),
     FaultParam::of<&FaultArgs::value, any_object>("value", Pass::Name),
     FaultParam::of<&FaultArgs::nth, bits32>("nth", Pass::Name)}};

PyObject* fail_next(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    FaultArgs a;
    if (!bind<kFailNext>(args, nargs, kwnames, a)) return nullptr;
    auto op = sim::op_from_name(a.op);
    if (!op) {
      PyErr_Format(PyExc_ValueError, "unknown operation %s", a.op.c_str());
      return nullptr;
    }
    if (a.value != nullptr && a.value != Py_None && !PyUnicode_Check(a.value)) {
      PyErr_SetString(PyExc_TypeError, "value must be str or None");
      return nullptr;
    }
    sim::Fault fault{*op, a.key, std::nullopt, a.status, a.nth};
    if (a.value != nullptr && a.value != Py_None) {
      fault.value = text_of(a.value);
      if (!fault.value) return nullptr;
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
  if (!PyUnicode_Check(arg)) {
    PyErr_SetString(PyExc_TypeError, "inline_snapshot() takes a str");
    return nullptr;
  }
  return guarded([&]() -> PyObject* {
    auto script = text_of(arg);
    if (!script) return nullptr;
    model::ProxyMode mode{model::ProxyMode::PacInline{std::move(*script), {}}};
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
  return wide_or_none(host, entry.host, "host");
}

struct ResolutionArgs {
  std::string delivery = "callback";
  std::uint32_t status = 0;
  double delay = 0;
  std::string on_close = "cancel";
  bool no_error_info = false;
  PyObject* extra = nullptr;
  std::uint32_t result_status = 0;
  PyObject* entries = nullptr;
  PyObject* count = nullptr;
};
using ResolutionParam = Param<ResolutionArgs>;
constexpr Signature kScriptResolution{
    "script_resolution",
    {ResolutionParam::of<&ResolutionArgs::delivery, c_text>("delivery", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::status, bits32>("status", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::delay, real>("delay", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::on_close, c_text>("on_close", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::no_error_info, truth>("no_error_info", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::extra, any_object>("extra", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::result_status, bits32>("result_status", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::entries, any_object>("entries", Pass::Name),
     ResolutionParam::of<&ResolutionArgs::count, any_object>("count", Pass::Name)}};

PyObject* script_resolution(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
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
    ResolutionArgs a;
    if (!bind<kScriptResolution>(args, nargs, kwnames, a)) return nullptr;
    Resolution r;
    if (!choice_of("delivery", a.delivery.c_str(), kDeliveries, r.delivery) ||
        !choice_of("on_close", a.on_close.c_str(), kOnClose, r.on_close))
      return nullptr;
    if (!(a.delay >= 0 && a.delay <= 3600)) {
      PyErr_SetString(PyExc_ValueError, "delay must be between 0 and 3600 seconds");
      return nullptr;
    }
    r.status = a.status;
    r.delay = std::chrono::milliseconds(static_cast<std::int64_t>(std::llround(a.delay * 1000)));
    r.no_error_info = a.no_error_info;
    r.result_status = a.result_status;
    if (a.extra != nullptr) {
      PyRef seq(PySequence_Fast(a.extra, "extra must be a sequence of notifications"));
      if (!seq) return nullptr;
      for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(seq.get()); ++i) {
        std::uint32_t n = 0;
        if (!u32_of(PySequence_Fast_GET_ITEM(seq.get(), i), "a notification", n)) return nullptr;
        r.extra_notifications.push_back(n);
      }
    }
    if (a.entries == Py_None) {
      r.result.entries.reset();
      r.result.count = 0;
    } else if (a.entries != nullptr) {
      PyRef seq(PySequence_Fast(a.entries, "entries must be a sequence or None"));
      if (!seq) return nullptr;
      std::vector<sys::win::ProxyResultEntry> list(
          static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq.get())));
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (!entry_of(PySequence_Fast_GET_ITEM(seq.get(), static_cast<Py_ssize_t>(i)), list[i]))
          return nullptr;
      }
      r.result.count = static_cast<std::uint32_t>(list.size());
      r.result.entries = std::move(list);
    }
    if (a.count != nullptr && a.count != Py_None && !u32_of(a.count, "count", r.result.count)) return nullptr;
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

constexpr Signature kDeliverHeldCallbacks{
    "deliver_held_callbacks",
    {Param<LastErrorArgs>::of<&LastErrorArgs::code, bits32>("error", Pass::Position)}};

PyObject* deliver_held_callbacks(PyObject*, PyObject* args) {
  return guarded([&]() -> PyObject* {
    LastErrorArgs a{sys::win::kErrorWinHttpOperationCancelled};
    if (!bind<kDeliverHeldCallbacks>(args, nullptr, a)) return nullptr;
    run_detached([&] {
      control().deliver_held_callbacks(a.code);
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
    {"set_string", fn(set_string), METH_FASTCALL | METH_KEYWORDS,
     "set_string(root, path, name, text, type=REG_SZ): UTF-16LE with its NUL."},
    {"set_value", set_value, METH_VARARGS, "set_value(root, path, name, type, data): raw bytes."},
    {"delete_value", delete_value, METH_VARARGS, "delete_value(root, path, name)"},
    {"delete_key", delete_key, METH_VARARGS, "delete_key(root, path)"},
    {"set_ie_config", fn(set_ie_config), METH_FASTCALL | METH_KEYWORDS,
     "set_ie_config(*, auto_detect=False, auto_config_url=None, proxy=None, proxy_bypass=None)"},
    {"fail_ie_config", fail_ie_config, METH_VARARGS, "fail_ie_config(last_error)"},
    {"set_default_proxy", fn(set_default_proxy), METH_FASTCALL | METH_KEYWORDS,
     "set_default_proxy(access_type, proxy=None, proxy_bypass=None)"},
    {"fail_default_proxy", fail_default_proxy, METH_VARARGS, "fail_default_proxy(last_error)"},
    {"fail_next", fn(fail_next), METH_FASTCALL | METH_KEYWORDS,
     "fail_next(op, status, *, key='', value=None, nth=1)"},
    {"log", log, METH_NOARGS, "The calls made: (op, key, value, status, injected)."},
    {"live_keys", live_keys, METH_NOARGS, "Registry keys open now."},
    {"live_handles", live_handles, METH_NOARGS, "Kernel handles open now."},
    {"script_resolution", fn(script_resolution), METH_FASTCALL | METH_KEYWORDS,
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
