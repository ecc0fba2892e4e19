# Cross-compiling the Windows build with mingw-w64 (posix threads, so std::thread exists).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
# The binutils of the same target: the Windows module's import library and the checks of its
# import and export tables.
find_program(ZELVANE_MINGW_NM x86_64-w64-mingw32-nm REQUIRED)
find_program(ZELVANE_MINGW_DLLTOOL x86_64-w64-mingw32-dlltool REQUIRED)
find_program(ZELVANE_MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
