# The locks build (ZELVANE_THREAD_SAFETY): clang's thread-safety analysis over the project's own
# code with its findings as errors, and a test that shows each kind of broken lock rule refused
# (src/util/locks.hpp holds the annotations; src/util/locks_compile_test.cpp the breaks).
if(NOT ZELVANE_THREAD_SAFETY)
  return()
endif()
if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 16))
  message(FATAL_ERROR "ZELVANE_THREAD_SAFETY needs clang 16 or newer (CMAKE_CXX_COMPILER=clang++-16), not ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}")
endif()

# The beta group holds the checks of the order in which mutexes nest (ACQUIRED_AFTER).
set(zelvane_thread_safety_flags -Wthread-safety -Wthread-safety-beta -Werror=thread-safety)
target_compile_options(zelvane_flags INTERFACE ${zelvane_thread_safety_flags})

add_test(NAME thread_safety_self_test
  COMMAND ${CMAKE_COMMAND} "-DCOMPILER=${CMAKE_CXX_COMPILER}"
          "-DFLAGS=${CMAKE_CXX23_STANDARD_COMPILE_OPTION};${zelvane_thread_safety_flags}"
          "-DSOURCE=${PROJECT_SOURCE_DIR}/src/util/locks_compile_test.cpp"
          "-DINCLUDE=${PROJECT_SOURCE_DIR}/src"
          -P "${PROJECT_SOURCE_DIR}/cmake/thread_safety_self_test.cmake")
