# Fuzz targets. Each parser's fuzzer is foo_fuzz.cpp beside foo.cpp and defines
# LLVMFuzzerTestOneInput. With ZELVANE_FUZZ (clang) it links libFuzzer and fuzzes; in every
# other build it links fuzz/replay_main.cpp, a driver that runs the function on files. Either
# way a CTest test replays the inputs kept in fuzz/regressions/<name>/, so an input that once
# crashed a fuzzer or broke its property is checked by every build from then on.
set(zelvane_fuzz_dir "${PROJECT_SOURCE_DIR}/fuzz")

# zelvane_add_fuzzer(NAME SOURCE LIBS ...)
function(zelvane_add_fuzzer name)
  cmake_parse_arguments(arg "" "SOURCE" "LIBS" ${ARGN})
  set(target ${name}_fuzz)
  if(ZELVANE_FUZZ)
    add_executable(${target} ${arg_SOURCE})
    target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    # -runs=0: run the inputs given, fuzz nothing.
    set(replay_args -runs=0)
  else()
    add_executable(${target} ${arg_SOURCE} "${zelvane_fuzz_dir}/replay_main.cpp")
    if(CMAKE_CROSSCOMPILING)
      target_link_options(${target} PRIVATE -static)
    endif()
    set(replay_args)
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/fuzzers")
  target_include_directories(${target} PRIVATE "${PROJECT_SOURCE_DIR}")
  target_link_libraries(${target} PRIVATE ${arg_LIBS} zelvane_flags)
  set_property(GLOBAL APPEND PROPERTY zelvane_fuzzers "${name}=${CMAKE_CURRENT_SOURCE_DIR}/${arg_SOURCE}")
  set(regressions "${zelvane_fuzz_dir}/regressions/${name}")
  if(EXISTS "${regressions}")
    add_test(NAME fuzz_regressions.${name} COMMAND ${target} ${replay_args} "${regressions}")
  endif()
endfunction()

# The fuzzers for scripts/test, one NAME=SOURCE a line (binaries: fuzzers/NAME_fuzz).
function(zelvane_write_fuzzer_list)
  get_property(names GLOBAL PROPERTY zelvane_fuzzers)
  list(JOIN names "\n" text)
  file(WRITE "${CMAKE_BINARY_DIR}/fuzzers.txt" "${text}\n")
endfunction()
