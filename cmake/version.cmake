# The product version, written once: project(VERSION) in the top-level
# CMakeLists.txt, overridable with -DKORVANE_VERSION=<major>.<minor>.<patch>.

# korvane_write_version(<version>)
# Checks <version> and writes what every part of the build takes it from:
# <build>/generated/korvane_version.h (C, C++ and resource scripts) and
# <build>/version.txt (the test scripts). Sets KORVANE_VERSION_MAJOR,
# _MINOR and _PATCH in the caller.
function(korvane_write_version version)
  if(NOT version MATCHES "^(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)$")
    message(FATAL_ERROR "KORVANE_VERSION \"${version}\" is not <major>.<minor>.<patch> (e.g. 0.2.0)")
  endif()
  set(major ${CMAKE_MATCH_1})
  set(minor ${CMAKE_MATCH_2})
  set(patch ${CMAKE_MATCH_3})
  foreach(part major minor patch)
    if(${part} GREATER 65535)
      message(FATAL_ERROR "KORVANE_VERSION \"${version}\": each number must be at most 65535")
    endif()
  endforeach()
  # file(CONFIGURE) rewrites only on change, so an unchanged version rebuilds nothing.
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/korvane_version.h @ONLY CONTENT
"/* The product version (written by cmake/version.cmake from KORVANE_VERSION).
   Plain #defines only: resource scripts include this file too. */
#pragma once
#define KORVANE_VERSION_TEXT \"@version@\"
#define KORVANE_VERSION_MAJOR @major@
#define KORVANE_VERSION_MINOR @minor@
#define KORVANE_VERSION_PATCH @patch@
")
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/version.txt @ONLY CONTENT "@version@\n")
  set(KORVANE_VERSION_MAJOR ${major} PARENT_SCOPE)
  set(KORVANE_VERSION_MINOR ${minor} PARENT_SCOPE)
  set(KORVANE_VERSION_PATCH ${patch} PARENT_SCOPE)
endfunction()
