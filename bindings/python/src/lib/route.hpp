// Snapshot.route and Route: where one URL goes under a snapshot, and who answered.
#pragma once

#include "py.hpp"

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <vector>

#include "model/config.hpp"
#include "model/route_step.hpp"
#include "pac/hostfn/policy.hpp"
#include "pac/resolve.hpp"
#include "py_errors.hpp"

namespace zelvane::python {

// The core's names (pac/resolve.hpp), which decides the road.
using PacEngine = pac::EngineChoice;
using RouteKind = pac::RouteKind;
using EngineUsed = pac::EngineUsed;

struct RouteOptions {
  std::optional<std::string> script;
  pac::hostfn::PacPolicy policy;
  bool wpad = false;
  PacEngine pac = PacEngine::None;

  static std::expected<RouteOptions, BindingError> make(PacEngine pac, std::optional<std::string> script,
                                                        bool wpad, pac::hostfn::PacPolicy policy);
};

// kind, the steps ("steps") or the text (the PAC URL of "pac", the script of "pac-inline"),
// and the engine.
using RouteResult = pac::RouteAnswer;

// What a Route holds, in the order of its equality and hash.
struct RouteValue {
  std::string kind;
  std::optional<std::vector<std::string>> steps;
  std::optional<std::string> pac_url;
  std::optional<std::string> script;
  std::string engine;

  static std::expected<RouteValue, BindingError> from_result(RouteResult result);
  friend bool operator==(const RouteValue&, const RouteValue&) = default;
};

inline constexpr std::size_t kMaxScriptBytes = 1'048'576;

std::expected<PacEngine, BindingError> parse_pac_engine(const std::optional<std::string>& text);
// Parses the URL and asks pac::resolve, which decides the road and runs it; blocks on an
// engine, so it runs detached.
std::expected<RouteResult, BindingError> resolve_route(const model::ProxyConfig& config, std::string_view url,
                                                       const RouteOptions& options);
std::expected<std::string, BindingError> step_url(const model::RouteStep& step);
// value::redact_url: the URL parser's password and whatever util::redact_credentials takes as
// a password replaced by "***"; anything else unchanged.
std::string redact_url(const std::string& text);
std::uint64_t route_hash(const RouteValue& route);

PyTypeObject* route_type();
// Snapshot.route on the snapshot's configuration (METH_FASTCALL | METH_KEYWORDS: no tuple of
// arguments is made for a call).
PyObject* route_method(const model::ProxyConfig& config, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);

}  // namespace zelvane::python
