#include "py_errors.hpp"

#include <array>
#include <exception>
#include <new>

namespace zelvane::python {
namespace {

constexpr std::array<std::string_view, std::variant_size_v<Error::Value>> kCoreCodes = {
    "ERR_INVALID_PROXY_SERVER", "ERR_INVALID_BYPASS_PATTERN", "ERR_INVALID_PROXY_URL",
    "ERR_UNSUPPORTED_PROXY_SCHEME", "ERR_CGI_HTTP_PROXY", "ERR_IO", "ERR_SANDBOXED",
    "ERR_UNSUPPORTED", "ERR_PAC_NOT_SUPPORTED", "ERR_PROXY_ENTRY_UNUSABLE",
    "ERR_PAC_FETCH_REQUIRED", "ERR_PAC_EVALUATION", "ERR_PAC_TIMEOUT", "ERR_PAC_SATURATED",
    "ERR_PAC_INVALID_RESULT", "ERR_PAC_ENGINE_UNAVAILABLE",
};

constexpr const char kZelvaneErrorDoc[] =
    "A failure; `code` names it, as `ERR_INVALID_URL` or `ERR_WATCHER_CLOSED`.";

// Created once per process and never destroyed: threads may still raise it during exit.
PyMutex g_error_type_mutex;
PyObject* g_error_type = nullptr;

}  // namespace

std::string_view error_code(const Error& e) { return kCoreCodes[e.index()]; }

BindingError error_parts(const Error& e) { return {e.message(), error_code(e)}; }

PyObject* zelvane_error_type() {
  // PyMutex detaches while it waits, so a thread waiting here never holds up the collector.
  PyMutex_Lock(&g_error_type_mutex);
  if (g_error_type == nullptr) {
    g_error_type = PyErr_NewExceptionWithDoc("zelvane.ZelvaneError", kZelvaneErrorDoc,
                                             PyExc_Exception, nullptr);
    if (g_error_type == nullptr) {
      PyErr_SetString(PyExc_RuntimeError, "Failed to initialize new exception type.");
    }
  }
  PyObject* type = g_error_type;
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

PyObject* raise_internal_fault() noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& ex) {
    PyErr_Format(PyExc_SystemError, "zelvane internal fault: %s", ex.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "zelvane internal fault");
  }
  return nullptr;
}

}  // namespace zelvane::python
