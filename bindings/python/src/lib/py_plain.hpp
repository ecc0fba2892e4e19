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
// py_str for a text that is no longer needed: a reading with millions of refused values has a
// repr of hundreds of MB, and the text's pages go back to the system as they are copied, so
// the text and its str are never both whole in memory. The text is left empty.
PyRef py_str_consuming(std::string&& text);

}  // namespace zelvane::python
