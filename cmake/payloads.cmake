# The two payloads compiled into the installer: APP_EXE_GZ (Korvane.exe) and
# WEBVIEW_LOADER_GZ (WebView2Loader.dll), each one gzip member carried byte
# for byte in read-only data (src/payload/payloads.S, .incbin).
#
# Each payload comes from a ready gzip file, from the raw file packed at
# build time, or, when neither is named, from the stand-in built from
# standin/. Every payload is checked before it is embedded: exactly one
# well-formed member that the installer's own decoder accepts. See
# payload/README.md.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/resources.cmake)
include(ExternalProject)
enable_language(ASM)

set(KORVANE_APP_EXE_GZ "" CACHE FILEPATH
    "The application payload as a ready gzip file (empty: pack KORVANE_APP_EXE)")
set(KORVANE_APP_EXE "" CACHE FILEPATH
    "Korvane.exe to pack at build time (empty with KORVANE_APP_EXE_GZ empty: the stand-in)")
set(KORVANE_WEBVIEW_LOADER_GZ "" CACHE FILEPATH
    "The WebView2 loader payload as a ready gzip file (empty: pack KORVANE_WEBVIEW_LOADER_DLL)")
set(KORVANE_WEBVIEW_LOADER_DLL "" CACHE FILEPATH
    "WebView2Loader.dll to pack at build time (empty with KORVANE_WEBVIEW_LOADER_GZ empty: the stand-in)")

set(KORVANE_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
cmake_path(NORMAL_PATH KORVANE_SOURCE_ROOT)

# Host tools, built for the build machine with its own compiler (no toolchain
# file). BUILD_ALWAYS: the sub-build decides itself what is out of date.
set(KORVANE_PAYLOAD_TOOL ${CMAKE_BINARY_DIR}/host-tools/payload_tool)
string(REPLACE ";" "|" korvane_host_warnings "${KORVANE_WARNINGS}")
ExternalProject_Add(korvane_host_tools
  SOURCE_DIR ${KORVANE_SOURCE_ROOT}/tools
  BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools
  LIST_SEPARATOR |
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DKORVANE_SOURCE_DIR=${KORVANE_SOURCE_ROOT}
             -DKORVANE_WARNINGS=${korvane_host_warnings}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${KORVANE_PAYLOAD_TOOL})

add_subdirectory(${KORVANE_SOURCE_ROOT}/standin ${CMAKE_BINARY_DIR}/standin)

# Resolves one payload to a gzip file and a target that brings it up to date:
# sets KORVANE_<id>_FILE and KORVANE_<id>_TARGET (id APP_EXE_GZ or
# WEBVIEW_LOADER_GZ) in the caller.
function(korvane_resolve_payload id raw_option standin file_name)
  set(gz "${KORVANE_${id}}")
  set(raw "${${raw_option}}")
  string(TOLOWER "korvane_payload_${id}" target)
  if(gz AND raw)
    message(FATAL_ERROR "KORVANE_${id} and ${raw_option} both name the ${file_name} payload: set one of them")
  endif()
  if(gz)
    cmake_path(ABSOLUTE_PATH gz BASE_DIRECTORY ${CMAKE_BINARY_DIR} NORMALIZE)
    if(NOT EXISTS ${gz} OR IS_DIRECTORY ${gz})
      message(FATAL_ERROR "KORVANE_${id}: no such file: ${gz}")
    endif()
    set(file ${gz})
    add_custom_target(${target} DEPENDS ${gz})
  else()
    set(file ${CMAKE_BINARY_DIR}/payload/${file_name}.gz)
    if(raw)
      cmake_path(ABSOLUTE_PATH raw BASE_DIRECTORY ${CMAKE_BINARY_DIR} NORMALIZE)
      if(NOT EXISTS ${raw} OR IS_DIRECTORY ${raw})
        message(FATAL_ERROR "${raw_option}: no such file: ${raw}")
      endif()
      set(input ${raw})
      set(input_deps ${raw})
    else()
      set(input $<TARGET_FILE:${standin}>)
      set(input_deps ${standin})
    endif()
    add_custom_command(
      OUTPUT ${file}
      COMMAND ${KORVANE_PAYLOAD_TOOL} pack ${input} ${file}
      DEPENDS ${input_deps} ${KORVANE_PAYLOAD_TOOL} korvane_host_tools
      COMMENT "Packing ${file_name} into ${file}"
      VERBATIM)
    add_custom_target(${target} DEPENDS ${file})
  endif()
  set(KORVANE_${id}_FILE ${file} PARENT_SCOPE)
  set(KORVANE_${id}_TARGET ${target} PARENT_SCOPE)
endfunction()

korvane_resolve_payload(APP_EXE_GZ KORVANE_APP_EXE korvane_standin_app Korvane.exe)
korvane_resolve_payload(WEBVIEW_LOADER_GZ KORVANE_WEBVIEW_LOADER_DLL korvane_standin_loader
                        WebView2Loader.dll)
# The targets that bring the default payload files up to date.
set(KORVANE_DEFAULT_PAYLOAD_TARGETS ${KORVANE_APP_EXE_GZ_TARGET} ${KORVANE_WEBVIEW_LOADER_GZ_TARGET})

# korvane_embed_payloads(<target> APP_EXE_GZ <file> WEBVIEW_LOADER_GZ <file>
#                        [DEPENDS <targets>...] [NO_CHECK])
# Compiles the two gzip files into <target> as APP_EXE_GZ and
# WEBVIEW_LOADER_GZ. DEPENDS names the targets that make the files. Unless
# NO_CHECK, both files are checked first and a bad one stops the build.
# Editing either file rebuilds <target>.
function(korvane_embed_payloads target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_CHECK" "APP_EXE_GZ;WEBVIEW_LOADER_GZ" "DEPENDS")
  foreach(key APP_EXE_GZ WEBVIEW_LOADER_GZ)
    if(NOT arg_${key})
      message(FATAL_ERROR "korvane_embed_payloads(${target}): ${key} names no file")
    endif()
    # The path becomes an assembler string: it must need no escaping.
    if(arg_${key} MATCHES "[\"\\\\\n]")
      message(FATAL_ERROR "korvane_embed_payloads(${target}): unusable path ${arg_${key}}")
    endif()
  endforeach()
  set(app ${arg_APP_EXE_GZ})
  set(loader ${arg_WEBVIEW_LOADER_GZ})

  # One assembler file per installer, so that each depends on its own files.
  set(wrapper ${CMAKE_CURRENT_BINARY_DIR}/${target}_payloads.S)
  file(CONFIGURE OUTPUT ${wrapper} @ONLY CONTENT
"/* The payloads of @target@ (written by cmake/payloads.cmake). */
#define KORVANE_APP_EXE_GZ_FILE \"@app@\"
#define KORVANE_WEBVIEW_LOADER_GZ_FILE \"@loader@\"
#include \"@KORVANE_SOURCE_ROOT@/src/payload/payloads.S\"
")
  # A library of its own keeps the C++ options of <target> away from the assembler.
  add_library(${target}_payloads OBJECT ${wrapper})
  set_source_files_properties(${wrapper} PROPERTIES OBJECT_DEPENDS "${app};${loader}")
  if(arg_DEPENDS)
    add_dependencies(${target}_payloads ${arg_DEPENDS})
  endif()

  if(NOT arg_NO_CHECK)
    set(stamp ${CMAKE_CURRENT_BINARY_DIR}/${target}_payloads.checked)
    add_custom_command(
      OUTPUT ${stamp}
      COMMAND ${KORVANE_PAYLOAD_TOOL} check ${app} ${loader}
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${app} ${loader} ${KORVANE_PAYLOAD_TOOL} korvane_host_tools
      COMMENT "Checking the payloads of ${target}"
      VERBATIM)
    add_custom_target(${target}_payload_check DEPENDS ${stamp})
    if(arg_DEPENDS)
      add_dependencies(${target}_payload_check ${arg_DEPENDS})
    endif()
    add_dependencies(${target}_payloads ${target}_payload_check)
  endif()

  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_payloads>)
endfunction()

# korvane_add_installer(<name> APP_EXE_GZ <file> WEBVIEW_LOADER_GZ <file>
#                       [DEPENDS <targets>...] [NO_CHECK])
# Another installer executable <name>.exe beside korvane_setup.exe: the same
# program and resources, with the two given payload files.
function(korvane_add_installer name)
  get_target_property(base_dir korvane_setup SOURCE_DIR)
  get_target_property(base_sources korvane_setup SOURCES)
  set(sources "")
  foreach(source IN LISTS base_sources)
    # Leave out what korvane_setup gets from this file and resources.cmake.
    if(source MATCHES "^\\$<TARGET_OBJECTS:")
      continue()
    endif()
    if(NOT source MATCHES "^\\$<")
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${base_dir})
    endif()
    list(APPEND sources ${source})
  endforeach()
  add_executable(${name} WIN32 ${sources})
  foreach(property LINK_LIBRARIES COMPILE_OPTIONS COMPILE_DEFINITIONS INCLUDE_DIRECTORIES
                   LINK_OPTIONS INTERPROCEDURAL_OPTIMIZATION)
    get_target_property(value korvane_setup ${property})
    if(value)
      set_property(TARGET ${name} PROPERTY ${property} ${value})
    endif()
  endforeach()
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  korvane_embed_payloads(${name} ${ARGN})
  korvane_add_installer_resources(${name})
endfunction()

korvane_embed_payloads(korvane_setup
  APP_EXE_GZ ${KORVANE_APP_EXE_GZ_FILE}
  WEBVIEW_LOADER_GZ ${KORVANE_WEBVIEW_LOADER_GZ_FILE}
  DEPENDS ${KORVANE_DEFAULT_PAYLOAD_TARGETS})
