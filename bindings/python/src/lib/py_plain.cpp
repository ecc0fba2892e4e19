#include "py_plain.hpp"

#include <vector>
#include "util/overloaded.hpp"

namespace zelvane::python {

PyObject* plain_to_py(const PlainValue& value) {
  return std::visit(util::Overloaded{
                        [](const std::monostate&) -> PyObject* { Py_RETURN_NONE; },
                        [](const bool& v) -> PyObject* { return PyBool_FromLong(v); },
                        [](const std::int64_t& v) -> PyObject* { return PyLong_FromLongLong(v); },
                        [](const std::string& v) -> PyObject* { return py_str(v).release(); },
                        [](const PlainList& v) -> PyObject* {
                          std::vector<PyRef> items;
                          items.reserve(v.size());
                          for (const auto& item : v) {
                            items.emplace_back(plain_to_py(item));
                            if (!items.back()) return nullptr;
                          }
                          PyRef list(PyList_New(static_cast<Py_ssize_t>(items.size())));
                          if (!list) return nullptr;
                          for (std::size_t i = 0; i < items.size(); ++i) {
                            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), items[i].release());
                          }
                          return list.release();
                        },
                        [](const PlainDict& v) -> PyObject* {
                          PyRef dict(PyDict_New());
                          if (!dict) return nullptr;
                          for (const auto& [key, item] : v) {
                            PyRef py_item(plain_to_py(item));
                            if (!py_item) return nullptr;
                            PyRef py_key = py_str(key);
                            if (!py_key || PyDict_SetItem(dict.get(), py_key.get(), py_item.get()) < 0)
                              return nullptr;
                          }
                          return dict.release();
                        },
                    },
                    value.value);
}

std::optional<std::string> repr_str_list(const std::vector<std::string>& texts) {
  PyRef list(plain_to_py(strings_to_values(texts)));
  if (!list) return std::nullopt;
  PyRef repr(PyObject_Repr(list.get()));
  if (!repr) return std::nullopt;
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(repr.get(), &size);
  if (utf8 == nullptr) return std::nullopt;
  return std::string(utf8, static_cast<std::size_t>(size));
}

}  // namespace zelvane::python
