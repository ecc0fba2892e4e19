// The export tree as Python objects.
#pragma once

#include "py.hpp"

#include <optional>
#include <string>
#include <vector>

#include "export.hpp"

namespace zelvane::python {

// A new Python object, or null with the first Python error set.
PyObject* plain_to_py(const PlainValue& value);
// The Python repr of the list of str made from the texts; none with the error set.
std::optional<std::string> repr_str_list(const std::vector<std::string>& texts);

}  // namespace zelvane::python
