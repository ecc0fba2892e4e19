# Benchmarks: every unit's foo_bench.cpp joins one program, bench/zelvane_bench, so that the
# table compares figures of one run (a PAC evaluation beside the runtime floor, one thread
# beside eight). Built natively only: Google Benchmark is the machine's (libbenchmark-dev).
#
#   zelvane_add_bench(SOURCES foo_bench.cpp ... LIBS the_unit's_library ...)
#
# (or BENCHES foo_bench.cpp in the folder's zelvane_layer) adds sources (relative to the calling folder) and the libraries they need; bench/ makes the
# program from what was added once every folder has been read.
if(CMAKE_CROSSCOMPILING)
  set(zelvane_bench_default OFF)
else()
  set(zelvane_bench_default ON)
endif()
option(ZELVANE_BENCH "build the benchmark program (Google Benchmark)" ${zelvane_bench_default})

function(zelvane_add_bench)
  cmake_parse_arguments(arg "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT ZELVANE_BENCH)
    return()
  endif()
  foreach(source IN LISTS arg_SOURCES)
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY "${CMAKE_CURRENT_SOURCE_DIR}" NORMALIZE)
    set_property(GLOBAL APPEND PROPERTY zelvane_bench_sources "${source}")
  endforeach()
  set_property(GLOBAL APPEND PROPERTY zelvane_bench_libs ${arg_LIBS})
endfunction()
