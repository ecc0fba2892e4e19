# cmake -DNM= -DDLLTOOL= -DDLL= -DOBJECTS= -DDEF= -DLIB= -P import_library.cmake
# Writes DEF, naming every symbol of the C API (Py..., _Py...) that the objects listed in the
# file OBJECTS import through __imp_, then makes the import library LIB of DLL from it.
file(STRINGS "${OBJECTS}" objects)
set(names)
foreach(object IN LISTS objects)
  execute_process(COMMAND "${NM}" --undefined-only "${object}"
    OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REGEX MATCHALL "__imp__*Py[A-Za-z0-9_]*" found "${listing}")
  list(APPEND names ${found})
  # A name of the interpreter referenced without its __imp_ entry is an address fixed when the
  # module loads: the import thunk's, not the interpreter's own, which breaks every comparison
  # the interpreter makes with it (PyObject_HashNotImplemented, type objects).
  string(REGEX MATCHALL "[ \t]U _*Py[A-Za-z0-9_]*" direct "${listing}")
  if(direct)
    string(REGEX REPLACE "[ \t]U " "" direct "${direct}")
    message(FATAL_ERROR "${object} takes the address of ${direct} at load time, which on Windows is an "
                        "import thunk's: take it at run time instead")
  endif()
endforeach()
list(TRANSFORM names REPLACE "^__imp_" "")
list(REMOVE_DUPLICATES names)
list(SORT names)
if(NOT names)
  message(FATAL_ERROR "the module's objects import nothing from ${DLL}")
endif()
list(JOIN names "\n  " body)
file(WRITE "${DEF}.tmp" "LIBRARY ${DLL}\nEXPORTS\n  ${body}\n")
file(COPY_FILE "${DEF}.tmp" "${DEF}" ONLY_IF_DIFFERENT)
file(REMOVE "${DEF}.tmp")
execute_process(COMMAND "${DLLTOOL}" -d "${DEF}" -l "${LIB}" -D "${DLL}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${DLLTOOL} could not make ${LIB} from ${DEF}")
endif()
