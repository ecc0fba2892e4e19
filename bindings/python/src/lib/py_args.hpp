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
#include <utility>

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

// A function's parameters in the order of the call: needed ones first, then optional ones,
// and those that go by name only last. They are converted in that order, or in the order
// `order` names them. Made at compile time, which refuses a table the parser could not word.
template <class Args, std::size_t N>
class Signature {
 public:
  using Arguments = Args;

  consteval Signature(const char* function, const Param<Args> (&params)[N]) : function_(function) {
    for (std::size_t i = 0; i < N; ++i) order_[i] = i;
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
      order_[k] = i;
    }
  }

  static constexpr std::size_t size() { return N; }
  constexpr const char* function() const { return function_; }
  constexpr std::span<const ParamShape, N> shapes() const { return shapes_; }
  constexpr const ParamShape& shape(std::size_t i) const { return shapes_[i]; }
  constexpr typename Param<Args>::Convert converter(std::size_t i) const { return converters_[i]; }
  // The parameter converted k-th.
  constexpr std::size_t order(std::size_t k) const { return order_[k]; }
  // How many may come by position, and how many are needed.
  constexpr std::size_t positional() const { return positional_; }
  constexpr std::size_t needed() const { return needed_; }

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
      positional_ += shapes_[i].pass != Pass::Name;
      needed_ += shapes_[i].need == Need::Required;
    }
  }

  const char* function_;
  std::array<ParamShape, N> shapes_{};
  std::array<typename Param<Args>::Convert, N> converters_{};
  std::array<std::size_t, N> order_{};
  std::size_t positional_ = 0;
  std::size_t needed_ = 0;
};

namespace detail {

// Whether the name is that of parameter I of S, which may be given by name.
template <const auto& S, std::size_t I>
bool names(PyObject* name) {
  constexpr ParamShape shape = S.shape(I);
  if constexpr (shape.pass == Pass::Position) {
    return false;
  } else {
    return PyUnicode_CompareWithASCIIString(name, shape.name) == 0;
  }
}

// The index of the first parameter of S that may be given by this name; S.size() for none.
template <const auto& S, std::size_t... I>
std::size_t keyword_index(PyObject* name, std::index_sequence<I...>) {
  std::size_t found = S.size();
  (void)((names<S, I>(name) ? (found = I, true) : false) || ...);
  return found;
}

template <const auto& S, std::size_t N>
bool place_keyword(PyObject* name, PyObject* value, std::array<PyObject*, N>& given) {
  if (!PyUnicode_Check(name)) return false;
  const std::size_t i = keyword_index<S>(name, std::make_index_sequence<N>{});
  if (i == N || given[i] != nullptr) return false;
  given[i] = value;
  return true;
}

template <const auto& S, std::size_t N>
bool place_positional(PyObject* const* args, Py_ssize_t nargs, std::array<PyObject*, N>& given) {
  constexpr std::size_t positional = S.positional();
  if (nargs < 0 || static_cast<std::size_t>(nargs) > positional) return false;
  for (std::size_t i = 0; i < static_cast<std::size_t>(nargs); ++i) given[i] = args[i];
  return true;
}

template <const auto& S, std::size_t N>
bool all_needed_given(const std::array<PyObject*, N>& given) {
  constexpr std::size_t needed = S.needed();
  for (std::size_t i = 0; i < needed; ++i) {
    if (given[i] == nullptr) return false;
  }
  return true;
}

template <const auto& S, std::size_t I, class Args, std::size_t N>
bool convert_one(const std::array<PyObject*, N>& given, Args& out) {
  constexpr auto convert = S.converter(I);
  constexpr const char* name = S.shape(I).name;
  return given[I] == nullptr || convert(given[I], out, name);
}

template <const auto& S, class Args, std::size_t N, std::size_t... K>
bool convert_all(const std::array<PyObject*, N>& given, Args& out, std::index_sequence<K...>) {
  return (convert_one<S, S.order(K)>(given, out) && ...);
}

}  // namespace detail

// Binds a call by the signature S. S is a constant, so its table folds into the code: the
// checks are those one would write by hand, and each converter is called directly.
//
// From the interpreter's vector call (METH_FASTCALL).
template <const auto& S, class Args>
bool bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Args& out) {
  constexpr std::size_t N = S.size();
  std::array<PyObject*, N> given{};
  bool bound = detail::place_positional<S>(args, nargs, given);
  const Py_ssize_t count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t k = 0; bound && k < count; ++k) {
    bound = detail::place_keyword<S>(PyTuple_GET_ITEM(kwnames, k), args[nargs + k], given);
  }
  if (!bound || !detail::all_needed_given<S>(given)) {
    return detail::refuse_call(S.function(), S.shapes(), args, nargs, kwnames);
  }
  return detail::convert_all<S>(given, out, std::make_index_sequence<N>{});
}

// From a tuple and a dict (METH_VARARGS | METH_KEYWORDS, tp_new).
template <const auto& S, class Args>
bool bind(PyObject* args, PyObject* kwargs, Args& out) {
  constexpr std::size_t N = S.size();
  std::array<PyObject*, N> given{};
  bool bound = detail::place_positional<S>(&PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), given);
  Py_ssize_t pos = 0;
  PyObject* name = nullptr;
  PyObject* value = nullptr;
  while (bound && kwargs != nullptr && PyDict_Next(kwargs, &pos, &name, &value)) {
    bound = detail::place_keyword<S>(name, value, given);
  }
  if (!bound || !detail::all_needed_given<S>(given)) {
    return detail::refuse_call(S.function(), S.shapes(), args, kwargs);
  }
  return detail::convert_all<S>(given, out, std::make_index_sequence<N>{});
}

// ---- converters

// Raises the TypeError "argument '{name}' must be {wanted}, not {type of given}"; false.
bool wrong_type(const char* name, const char* wanted, PyObject* given);

// The text of a str, a lone surrogate in it taken as U+FFFD; none only with an error of the
// interpreter's. Every text argument is read so: a value that cannot be encoded gets the
// argument's own refusal, never the interpreter's UnicodeEncodeError.
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
