# Per-target build hygiene: warnings as errors and the chosen sanitizers.
# Called on every target the project defines; no directory-wide flags.
function(orbel_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  if(ORBEL_SANITIZE)
    string(REPLACE ";" "," _san "${ORBEL_SANITIZE}")
    target_compile_options(${target} PRIVATE -fsanitize=${_san} -fno-omit-frame-pointer -fno-sanitize-recover=all)
    target_link_options(${target} PRIVATE -fsanitize=${_san})
  endif()
endfunction()

# A GoogleTest executable, discovered test by test. SERIAL: its tests run
# with no other test beside them (they measure a whole process or flood
# loopback, and another test's load must not decide their outcome).
function(orbel_add_gtest name)
  cmake_parse_arguments(ARG "SERIAL" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  orbel_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  set(_serial)
  if(ARG_SERIAL)
    set(_serial RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 ${_serial})
endfunction()
