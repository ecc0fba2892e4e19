// Loads the Windows module as the interpreter would, with a stand-in for python313t.dll loaded
// first (as python.exe has the real one loaded), and asks its one export for the module
// definition. The loader resolving every import against Windows' own DLLs, the module's
// start-up code and PyInit_zelvane are what this shows; nothing of the interpreter runs.
#include <Python.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "pyd_load_test: %s\n", what);
    ++failures;
  }
}

// CTest hands over the build's own paths; Wine shows the root of those as drive Z:.
std::wstring windows_path(const char* path) {
  std::wstring out;
  if (path[0] == '/') out = L"Z:";
  for (const char* p = path; *p != '\0'; ++p) out += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: pyd_load_test PYTHON313T.DLL MODULE.pyd\n");
    return 2;
  }
  if (LoadLibraryW(windows_path(argv[1]).c_str()) == nullptr) {
    std::fprintf(stderr, "pyd_load_test: the stand-in %s does not load: error %lu\n", argv[1],
                 GetLastError());
    return 1;
  }
  // The interpreter's own way of loading an extension module: its dependencies are looked for
  // beside it and in the system's folders, and python313t.dll is the one already loaded.
  HMODULE module = LoadLibraryExW(windows_path(argv[2]).c_str(), nullptr,
                                  LOAD_LIBRARY_SEARCH_DEFAULT_DIRS | LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR);
  if (module == nullptr) {
    std::fprintf(stderr, "pyd_load_test: %s does not load: error %lu\n", argv[2], GetLastError());
    return 1;
  }
  using Init = PyObject* (*)();
  const auto init =
      reinterpret_cast<Init>(reinterpret_cast<void (*)()>(GetProcAddress(module, "PyInit_zelvane")));
  if (init == nullptr) {
    std::fprintf(stderr, "pyd_load_test: %s exports no PyInit_zelvane\n", argv[2]);
    return 1;
  }
  // Multi-phase initialisation: the export hands back the definition and creates nothing.
  const auto* def = reinterpret_cast<const PyModuleDef*>(init());
  if (def == nullptr) {
    std::fprintf(stderr, "pyd_load_test: PyInit_zelvane returned nothing\n");
    return 1;
  }
  expect(def->m_name != nullptr && std::strcmp(def->m_name, "zelvane") == 0,
         "the module is not named zelvane");
  expect(def->m_doc != nullptr && def->m_doc[0] == '\0', "the module's docstring is not empty");
  expect(def->m_size == 0, "the module keeps per-module state");
  expect(def->m_methods == nullptr, "the module has a method table");
  bool exec = false;
  bool gil_not_used = false;
  for (const PyModuleDef_Slot* slot = def->m_slots; slot != nullptr && slot->slot != 0; ++slot) {
    if (slot->slot == Py_mod_exec) exec = slot->value != nullptr;
    if (slot->slot == Py_mod_gil) gil_not_used = slot->value == Py_MOD_GIL_NOT_USED;
  }
  expect(exec, "the module has no execution step");
  expect(gil_not_used, "the module does not declare that it runs without the GIL");
  if (failures == 0) std::printf("pyd_load_test: %s loads and defines the module zelvane\n", argv[2]);
  return failures == 0 ? 0 : 1;
}
