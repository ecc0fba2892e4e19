// The guard of every C API entry of the module and of the simulation's control module: the
// body's result, or its failure as the right Python error. Nothing thrown crosses into the
// interpreter.
#pragma once

#include "py.hpp"

#include <expected>
#include <type_traits>
#include <utility>

#include "model/error.hpp"
#include "py_errors.hpp"

namespace zelvane::python {

namespace detail {
template <class R>
R entry_failure() {
  if constexpr (std::is_pointer_v<R>) {
    return nullptr;
  } else {
    return static_cast<R>(-1);  // int and Py_hash_t entries
  }
}
template <class T>
struct is_expected : std::false_type {};
template <class T, class E>
struct is_expected<std::expected<T, E>> : std::true_type {};
}  // namespace detail

// Runs the body of an entry. The body returns what the entry returns (PyObject*, int,
// Py_hash_t), null or -1 with the Python error set, or a std::expected of it whose error (an
// Error or a BindingError) becomes a ZelvaneError. A std::exception becomes the Python error of
// raise_fault.
//
// Only std::exception is caught. Once the interpreter is finalising, a thread that attaches
// again is ended where it attaches: on Linux by pthread_exit, whose forced unwind must pass
// through untouched (swallowed, it aborts the process) and runs the destructors on its way; on
// Windows by _endthreadex, which unwinds nothing, so no destructor on the thread's stack runs.
// What code relies on therefore holds on both: nothing after an attach is sure to run, and no
// lock, and nothing whose release another thread waits for, is held across one. What memory
// the thread owned at that point stays with the process, which is ending.
template <class F>
auto guarded(F&& body) {
  using Out = std::invoke_result_t<F&>;
  if constexpr (detail::is_expected<Out>::value) {
    using R = typename Out::value_type;
    try {
      Out out = body();
      if (out) return *out;
      to_py_err(out.error());
      return detail::entry_failure<R>();
    } catch (const std::exception& failure) {
      raise_fault(failure);
      return detail::entry_failure<R>();
    }
  } else {
    try {
      return body();
    } catch (const std::exception& failure) {
      raise_fault(failure);
      return detail::entry_failure<Out>();
    }
  }
}

}  // namespace zelvane::python
