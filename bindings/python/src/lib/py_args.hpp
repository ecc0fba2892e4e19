// The arguments of the module's functions, bound by one table per function: each parameter's
// name, how it may be passed, whether it is needed, and the converter that checks it, with the
// order in which the function converts them. A call that binds builds neither a tuple nor a
// dict. A call that does not is handed to the interpreter's own argument parser, which raises
// its TypeError worded as for any built-in (with the near keyword it suggests).
#pragma once

#include "py.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zelvane::python {

enum class Pass : std::uint8_t {
  Position,  // by position only
  Either,    // by position or by name
  Name,      // by name only, after the `*`
};

enum class Need : std::uint8_t { Optional, Required };

struct ParamShape {
  const char* name;
  Pass pass;
  Need need;
};

namespace detail {

// The argument parser's TypeError for a call that does not bind; always false. A function whose
// parameters all go by position is refused as PyArg_ParseTuple refuses it.
bool refuse_call(const char* function, std::span<const ParamShape> params, PyObject* args, PyObject* kwargs);
bool refuse_call(const char* function, std::span<const ParamShape> params, PyObject* const* args,
                 Py_ssize_t nargs, PyObject* kwnames);

// The parser is handed one output per parameter through its variable arguments.
inline constexpr std::size_t kMaxParams = 12;

}  // namespace detail

// One parameter of a function whose converted arguments make an Args. The converter takes the
// argument given (never null: a parameter left out keeps the value Args starts with) and the
// parameter's name for its messages; false with the Python error set.
template <class Args>
struct Param {
  using Convert = bool (*)(PyObject* given, Args& out, const char* name);

  ParamShape shape;
  Convert convert;

  template <auto Member, auto Converter>
  static consteval Param of(const char* name, Pass pass, Need need = Need::Optional) {
    return {{name, pass, need}, [](PyObject* given, Args& out, const char* param) {
              return Converter(given, out.*Member, param);
            }};
  }
};

template <class Args, std::size_t N>
class Signature {
 public:
  // The parameters in the order of the call; they are converted in that order, or in the
  // order that `order` names them.
  consteval Signature(const char* function, const Param<Args> (&params)[N]) : function_(function) {
    for (std::size_t i = 0; i < N; ++i) order_[i] = static_cast<std::uint8_t>(i);
    take(params);
  }
  consteval Signature(const char* function, const Param<Args> (&params)[N], const char* const (&order)[N])
      : function_(function) {
    take(params);
    std::array<bool, N> named{};
    for (std::size_t k = 0; k < N; ++k) {
      std::size_t i = 0;
      while (i < N && std::string_view(shapes_[i].name) != order[k]) ++i;
      if (i == N || named[i]) throw "the order names each parameter once";
      named[i] = true;
      order_[k] = static_cast<std::uint8_t>(i);
    }
  }

  // From the interpreter's vector call (METH_FASTCALL). Inline, so that the table of a
  // constant signature folds into the code that reads it.
  bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out) const {
    std::array<PyObject*, N> given{};
    bool bound = place_positional(args, nargs, given);
    const Py_ssize_t count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; bound && k < count; ++k) {
      bound = place_keyword(PyTuple_GET_ITEM(kwnames, k), args[nargs + k], given);
    }
    if (!bound || !all_needed_given(given)) {
      return detail::refuse_call(function_, shapes_, args, nargs, kwnames);
    }
    return convert(given, out);
  }

  // From a tuple and a dict (METH_VARARGS | METH_KEYWORDS, tp_new).
  bool bind(PyObject* args, PyObject* kwargs, Args& out) const {
    std::array<PyObject*, N> given{};
    bool bound = place_positional(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), given);
    Py_ssize_t pos = 0;
    PyObject* name = nullptr;
    PyObject* value = nullptr;
    while (bound && kwargs != nullptr && PyDict_Next(kwargs, &pos, &name, &value)) {
      bound = place_keyword(name, value, given);
    }
    if (!bound || !all_needed_given(given)) return detail::refuse_call(function_, shapes_, args, kwargs);
    return convert(given, out);
  }

 private:
  consteval void take(const Param<Args> (&params)[N]) {
    static_assert(N <= detail::kMaxParams);
    for (std::size_t i = 0; i < N; ++i) {
      shapes_[i] = params[i].shape;
      converters_[i] = params[i].convert;
      // What the argument parser's format can say: positional parameters first, needed ones
      // before any optional one, and a name-only parameter never needed.
      if (i > 0 && static_cast<int>(shapes_[i].pass) < static_cast<int>(shapes_[i - 1].pass)) {
        throw "positional parameters come first";
      }
      if (shapes_[i].need == Need::Required &&
          (shapes_[i].pass == Pass::Name || (i > 0 && shapes_[i - 1].need == Need::Optional))) {
        throw "needed parameters come first, and go by position";
      }
    }
  }

  bool place_positional(PyObject* const* args, Py_ssize_t nargs, std::array<PyObject*, N>& given) const {
    if (nargs < 0 || static_cast<std::size_t>(nargs) > N) return false;
    for (std::size_t i = 0; i < static_cast<std::size_t>(nargs); ++i) {
      if (shapes_[i].pass == Pass::Name) return false;
      given[i] = args[i];
    }
    return true;
  }

  bool place_keyword(PyObject* name, PyObject* value, std::array<PyObject*, N>& given) const {
    if (!PyUnicode_Check(name)) return false;
    for (std::size_t i = 0; i < N; ++i) {
      if (shapes_[i].pass != Pass::Position && PyUnicode_CompareWithASCIIString(name, shapes_[i].name) == 0) {
        if (given[i] != nullptr) return false;
        given[i] = value;
        return true;
      }
    }
    return false;
  }

  bool all_needed_given(const std::array<PyObject*, N>& given) const {
    for (std::size_t i = 0; i < N; ++i) {
      if (shapes_[i].need == Need::Required && given[i] == nullptr) return false;
    }
    return true;
  }

  bool convert(const std::array<PyObject*, N>& given, Args& out) const {
    for (const std::uint8_t i : order_) {
      if (given[i] != nullptr && !converters_[i](given[i], out, shapes_[i].name)) return false;
    }
    return true;
  }

  const char* function_;
  std::array<ParamShape, N> shapes_{};
  std::array<typename Param<Args>::Convert, N> converters_{};
  std::array<std::uint8_t, N> order_{};
};

// ---- converters

// Raises the TypeError "argument '{name}' must be {wanted}, not {type of given}"; false.
bool wrong_type(const char* name, const char* wanted, PyObject* given);

// The text of a str; none with the Python error set (a lone surrogate cannot be encoded and is
// refused by the interpreter's own error).
std::optional<std::string> text_of(PyObject* str);
// The same, taking a lone surrogate lossily: encoded keeping its surrogates, then each invalid
// sequence becomes U+FFFD. None only with an error of the interpreter's.
std::optional<std::string> lossy_text_of(PyObject* str);

// The converters a fast call passes through are inline, as the binder is.

// Any object, borrowed from the call.
inline bool any_object(PyObject* given, PyObject*& out, const char*) {
  out = given;
  return true;
}

// A str, borrowed as given: its text is taken once every argument's type has been checked.
inline bool str_object(PyObject* given, PyObject*& out, const char* name) {
  if (!PyUnicode_Check(given)) return wrong_type(name, "str", given);
  out = given;
  return true;
}

// A str or None, borrowed; None leaves `out` null.
inline bool str_object_or_none(PyObject* given, PyObject*& out, const char* name) {
  if (given == Py_None) return true;
  if (!PyUnicode_Check(given)) return wrong_type(name, "str or None", given);
  out = given;
  return true;
}

// True or False, nothing else.
inline bool strict_bool(PyObject* given, bool& out, const char* name) {
  if (!PyBool_Check(given)) return wrong_type(name, "bool", given);
  out = given == Py_True;
  return true;
}

// The lossy text of a str, or none for None.
bool lossy_text_or_none(PyObject* given, std::optional<std::string>& out, const char* name);
// Anything callable, borrowed; refused with "{name} must be callable".
bool callable(PyObject* given, PyObject*& out, const char* name);

}  // namespace zelvane::python
