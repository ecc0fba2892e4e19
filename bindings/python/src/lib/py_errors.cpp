#include "py_errors.hpp"

#include <atomic>
#include <exception>
#include <new>
#include <utility>

#include "util/redact.hpp"
#include "value/debug.hpp"

namespace zelvane::python {

using namespace model;
using namespace value;

namespace {

constexpr const char kZelvaneErrorDoc[] =
    "A failure; `code` names it, as `ERR_INVALID_URL` or `ERR_WATCHER_CLOSED`.";

// Created once per process and never destroyed: threads may still raise it during exit.
// Read without the lock once it exists (see TypeCell).
PyMutex g_error_type_mutex;
std::atomic<PyObject*> g_error_type{nullptr};

}  // namespace

std::string_view error_code(ErrorCode code) {
  // No default: a code without its text is a compile error (-Wswitch).
  switch (code) {
    case ErrorCode::InvalidProxyServer:
      return "ERR_INVALID_PROXY_SERVER";
    case ErrorCode::InvalidBypassPattern:
      return "ERR_INVALID_BYPASS_PATTERN";
    case ErrorCode::InvalidProxyUrl:
      return "ERR_INVALID_PROXY_URL";
    case ErrorCode::UnsupportedProxyScheme:
      return "ERR_UNSUPPORTED_PROXY_SCHEME";
    case ErrorCode::CgiHttpProxy:
      return "ERR_CGI_HTTP_PROXY";
    case ErrorCode::Io:
      return "ERR_IO";
    case ErrorCode::Sandboxed:
      return "ERR_SANDBOXED";
    case ErrorCode::Unsupported:
      return "ERR_UNSUPPORTED";
    case ErrorCode::PacNotSupported:
      return "ERR_PAC_NOT_SUPPORTED";
    case ErrorCode::ProxyEntryUnusable:
      return "ERR_PROXY_ENTRY_UNUSABLE";
    case ErrorCode::PacFetchRequired:
      return "ERR_PAC_FETCH_REQUIRED";
    case ErrorCode::PacEvaluation:
      return "ERR_PAC_EVALUATION";
    case ErrorCode::PacTimeout:
      return "ERR_PAC_TIMEOUT";
    case ErrorCode::PacSaturated:
      return "ERR_PAC_SATURATED";
    case ErrorCode::PacInvalidResult:
      return "ERR_PAC_INVALID_RESULT";
    case ErrorCode::PacEngineUnavailable:
      return "ERR_PAC_ENGINE_UNAVAILABLE";
  }
  std::unreachable();
}

std::string_view error_code(const Error& e) { return error_code(e.code()); }

BindingError error_parts(const Error& e) { return {e.message(), error_code(e)}; }

std::string quoted_argument(std::string_view text) {
  return value::quoted(util::cut_to_chars(util::redact(text), 256));
}

std::string quoted_address_argument(std::string_view text) {
  if (text.find('@') != std::string_view::npos) return quoted_argument(text);
  return value::quoted(util::cut_to_chars(text, 256));
}

PyObject* zelvane_error_type() {
  if (PyObject* type = g_error_type.load(std::memory_order_acquire)) return type;
  // PyMutex detaches while it waits, so a thread waiting here never holds up the collector.
  PyMutex_Lock(&g_error_type_mutex);
  PyObject* type = g_error_type.load(std::memory_order_relaxed);
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc("zelvane.ZelvaneError", kZelvaneErrorDoc, PyExc_Exception, nullptr);
    if (type == nullptr) {
      PyErr_SetString(PyExc_RuntimeError, "Failed to initialize new exception type.");
    } else {
      g_error_type.store(type, std::memory_order_release);
    }
  }
  PyMutex_Unlock(&g_error_type_mutex);
  return type;
}

PyObject* to_py_err(const BindingError& e) {
  PyObject* type = zelvane_error_type();
  if (type == nullptr) return nullptr;
  PyRef message = py_str(e.message);
  if (!message) return nullptr;
  PyRef instance(PyObject_CallOneArg(type, message.get()));
  if (!instance) return nullptr;
  PyRef code = py_str(e.code);
  if (!code) return nullptr;
  if (PyObject_SetAttrString(instance.get(), "code", code.get()) < 0) return nullptr;
  PyErr_SetObject(type, instance.get());
  return nullptr;
}

void raise_fault(const std::exception& failure) noexcept {
  if (Py_IsFinalizing()) return;
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
    PyErr_NoMemory();
  } else {
    PyErr_Format(PyExc_SystemError, "zelvane internal fault: %s", failure.what());
  }
}

}  // namespace zelvane::python
