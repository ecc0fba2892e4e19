// Blocking work with the calling thread detached from the interpreter.
#pragma once

#include "py.hpp"

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "finalizing.hpp"

namespace zelvane::python {

// Runs f() detached and re-attaches before returning; a std::exception thrown by f is rethrown
// only once the thread is attached again, so no entry ever returns detached. Once the
// interpreter is finalising, the re-attach may end the thread instead (py_entry.hpp): f holds
// no lock when it returns.
template <class F>
auto run_detached(F&& f) -> decltype(f()) {
  using R = decltype(f());
  constexpr bool kVoid = std::is_void_v<R>;
  std::optional<std::conditional_t<kVoid, bool, R>> result;
  std::exception_ptr failure;
  Py_BEGIN_ALLOW_THREADS try {
    if constexpr (kVoid) {
      f();
    } else {
      result.emplace(f());
    }
  } catch (const std::exception&) {
    failure = std::current_exception();
  }
  before_reattach();
  Py_END_ALLOW_THREADS if (failure) std::rethrow_exception(failure);
  if constexpr (!kVoid) return std::move(*result);
}

}  // namespace zelvane::python
