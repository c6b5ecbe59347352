# What the mingw cross build makes: everything that needs neither Qt nor
# libobs, with GoogleTest built from Debian's sources. The tests run under
# Wine through CMAKE_CROSSCOMPILING_EMULATOR (set by the toolchain file).
set(CORVEX_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources to build for Windows")
if(NOT EXISTS "${CORVEX_GOOGLETEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "Corvex: no GoogleTest sources in ${CORVEX_GOOGLETEST_SOURCE} (Debian: googletest)")
endif()
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory("${CORVEX_GOOGLETEST_SOURCE}" "${PROJECT_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)

add_subdirectory(src/hud)
add_subdirectory(src/net)

enable_testing()
add_subdirectory(tests/windows)
