#include "route.hpp"

#include <utility>

#include "detached.hpp"
#include "pac_policy.hpp"
#include "py_args.hpp"
#include "parse/endpoint.hpp"
#include "py_entry.hpp"
#include "py_plain.hpp"
#include "py_type.hpp"
#include "siphash.hpp"
#include "value/debug.hpp"
#include "value/url.hpp"

namespace zelvane::python {

using namespace model;
using namespace value;

namespace {

using pac::hostfn::PacPolicy;
using value::Url;
using RouteClass = StaticType<RouteValue>;

BindingError bad_value(std::string message) { return {std::move(message), kErrInvalidArgValue}; }

std::string_view kind_name(RouteKind kind) {
  switch (kind) {
    case RouteKind::Steps:
      return "steps";
    case RouteKind::Pac:
      return "pac";
    case RouteKind::PacInline:
      return "pac-inline";
    case RouteKind::Wpad:
      return "wpad";
  }
  return "steps";
}

std::string_view engine_name(EngineUsed engine) {
  switch (engine) {
    case EngineUsed::None:
      return "none";
    case EngineUsed::Native:
      return "native";
    case EngineUsed::QuickJs:
      return "quickjs";
  }
  return "none";
}

// The Python repr of the str made from the text; none with the Python error set.
std::optional<std::string> repr_str(std::string_view text) {
  PyRef str = py_str(text);
  if (!str) return std::nullopt;
  PyRef repr(PyObject_Repr(str.get()));
  if (!repr) return std::nullopt;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(repr.get(), &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(size));
}

std::size_t scalar_count(std::string_view utf8) {
  std::size_t n = 0;
  for (const char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

const RouteValue& route_of(PyObject* self) { return RouteClass::of(self); }

PyObject* optional_str(const std::optional<std::string>& text) {
  if (!text) Py_RETURN_NONE;
  return py_str(*text).release();
}

PyObject* get_kind(PyObject* self, void*) { return py_str(route_of(self).kind).release(); }
PyObject* get_engine(PyObject* self, void*) { return py_str(route_of(self).engine).release(); }
PyObject* get_pac_url(PyObject* self, void*) { return optional_str(route_of(self).pac_url); }
PyObject* get_script(PyObject* self, void*) { return optional_str(route_of(self).script); }
PyObject* get_steps(PyObject* self, void*) {
  return guarded([&]() -> PyObject* {
    const auto& steps = route_of(self).steps;
    if (!steps) Py_RETURN_NONE;
    PyRef list(PyList_New(static_cast<Py_ssize_t>(steps->size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < steps->size(); ++i) {
      PyObject* item = py_str((*steps)[i]).release();
      if (item == nullptr) return nullptr;
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
    }
    return list.release();
  });
}

PyGetSetDef route_getset[] = {
    {"kind", get_kind, nullptr, nullptr, nullptr},       {"steps", get_steps, nullptr, nullptr, nullptr},
    {"pac_url", get_pac_url, nullptr, nullptr, nullptr}, {"script", get_script, nullptr, nullptr, nullptr},
    {"engine", get_engine, nullptr, nullptr, nullptr},   {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyObject* route_richcompare(PyObject* a, PyObject* b, int op);

Py_hash_t route_tp_hash(PyObject* self) {
  return static_cast<Py_hash_t>(to_py_hash(route_hash(route_of(self))));
}

PyObject* route_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    const RouteValue& r = route_of(self);
    auto kind = repr_str(r.kind);
    if (!kind) return nullptr;
    auto engine = repr_str(r.engine);
    if (!engine) return nullptr;
    std::string detail;
    if (r.steps) {
      std::vector<std::string> redacted;
      redacted.reserve(r.steps->size());
      for (const std::string& step : *r.steps) redacted.push_back(redact_url(step));
      auto list = repr_str_list(redacted);
      if (!list) return nullptr;
      detail = ", steps=" + *list;
    } else if (r.pac_url) {
      auto url = repr_str(redact_url(*r.pac_url));
      if (!url) return nullptr;
      detail = ", pac_url=" + *url;
    } else if (r.script) {
      detail = ", script=<" + std::to_string(scalar_count(*r.script)) + " chars>";
    }
    return py_str("Route(kind=" + *kind + detail + ", engine=" + *engine + ")").release();
  });
}

PyType_Slot route_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(RouteClass::dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(route_repr)},
    {Py_tp_hash, reinterpret_cast<void*>(route_tp_hash)},
    {Py_tp_richcompare, reinterpret_cast<void*>(route_richcompare)},
    {Py_tp_getset, route_getset},
    {Py_tp_doc,
     const_cast<char*>(
         "Where a request to one URL goes: `kind`, the one field that kind carries, and the engine\n"
         "that answered it.\n\n"
         "`kind` is `\"steps\"`, `\"pac\"`, `\"pac-inline\"` or `\"wpad\"`. `steps` holds `\"direct\"` or\n"
         "proxy URLs with their credentials, so do not log it. `engine` is `\"none\"`, `\"native\"`\n"
         "or `\"quickjs\"`.")},
    {0, nullptr},
};

PyType_Spec route_spec = {
    "zelvane.Route",
    RouteClass::basic_size,
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    route_slots,
};

constinit RouteClass route_class{route_spec};

PyObject* route_richcompare(PyObject* a, PyObject* b, int op) {
  PyTypeObject* type = route_class.type();
  if (type == nullptr) return nullptr;
  if ((op != Py_EQ && op != Py_NE) || !PyObject_TypeCheck(a, type) || !PyObject_TypeCheck(b, type)) {
    Py_RETURN_NOTIMPLEMENTED;
  }
  const bool equal = route_of(a) == route_of(b);
  return PyBool_FromLong(op == Py_EQ ? equal : !equal);
}

// The five parameters of route(), url the only one that may come by position. Their types
// are all checked first, in this order; the texts are taken after.
struct RouteArgs {
  PyObject* url = nullptr;
  PyObject* pac = nullptr;
  PyObject* script = nullptr;
  bool wpad = false;
  const PacPolicy* policy = nullptr;
};

using RouteParam = Param<RouteArgs>;
constexpr Signature kRouteSignature{
    "route",
    {
        RouteParam::of<&RouteArgs::url, str_object>("url", Pass::Either, Need::Required),
        RouteParam::of<&RouteArgs::pac, str_object_or_none>("pac", Pass::Name),
        RouteParam::of<&RouteArgs::script, str_object_or_none>("script", Pass::Name),
        RouteParam::of<&RouteArgs::wpad, strict_bool>("wpad", Pass::Name),
        RouteParam::of<&RouteArgs::policy, policy_or_none>("policy", Pass::Name),
    }};

struct RawRouteArgs {
  std::string url;
  std::optional<std::string> pac;
  std::optional<std::string> script;
  bool wpad = false;
  PacPolicy policy;
};

bool take_route_args(const RouteArgs& args, RawRouteArgs& out) {
  auto url_text = lossy_text_of(args.url);
  if (!url_text) return false;
  out.url = std::move(*url_text);
  if (args.pac != nullptr) {
    out.pac = lossy_text_of(args.pac);
    if (!out.pac) return false;
  }
  if (args.script != nullptr) {
    out.script = lossy_text_of(args.script);
    if (!out.script) return false;
  }
  out.wpad = args.wpad;
  out.policy = args.policy ? *args.policy : default_policy();
  return true;
}

}  // namespace

std::expected<PacEngine, BindingError> parse_pac_engine(const std::optional<std::string>& text) {
  if (!text || *text == "none") return PacEngine::None;
  if (*text == "native") return PacEngine::Native;
  if (*text == "quickjs") return PacEngine::QuickJs;
  if (*text == "auto") return PacEngine::Auto;
  return std::unexpected(bad_value("unknown pac " + quoted_argument(*text)));
}

std::expected<RouteOptions, BindingError> RouteOptions::make(PacEngine pac, std::optional<std::string> script,
                                                             bool wpad, PacPolicy policy) {
  if (pac == PacEngine::None && script)
    return std::unexpected(bad_value("script needs a pac engine to run it"));
  if ((pac == PacEngine::None || pac == PacEngine::QuickJs) && wpad) {
    return std::unexpected(bad_value("wpad is discovery by the OS, which needs pac \"native\" or \"auto\""));
  }
  if (script && script->size() > kMaxScriptBytes)
    return std::unexpected(bad_value("script is longer than 1 MiB"));
  return RouteOptions{std::move(script), std::move(policy), wpad, pac};
}

std::expected<RouteResult, BindingError> resolve_route(const ProxyConfig& config, std::string_view url_text,
                                                       const RouteOptions& options) {
  auto url = Url::parse(url_text);
  if (!url) return std::unexpected(BindingError{std::string(value::message(url.error())), kErrInvalidUrl});
  auto answer = pac::resolve(config, *url,
                             pac::RouteRequest{options.pac, options.script, options.wpad, options.policy});
  if (!answer) return std::unexpected(error_parts(answer.error()));
  return std::move(*answer);
}

std::expected<std::string, BindingError> step_url(const RouteStep& step) {
  if (std::holds_alternative<RouteStep::Direct>(step.value)) return std::string("direct");
  if (auto url = parse::proxy_url_text(step)) return std::move(*url);
  std::string text;
  debug_fmt(text, step);
  return std::unexpected(BindingError{text + " has no URL form", kErrZelvane});
}

std::expected<RouteValue, BindingError> RouteValue::from_result(RouteResult result) {
  RouteValue route;
  route.kind = kind_name(result.kind);
  route.engine = engine_name(result.engine);
  switch (result.kind) {
    case RouteKind::Steps: {
      std::vector<std::string> texts;
      texts.reserve(result.steps.size());
      for (const RouteStep& step : result.steps) {
        auto text = step_url(step);
        if (!text) return std::unexpected(std::move(text.error()));
        texts.push_back(std::move(*text));
      }
      route.steps = std::move(texts);
      break;
    }
    case RouteKind::Pac:
      route.pac_url = std::move(result.text);
      break;
    case RouteKind::PacInline:
      route.script = std::move(result.text);
      break;
    case RouteKind::Wpad:
      break;
  }
  return route;
}

std::string redact_url(const std::string& text) { return value::redact_url(text); }

std::uint64_t route_hash(const RouteValue& route) {
  SipHash13 h;
  auto text = [&](std::string_view t) {
    h.write(t);
    h.write_u8(0xFF);
  };
  auto optional_text = [&](const std::optional<std::string>& t) {
    h.write_u64_le(t ? 1 : 0);
    if (t) text(*t);
  };
  text(route.kind);
  h.write_u64_le(route.steps ? 1 : 0);
  if (route.steps) h.write_str_list(*route.steps);
  optional_text(route.pac_url);
  optional_text(route.script);
  text(route.engine);
  return h.finish();
}

PyTypeObject* route_type() { return route_class.type(); }

PyObject* route_method(const ProxyConfig& config, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) {
  return guarded([&]() -> std::expected<PyObject*, BindingError> {
    RouteArgs given;
    if (!bind<kRouteSignature>(args, nargs, kwnames, given)) return nullptr;
    RawRouteArgs raw;
    if (!take_route_args(given, raw)) return nullptr;
    auto engine = parse_pac_engine(raw.pac);
    if (!engine) return std::unexpected(std::move(engine.error()));
    auto options = RouteOptions::make(*engine, std::move(raw.script), raw.wpad, std::move(raw.policy));
    if (!options) return std::unexpected(std::move(options.error()));
    auto result = run_detached([&] { return resolve_route(config, raw.url, *options); });
    if (!result) return std::unexpected(std::move(result.error()));
    auto value = RouteValue::from_result(std::move(*result));
    if (!value) return std::unexpected(std::move(value.error()));
    return route_class.create(std::move(*value));
  });
}

}  // namespace zelvane::python
