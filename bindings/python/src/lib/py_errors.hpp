// The module's failures: BindingError inside, ZelvaneError with its `code` outside.
#pragma once

#include "py.hpp"

#include <exception>
#include <string>
#include <string_view>

#include "model/error.hpp"

namespace zelvane::python {

struct BindingError {
  std::string message;
  std::string_view code;  // ERR_...
};

inline constexpr std::string_view kErrInvalidArgValue = "ERR_INVALID_ARG_VALUE";
inline constexpr std::string_view kErrInvalidUrl = "ERR_INVALID_URL";
inline constexpr std::string_view kErrWatcherClosed = "ERR_WATCHER_CLOSED";
inline constexpr std::string_view kErrForked = "ERR_FORKED";
inline constexpr std::string_view kErrZelvane = "ERR_ZELVANE";

// The Python code of a core Error ("ERR_IO", ...), by its ErrorCode.
std::string_view error_code(model::ErrorCode code);
std::string_view error_code(const model::Error& e);
BindingError error_parts(const model::Error& e);

// The process-wide ZelvaneError class (borrowed; created on first use, never destroyed),
// or null with the Python error set.
PyObject* zelvane_error_type();

// A caller's argument as the message that refuses it shows it: redacted (a PAC URL with its
// password can land in the wrong argument), cut to 256 characters, and quoted.
std::string quoted_argument(std::string_view text);
// The same for an argument meant as an IP address: colons are how IPv6 writes it (a zone
// index included), so only a text with a user-info '@' is redacted; the rest is only cut.
std::string quoted_address_argument(std::string_view text);

// Raises a ZelvaneError carrying the message and `code`; always returns null.
PyObject* to_py_err(const BindingError& e);
inline PyObject* to_py_err(const model::Error& e) { return to_py_err(error_parts(e)); }

// Sets the Python error of a C++ failure: MemoryError for bad_alloc, SystemError
// "zelvane internal fault: ..." otherwise. Once the interpreter is finalising it sets nothing:
// the C API is not to be touched then. Entries reach it through guarded() (py_entry.hpp).
void raise_fault(const std::exception& failure) noexcept;

}  // namespace zelvane::python
