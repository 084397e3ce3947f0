# Checks that a Windows DLL exports exactly the names in EXPECTED, unmangled.
#   cmake -DOBJDUMP=<objdump> -DDLL=<file> -DEXPECTED=<a;b> -P check_dll_exports.cmake
# objdump -p prints the export name table as "[   0] Name" lines under
# "[Ordinal/Name Pointer] Table".
foreach(var OBJDUMP DLL EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_dll_exports: -D${var}=... is required")
  endif()
endforeach()
if(NOT EXISTS "${DLL}")
  message(FATAL_ERROR "check_dll_exports: '${DLL}' does not exist")
endif()
execute_process(COMMAND "${OBJDUMP}" -p "${DLL}"
  OUTPUT_VARIABLE dump ERROR_VARIABLE dumpError RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "check_dll_exports: '${OBJDUMP} -p ${DLL}' failed (${status}): ${dumpError}")
endif()

string(REPLACE "\n" ";" lines "${dump}")
set(inTable FALSE)
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(inTable TRUE)
  elseif(inTable AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  elseif(inTable)
    set(inTable FALSE)
  endif()
endforeach()

list(SORT exported)
set(want ${EXPECTED})
list(SORT want)
if(NOT exported STREQUAL want)
  message(FATAL_ERROR "'${DLL}' exports [${exported}], expected exactly [${want}]")
endif()
message(STATUS "'${DLL}' exports exactly [${exported}]")
