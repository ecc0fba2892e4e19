# Third-party sources, unpacked by scripts/bootstrap into its cache, compiled here so that every
# build (sanitizers and cross-builds included) uses the same sources.

if(NOT ZELVANE_ADA_SRC OR NOT EXISTS "${ZELVANE_ADA_SRC}/src/ada.cpp")
  message(FATAL_ERROR "ada-url sources not found at '${ZELVANE_ADA_SRC}': run scripts/bootstrap and pass -DZELVANE_ADA_SRC")
endif()
if(NOT ZELVANE_QUICKJS_SRC OR NOT EXISTS "${ZELVANE_QUICKJS_SRC}/quickjs.c")
  message(FATAL_ERROR "QuickJS-ng sources not found at '${ZELVANE_QUICKJS_SRC}': run scripts/bootstrap and pass -DZELVANE_QUICKJS_SRC")
endif()

# ada: one unity source. g++ 12 refuses it below -O2 (always_inline errors), so it is
# built optimised in every configuration, debug and sanitizer builds included.
add_library(zelvane_ada STATIC "${ZELVANE_ADA_SRC}/src/ada.cpp")
target_include_directories(zelvane_ada SYSTEM PUBLIC "${ZELVANE_ADA_SRC}/include")
target_include_directories(zelvane_ada PRIVATE "${ZELVANE_ADA_SRC}/src")
target_compile_definitions(zelvane_ada PUBLIC ADA_INCLUDE_URL_PATTERN=0)
target_compile_options(zelvane_ada PRIVATE -O2 -w)
target_compile_features(zelvane_ada PUBLIC cxx_std_20)

# QuickJS-ng: the engine's C sources, without its libc helpers.
add_library(zelvane_quickjs STATIC
  "${ZELVANE_QUICKJS_SRC}/quickjs.c"
  "${ZELVANE_QUICKJS_SRC}/libregexp.c"
  "${ZELVANE_QUICKJS_SRC}/libunicode.c"
  "${ZELVANE_QUICKJS_SRC}/dtoa.c")
set_target_properties(zelvane_quickjs PROPERTIES C_STANDARD 11 C_EXTENSIONS ON)
target_compile_definitions(zelvane_quickjs PRIVATE _GNU_SOURCE)
target_compile_options(zelvane_quickjs PRIVATE -O2 -w)
target_include_directories(zelvane_quickjs SYSTEM PUBLIC "${ZELVANE_QUICKJS_SRC}")
find_package(Threads REQUIRED)
target_link_libraries(zelvane_quickjs PUBLIC Threads::Threads)
if(NOT WIN32)
  target_link_libraries(zelvane_quickjs PUBLIC m)
endif()
