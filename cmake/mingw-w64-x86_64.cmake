# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64).
# The -posix variant is the one with std::thread and std::mutex. Programs are
# linked statically so that Wine (or Windows) needs no mingw DLLs beside them.
#
#   cmake -S . -B build/mingw -G Ninja --toolchain cmake/mingw-w64-x86_64.cmake
#
# Only the parts without Qt and libobs build this way (see
# cmake/CorvexWindowsParts.cmake); ctest runs the tests under wine64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_corvex_mingw x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_corvex_mingw}-gcc-posix ${_corvex_mingw}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_corvex_mingw}-g++-posix ${_corvex_mingw}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_corvex_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_corvex_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian's wine64 package installs no "wine" wrapper on the PATH.
find_program(CORVEX_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(CORVEX_WINE64 NAMES wine64 wine)
if(CORVEX_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${CORVEX_WINE64}")
endif()
