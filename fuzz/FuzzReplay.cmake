# Replays one fuzz target's kept inputs (fuzz/corpus/<target>/ and
# fuzz/regressions/<target>/) through the target's own checks in the normal
# test suite, built with the project's compiler and sanitizers: a fault found
# by fuzzing stays caught without clang. Called from the room that owns the
# parser:
#   include(${PROJECT_SOURCE_DIR}/fuzz/FuzzReplay.cmake)
#   orbel_add_fuzz_replay(<target> SOURCES <parser sources> INCLUDES ... LIBS ...)
set(ORBEL_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})

function(orbel_add_fuzz_replay target)
  # Fuzzing, and so its inputs, are a Linux matter.
  if(WIN32)
    return()
  endif()
  cmake_parse_arguments(ARG "" "" "SOURCES;INCLUDES;LIBS" ${ARGN})
  set(name orbel_${target}_replay_test)
  orbel_add_gtest(${name}
    SOURCES ${ORBEL_FUZZ_DIR}/fuzz_replay_test.cpp ${ORBEL_FUZZ_DIR}/${target}.cpp ${ARG_SOURCES}
    LIBS ${ARG_LIBS})
  target_include_directories(${name} PRIVATE ${ORBEL_FUZZ_DIR} ${ARG_INCLUDES})
  target_compile_definitions(${name} PRIVATE
    ORBEL_FUZZ_REPLAY ORBEL_FUZZ_DIR="${ORBEL_FUZZ_DIR}" ORBEL_FUZZ_TARGET="${target}")
endfunction()
