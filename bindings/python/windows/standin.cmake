# cmake -DDEF= -DOUT= -P standin.cmake
# The C source of a stand-in for the interpreter's DLL: every name of DEF defined, so that the
# loader can resolve the module's imports. Only PyModuleDef_Init does what the interpreter's does
# as far as PyInit_zelvane can tell (it hands the definition back); any other one, if called,
# ends the process, since nothing but PyInit_zelvane may run before the interpreter does.
file(STRINGS "${DEF}" lines)
set(body "#include <stdlib.h>\n")
foreach(line IN LISTS lines)
  string(STRIP "${line}" name)
  if(name MATCHES "^(LIBRARY|EXPORTS)" OR name STREQUAL "")
    continue()
  endif()
  if(name STREQUAL "PyModuleDef_Init")
    string(APPEND body "void* PyModuleDef_Init(void* def) { return def; }\n")
  else()
    string(APPEND body "void ${name}(void) { abort(); }\n")
  endif()
endforeach()
file(WRITE "${OUT}.tmp" "${body}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
