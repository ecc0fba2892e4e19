#include "process_env.hpp"

#include <string>
#include <string_view>
#include <utility>

#include "env_dict.hpp"
#include "util/utf8.hpp"

namespace zelvane::python {

// Where the system copies its block under its own lock (Windows), that copy is read. Elsewhere
// walking the C `environ` cannot be made safe: setenv() on another thread may move or free it
// mid-walk, and nothing locks it. There os.environ's own dict (bytes to bytes) is copied in
// one step under its lock, so the reading sees one state that some writer left. A program
// that replaced os.environ with another mapping gets that mapping read as `env` would be.
std::shared_ptr<const env::EnvVars> copy_process_env() {
  if (auto block = env::process_block_vars()) return std::make_shared<const env::EnvVars>(std::move(*block));
  PyRef os(PyImport_ImportModule("os"));
  if (!os) return nullptr;
  // Not named `environ`: the C runtime of Windows defines that as a macro.
  PyRef os_environ(PyObject_GetAttrString(os.get(), "environ"));
  if (!os_environ) return nullptr;
  PyRef data(PyObject_GetAttrString(os_environ.get(), "_data"));
  if (!data) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return nullptr;
    PyErr_Clear();
  }
  if (!data || !PyDict_Check(data.get())) return copy_env(os_environ.get());
  PyRef copy(PyDict_Copy(data.get()));
  if (!copy) return nullptr;
  // The copy is ours alone: no other thread can reach it.
  env::EnvVars vars;
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(copy.get(), &pos, &key, &value)) {
    if (!PyBytes_Check(key) || !PyBytes_Check(value)) continue;
    std::string_view name(PyBytes_AS_STRING(key), static_cast<std::size_t>(PyBytes_GET_SIZE(key)));
    if (!env::is_read_name(name)) continue;
    std::string_view text(PyBytes_AS_STRING(value), static_cast<std::size_t>(PyBytes_GET_SIZE(value)));
    vars.emplace(std::string(name), util::utf8_lossy(text));
  }
  return std::make_shared<const env::EnvVars>(std::move(vars));
}

}  // namespace zelvane::python
