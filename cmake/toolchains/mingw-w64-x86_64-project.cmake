# Included after project() in a Windows cross-build (see
# mingw-w64-x86_64.cmake). Debian ships GoogleTest and nlohmann_json for the
# build machine only, so the cross-build gets them here:
#  - GoogleTest is compiled from its sources (/usr/src/googletest) with the
#    cross compiler, and find_package(GTest) finds those targets;
#  - nlohmann_json is header-only: an interface target sees its headers
#    (and nothing else of /usr/include, which holds glibc's headers);
#  - Eigen's package file is used as it is (its headers have a folder of
#    their own).
# At the end of the top folder the list of test programs is written for
# scripts/windows-tests.sh.
if(PROJECT_NAME STREQUAL "CMAKE_TRY_COMPILE")
  return()  # the compiler checks' own little projects
endif()
include_guard(GLOBAL)

set(_orbel_deps ${CMAKE_BINARY_DIR}/_deps)

# GoogleTest. Its project() call comes back here; the include guard stops it.
set(ORBEL_GOOGLETEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for the cross-build")
if(NOT EXISTS ${ORBEL_GOOGLETEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "Windows build: GoogleTest sources not found in '${ORBEL_GOOGLETEST_SOURCE_DIR}' (apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${ORBEL_GOOGLETEST_SOURCE_DIR} ${_orbel_deps}/googletest EXCLUDE_FROM_ALL)
file(WRITE ${_orbel_deps}/cmake/GTest/GTestConfig.cmake
  "# Written by the Windows cross-build: GTest::gtest is built in this tree.\n"
  "set(GTest_FOUND TRUE)\n")
file(WRITE ${_orbel_deps}/cmake/GTest/GTestConfigVersion.cmake
  "set(PACKAGE_VERSION 1.12.1)\nset(PACKAGE_VERSION_COMPATIBLE TRUE)\n")
set(GTest_DIR ${_orbel_deps}/cmake/GTest CACHE PATH "" FORCE)

# nlohmann_json: its headers alone, through a folder that holds only them.
if(EXISTS /usr/include/nlohmann/json.hpp)
  file(MAKE_DIRECTORY ${_orbel_deps}/nlohmann_json/include)
  file(CREATE_LINK /usr/include/nlohmann ${_orbel_deps}/nlohmann_json/include/nlohmann SYMBOLIC)
  file(WRITE ${_orbel_deps}/cmake/nlohmann_json/nlohmann_jsonConfig.cmake
    "# Written by the Windows cross-build: the headers of the build machine's package.\n"
    "if(NOT TARGET nlohmann_json::nlohmann_json)\n"
    "  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)\n"
    "  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES\n"
    "    INTERFACE_INCLUDE_DIRECTORIES ${_orbel_deps}/nlohmann_json/include)\n"
    "endif()\n"
    "set(nlohmann_json_FOUND TRUE)\n")
  file(WRITE ${_orbel_deps}/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake
    "set(PACKAGE_VERSION 3.11.2)\n"
    "set(PACKAGE_VERSION_COMPATIBLE FALSE)\n"
    "if(PACKAGE_FIND_VERSION_MAJOR EQUAL 3)\n  set(PACKAGE_VERSION_COMPATIBLE TRUE)\nendif()\n")
  set(nlohmann_json_DIR ${_orbel_deps}/cmake/nlohmann_json CACHE PATH "" FORCE)
endif()

# Eigen: header-only, in a folder of its own, so its package file serves as is.
if(EXISTS /usr/share/eigen3/cmake/Eigen3Config.cmake)
  set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "" FORCE)
endif()

function(_orbel_windows_targets_in folder out)
  get_property(targets DIRECTORY ${folder} PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subfolders DIRECTORY ${folder} PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subfolders)
    _orbel_windows_targets_in(${sub} more)
    list(APPEND targets ${more})
  endforeach()
  set(${out} ${targets} PARENT_SCOPE)
endfunction()

function(_orbel_windows_finish)
  # Every GoogleTest program that tests/ defines for Windows, one path a line.
  set(lines "")
  if(EXISTS ${CMAKE_SOURCE_DIR}/tests/CMakeLists.txt AND ORBEL_BUILD_TESTS)
    _orbel_windows_targets_in(${CMAKE_SOURCE_DIR}/tests tested)
    foreach(target IN LISTS tested)
      get_target_property(type ${target} TYPE)
      get_target_property(libs ${target} LINK_LIBRARIES)
      if(type STREQUAL "EXECUTABLE" AND "GTest::gtest" IN_LIST libs)
        string(APPEND lines "$<TARGET_FILE:${target}>\n")
      endif()
    endforeach()
  endif()
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows-tests.txt CONTENT "${lines}")
endfunction()

cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _orbel_windows_finish)
