# Cross-build for 64-bit Windows with Debian's mingw-w64 g++ (posix threads,
# so std::thread and std::timed_mutex work). Programs and DLLs link libgcc,
# libstdc++ and winpthread statically: they run under wine, or on a bare
# Windows machine, without any DLL of the toolchain beside them.
#
#   cmake --preset windows && cmake --build --preset windows
#   scripts/windows-tests.sh   (builds, then runs every test under wine64)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_orbel_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_orbel_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_orbel_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${_orbel_mingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_orbel_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static: every library that has a static archive is linked from it
# (libgcc, libstdc++, winpthread); Windows' own DLLs only have import
# libraries, and the project's DLLs are named by their full paths.
set(_orbel_static_runtime "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_orbel_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_orbel_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_orbel_static_runtime}")

# Test programs (and their discovery by ctest) run under wine.
find_program(ORBEL_WINE64 NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(ORBEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORBEL_WINE64})
endif()
# List the tests when ctest runs, not at build time: a build then never
# starts wine.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)

# What the Linux host system provides for the target is set up after
# project(): GoogleTest from its sources, header-only packages, and the
# folders that cannot build for Windows.
set(CMAKE_PROJECT_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/mingw-w64-x86_64-project.cmake)
