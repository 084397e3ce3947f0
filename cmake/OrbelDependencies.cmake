# Every library the build takes from the system is a Debian package, listed
# in scripts/install-deps.sh. When one is missing, configuring stops with the
# package's name rather than CMake's own search report, which names files
# and variables a newcomer has never heard of.

function(_orbel_missing what debian_package)
  message(FATAL_ERROR
    "${what} was not found. Install the Debian package ${debian_package}:\n"
    "    apt-get install ${debian_package}\n"
    "or, as root, scripts/install-deps.sh, which installs everything the build needs.")
endfunction()

# find_package(NAME ARGS...) that names DEBIAN_PACKAGE when it fails. A macro,
# so that the package's variables reach the caller as find_package's would.
macro(orbel_find_package name debian_package)
  find_package(${name} ${ARGN} QUIET)
  if(NOT ${name}_FOUND)
    _orbel_missing("${name}" "${debian_package}")
  endif()
endmacro()

# A C library without a CMake package file: its header and library, as the
# imported target TARGET.
function(orbel_find_library target header library debian_package)
  if(TARGET ${target})
    return()
  endif()
  string(MAKE_C_IDENTIFIER "ORBEL_${library}" var)
  find_path(${var}_INCLUDE_DIR ${header})
  find_library(${var}_LIBRARY ${library})
  if(NOT ${var}_INCLUDE_DIR OR NOT ${var}_LIBRARY)
    _orbel_missing("The library ${library} (${header})" "${debian_package}")
  endif()
  add_library(${target} UNKNOWN IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES
    IMPORTED_LOCATION "${${var}_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${${var}_INCLUDE_DIR}")
endfunction()
