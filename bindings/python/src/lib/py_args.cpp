#include "py_args.hpp"

#include <string>

#include "util/utf8.hpp"

namespace zelvane::python {
namespace detail {
namespace {

// The parser's format for the parameters, every one an object: "O|$OO:read".
std::string format_of(const char* function, std::span<const ParamShape> params) {
  std::string format;
  bool optional = false;
  bool by_name = false;
  for (const ParamShape& p : params) {
    if (!optional && p.need == Need::Optional) {
      format += '|';
      optional = true;
    }
    if (!by_name && p.pass == Pass::Name) {
      format += '$';
      by_name = true;
    }
    format += 'O';
  }
  format += ':';
  format += function;
  return format;
}

}  // namespace

// Runs the parser on the call, which it refuses with its own error.
bool refuse_call(const char* function, std::span<const ParamShape> params, PyObject* args, PyObject* kwargs) {
  const std::string format = format_of(function, params);
  std::array<PyObject*, kMaxParams> out{};
  bool by_name = false;
  for (const ParamShape& p : params) by_name = by_name || p.pass != Pass::Position;
  int parsed = 0;
  if (by_name) {
    std::array<char*, kMaxParams + 1> names{};
    for (std::size_t i = 0; i < params.size(); ++i) {
      // The parser names a positional-only parameter by the empty text.
      names[i] = const_cast<char*>(params[i].pass == Pass::Position ? "" : params[i].name);
    }
    parsed = PyArg_ParseTupleAndKeywords(args, kwargs, format.c_str(), names.data(), &out[0], &out[1],
                                         &out[2], &out[3], &out[4], &out[5], &out[6], &out[7], &out[8],
                                         &out[9], &out[10], &out[11]);
  } else {
    parsed = PyArg_ParseTuple(args, format.c_str(), &out[0], &out[1], &out[2], &out[3], &out[4], &out[5],
                              &out[6], &out[7], &out[8], &out[9], &out[10], &out[11]);
  }
  if (parsed) PyErr_Format(PyExc_SystemError, "%s(): arguments refused without a reason", function);
  return false;
}

bool refuse_call(const char* function, std::span<const ParamShape> params, PyObject* const* args,
                 Py_ssize_t nargs, PyObject* kwnames) {
  // Made only for a call that is wrong.
  PyRef tuple(PyTuple_New(nargs));
  if (!tuple) return false;
  for (Py_ssize_t i = 0; i < nargs; ++i) PyTuple_SET_ITEM(tuple.get(), i, Py_NewRef(args[i]));
  PyRef kwargs;
  const Py_ssize_t count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
  if (count > 0) {
    kwargs = PyRef(PyDict_New());
    if (!kwargs) return false;
    for (Py_ssize_t k = 0; k < count; ++k) {
      if (PyDict_SetItem(kwargs.get(), PyTuple_GET_ITEM(kwnames, k), args[nargs + k]) < 0) return false;
    }
  }
  return refuse_call(function, params, tuple.get(), kwargs.get());
}

}  // namespace detail

bool wrong_type(const char* name, const char* wanted, PyObject* given) {
  PyErr_Format(PyExc_TypeError, "argument '%s' must be %s, not %s", name, wanted, Py_TYPE(given)->tp_name);
  return false;
}

std::optional<std::string> lossy_text_of(PyObject* str) {
  Py_ssize_t size = 0;
  if (const char* utf8 = PyUnicode_AsUTF8AndSize(str, &size)) {
    return std::string(utf8, static_cast<std::size_t>(size));
  }
  // Only a lone surrogate stops the encoding. Each becomes one U+FFFD, as text made of
  // Unicode scalar values (a URL, a script) takes it.
  if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return std::nullopt;
  PyErr_Clear();
  const int kind = PyUnicode_KIND(str);
  const void* data = PyUnicode_DATA(str);
  const Py_ssize_t length = PyUnicode_GET_LENGTH(str);
  std::string text;
  text.reserve(static_cast<std::size_t>(length));
  for (Py_ssize_t i = 0; i < length; ++i) {
    const Py_UCS4 c = PyUnicode_READ(kind, data, i);
    util::append_utf8(text, c >= 0xD800 && c <= 0xDFFF ? U'\uFFFD' : static_cast<char32_t>(c));
  }
  return text;
}

bool lossy_text_or_none(PyObject* given, std::optional<std::string>& out, const char* name) {
  if (given == Py_None) return true;
  if (!PyUnicode_Check(given)) return wrong_type(name, "str or None", given);
  out = lossy_text_of(given);
  return out.has_value();
}

bool callable(PyObject* given, PyObject*& out, const char* name) {
  if (!PyCallable_Check(given)) {
    PyErr_Format(PyExc_TypeError, "%s must be callable", name);
    return false;
  }
  out = given;
  return true;
}

}  // namespace zelvane::python
