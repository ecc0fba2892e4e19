# The module for Windows: zelvane.cp313t-win_amd64.pyd, the name under which a free-threaded
# CPython 3.13 on Windows imports it, built from the same sources as the Linux module against
# the interpreter's own headers (ZELVANE_PY_WIN_INCLUDE). One DLL: the C++ runtime, libgcc and
# the thread library are linked in, so it needs nothing beside it but python313t.dll and
# Windows' own DLLs; check-pyd holds it to that.
set(pyd_suffix ".cp313t-win_amd64.pyd")
set(py_dll python313t.dll)
set(windows_dir "${CMAKE_CURRENT_SOURCE_DIR}/windows")

add_library(zelvane_python_objects OBJECT ${module_sources})
target_include_directories(zelvane_python_objects SYSTEM PRIVATE "${ZELVANE_PY_WIN_INCLUDE}")
target_include_directories(zelvane_python_objects PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}/src/lib")
target_link_libraries(zelvane_python_objects PRIVATE ${module_libs} zelvane_flags)
# The interpreter's inline reference counting reads the thread's id at gs:48 (__readgsqword),
# which g++ 12 at -O2 takes for a read past an array of zero elements.
target_compile_options(zelvane_python_objects PRIVATE -Wno-array-bounds)

# The interpreter's import library, made from the C API names that the module's own objects
# import, never from a copied binary: nm lists them, a .def names them, dlltool makes it.
set(py_objects_list "${CMAKE_CURRENT_BINARY_DIR}/module_objects.txt")
file(GENERATE OUTPUT "${py_objects_list}" CONTENT "$<JOIN:$<TARGET_OBJECTS:zelvane_python_objects>,\n>\n")
set(py_def "${CMAKE_CURRENT_BINARY_DIR}/python313t.def")
set(py_implib "${CMAKE_CURRENT_BINARY_DIR}/libpython313t.a")
add_custom_command(OUTPUT "${py_def}" "${py_implib}"
  COMMAND ${CMAKE_COMMAND} "-DNM=${ZELVANE_MINGW_NM}" "-DDLLTOOL=${ZELVANE_MINGW_DLLTOOL}"
          "-DDLL=${py_dll}" "-DOBJECTS=${py_objects_list}" "-DDEF=${py_def}" "-DLIB=${py_implib}"
          -P "${windows_dir}/import_library.cmake"
  DEPENDS zelvane_python_objects $<TARGET_OBJECTS:zelvane_python_objects> "${py_objects_list}"
          "${windows_dir}/import_library.cmake"
  COMMENT "Making the import library of ${py_dll} from the module's imports" VERBATIM)
add_custom_target(zelvane_python_implib DEPENDS "${py_implib}")

add_library(zelvane_python MODULE $<TARGET_OBJECTS:zelvane_python_objects>)
set_target_properties(zelvane_python PROPERTIES
  PREFIX "" OUTPUT_NAME zelvane SUFFIX "${pyd_suffix}" LINKER_LANGUAGE CXX
  LIBRARY_OUTPUT_DIRECTORY "${py_out}" LINK_DEPENDS "${py_implib}")
target_link_libraries(zelvane_python PRIVATE ${module_libs} zelvane_flags "${py_implib}")
# Shipped without its debugging information, which is twenty times the code.
target_link_options(zelvane_python PRIVATE -static -s)
add_dependencies(zelvane_python zelvane_python_implib zelvane_stub)
set(pyd "$<TARGET_FILE:zelvane_python>")

# Its import and export tables, and every name it takes from the interpreter one that
# python313t.dll exports: declared for Windows by the headers a module compiles against, and
# defined by a source that the interpreter's Windows build compiles into the DLL (exports.py
# reads PCbuild/pythoncore.vcxproj and preprocesses them, as that build configures them, with the
# mingw-w64 compiler). A name declared on every system but defined only on POSIX, or only by a
# source the Windows build leaves out, would load on Linux and fail the import on Windows.
set(check_pyd "${CMAKE_SOURCE_DIR}/scripts/check-pyd")
set(check_exports)
if(ZELVANE_PY_WIN_SOURCE AND ZELVANE_PYTHON)
  set(py_exports "${CMAKE_CURRENT_BINARY_DIR}/python313t_exports.txt")
  add_custom_command(OUTPUT "${py_exports}"
    COMMAND "${ZELVANE_PYTHON}" "${windows_dir}/exports.py" --cc "${CMAKE_C_COMPILER}"
            --include "${ZELVANE_PY_WIN_INCLUDE}" --source "${ZELVANE_PY_WIN_SOURCE}"
            --output "${py_exports}"
    DEPENDS "${windows_dir}/exports.py" "${ZELVANE_PY_WIN_INCLUDE}/pyconfig.h"
            "${ZELVANE_PY_WIN_SOURCE}/PCbuild/pythoncore.vcxproj"
    COMMENT "Listing the names ${py_dll} exports from the CPython source's Windows build" VERBATIM)
  add_custom_target(zelvane_python_exports ALL DEPENDS "${py_exports}")
  set(check_exports --exports "${py_exports}")
else()
  message(STATUS "zelvane: without ZELVANE_PY_WIN_SOURCE or ZELVANE_PYTHON the names the .pyd imports "
                 "from ${py_dll} are not checked")
endif()
add_test(NAME pyd_tables_self_test COMMAND "${check_pyd}" ${check_exports} --self-test)
add_test(NAME pyd_tables COMMAND "${check_pyd}" ${check_exports} "${pyd}")
set_tests_properties(pyd_tables_self_test pyd_tables PROPERTIES
  ENVIRONMENT "ZELVANE_MINGW_OBJDUMP=${ZELVANE_MINGW_OBJDUMP};ZELVANE_MINGW_CC=${CMAKE_C_COMPILER};ZELVANE_MINGW_DLLTOOL=${ZELVANE_MINGW_DLLTOOL}")

# Loading it under Wine: a stand-in for python313t.dll that exports the same names (made from
# the same .def; only PyModuleDef_Init does anything) lets the loader resolve every import
# against Windows' own DLLs, run the module's start-up code and hand out PyInit_zelvane.
set(standin_c "${CMAKE_CURRENT_BINARY_DIR}/python313t_standin.c")
add_custom_command(OUTPUT "${standin_c}"
  COMMAND ${CMAKE_COMMAND} "-DDEF=${py_def}" "-DOUT=${standin_c}" -P "${windows_dir}/standin.cmake"
  DEPENDS "${py_def}" "${windows_dir}/standin.cmake" VERBATIM)
add_library(zelvane_python_standin SHARED "${standin_c}" "${py_def}")
set_target_properties(zelvane_python_standin PROPERTIES
  PREFIX "" OUTPUT_NAME python313t RUNTIME_OUTPUT_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}/standin")
target_link_options(zelvane_python_standin PRIVATE -static)
add_executable(zelvane_pyd_load_test "${windows_dir}/pyd_load_test.cpp")
target_include_directories(zelvane_pyd_load_test SYSTEM PRIVATE "${ZELVANE_PY_WIN_INCLUDE}")
target_link_libraries(zelvane_pyd_load_test PRIVATE zelvane_flags)
target_link_options(zelvane_pyd_load_test PRIVATE -static)
add_dependencies(zelvane_pyd_load_test zelvane_python zelvane_python_standin)
add_test(NAME pyd_load_test COMMAND zelvane_pyd_load_test
  "$<TARGET_FILE:zelvane_python_standin>" "${pyd}")

# The same sources against the 3.14 headers, for Windows. The archive serves no 3.14 source, so
# no 3.14 PC/pyconfig.h: the 3.13 one stands in for it beside the 3.14 Include/.
if(ZELVANE_PY314_INCLUDE AND EXISTS "${ZELVANE_PY314_INCLUDE}/python3.14/Python.h")
  set(py314_win "${CMAKE_CURRENT_BINARY_DIR}/py314-win-include")
  file(COPY "${ZELVANE_PY314_INCLUDE}/python3.14/" DESTINATION "${py314_win}" PATTERN pyconfig.h EXCLUDE)
  file(COPY_FILE "${ZELVANE_PY_WIN_INCLUDE}/pyconfig.h" "${py314_win}/pyconfig.h" ONLY_IF_DIFFERENT)
  zelvane_py314_check("${CMAKE_CXX_COMPILER}" -isystem "${py314_win}")
else()
  message(STATUS "zelvane: CPython 3.14 headers not available; skipping the 3.14 compile check")
endif()
