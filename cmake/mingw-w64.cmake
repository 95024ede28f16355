# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# scripts/cross_build.sh does this and runs the tests under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUILL_MINGW_TRIPLET x86_64-w64-mingw32)
# The posix thread model: the writer's threads use std::thread and std::mutex, which the win32
# model of GCC 12 lacks.
set(CMAKE_C_COMPILER ${QUILL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUILL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Linked statically, so that a test runs under wine (or on a bare Windows) without the compiler's
# runtime DLLs (libstdc++, libgcc, winpthread) beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests run through wine when it is there; without it they are built but cannot run here.
find_program(QUILL_WINE NAMES wine wine64)
if(QUILL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILL_WINE})
endif()
