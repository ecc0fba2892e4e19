# GoogleTest: the machine's own build natively; Debian's GoogleTest sources compiled for the
# target when cross-compiling (the Windows test programs run under Wine).
if(CMAKE_CROSSCOMPILING)
  set(zelvane_gtest_src /usr/src/googletest)
  if(NOT EXISTS "${zelvane_gtest_src}/CMakeLists.txt")
    message(FATAL_ERROR "GoogleTest sources not found at ${zelvane_gtest_src} (Debian package googletest)")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory("${zelvane_gtest_src}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL SYSTEM)
  add_library(zelvane_gtest INTERFACE)
  target_link_libraries(zelvane_gtest INTERFACE gmock gtest_main)
else()
  find_package(GTest REQUIRED)
  add_library(zelvane_gtest INTERFACE)
  target_link_libraries(zelvane_gtest INTERFACE GTest::gmock GTest::gtest_main)
endif()
include(GoogleTest)

# zelvane_add_test(NAME SOURCES... LIBS ...): one test program; natively every case is its own
# CTest test, under Wine the program runs whole (each start of a Wine process costs).
# The fuzz build holds the fuzzers alone: the asan build runs these tests under the sanitizers.
function(zelvane_add_test name)
  if(ZELVANE_FUZZ)
    return()
  endif()
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${arg_SOURCES})
  target_link_libraries(${name} PRIVATE ${arg_LIBS} zelvane_gtest zelvane_flags)
  if(CMAKE_CROSSCOMPILING)
    target_link_options(${name} PRIVATE -static)
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# zelvane_layer(NAME SOURCES... DEPENDS... TESTS... BENCHES...): one layer of src/ as a static
# library of the listed sources, linked to the layers below it that it may include, its test
# program when it has tests, and its benchmarks' sources added to the benchmark program
# (cmake/bench.cmake). Headers are reached from src/ ("value/url.hpp"); scripts/check-layers holds
# the include rule itself.
function(zelvane_layer name)
  cmake_parse_arguments(arg "" "" "SOURCES;DEPENDS;TESTS;BENCHES" ${ARGN})
  add_library(${name} STATIC ${arg_SOURCES})
  target_include_directories(${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  target_link_libraries(${name} PUBLIC ${arg_DEPENDS} PRIVATE zelvane_flags)
  if(arg_TESTS)
    zelvane_add_test(${name}_tests SOURCES ${arg_TESTS} LIBS ${name})
  endif()
  if(arg_BENCHES)
    zelvane_add_bench(SOURCES ${arg_BENCHES} LIBS ${name})
  endif()
endfunction()
