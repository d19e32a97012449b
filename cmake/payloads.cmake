# The two payloads compiled into the installer: APP_EXE_GZ (Korvane.exe) and
# WEBVIEW_LOADER_GZ (WebView2Loader.dll), each one gzip member carried byte
# for byte in read-only data (src/payload/payloads.S, .incbin).
#
# Each payload comes from a ready gzip file, from the raw file packed at
# build time, or, when neither is named, from the stand-in built from
# standin/. Every payload is checked before it is packed or embedded: what
# it holds (a GUI Korvane.exe of the installer's version, a loader DLL with
# its five exports, an intact signature) and, once packed, exactly one
# well-formed member that the installer's own decoder accepts. See
# payload/README.md.

# korvane_add_host_tools()
# Builds tools/ for the build machine with its own compiler (no toolchain
# file) and sets KORVANE_PAYLOAD_TOOL in the caller. BUILD_ALWAYS: the
# sub-build decides itself what is out of date.
function(korvane_add_host_tools)
  include(ExternalProject)
  set(tool ${CMAKE_BINARY_DIR}/host-tools/payload_tool)
  string(REPLACE ";" "|" warnings "${KORVANE_WARNINGS}")
  ExternalProject_Add(korvane_host_tools
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/tools
    BINARY_DIR ${CMAKE_BINARY_DIR}/host-tools
    LIST_SEPARATOR |
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DKORVANE_SOURCE_DIR=${PROJECT_SOURCE_DIR}
               -DKORVANE_WARNINGS=${warnings}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${tool})
  set(KORVANE_PAYLOAD_TOOL ${tool} PARENT_SCOPE)
endfunction()

# korvane_resolve_payload(<id> <raw option> <stand-in target> <file name> <check> [<argument>...])
# Resolves one payload to a gzip file and a target that brings it up to date:
# sets KORVANE_<id>_FILE, KORVANE_<id>_TARGET and KORVANE_<id>_SOURCE (the
# file the user named, or the stand-in) in the caller (id APP_EXE_GZ or
# WEBVIEW_LOADER_GZ). A raw file is checked with
# `payload_tool <check> <file> <argument>...` before it is packed, so that a
# refusal names the file the user gave.
function(korvane_resolve_payload id raw_option standin file_name check)
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
    set(source ${gz})
    add_custom_target(${target} DEPENDS ${gz})
  else()
    set(file ${CMAKE_BINARY_DIR}/payload/${file_name}.gz)
    if(raw)
      cmake_path(ABSOLUTE_PATH raw BASE_DIRECTORY ${CMAKE_BINARY_DIR} NORMALIZE)
      if(NOT EXISTS ${raw} OR IS_DIRECTORY ${raw})
        message(FATAL_ERROR "${raw_option}: no such file: ${raw}")
      endif()
      set(source ${raw})
      set(input_deps ${raw})
    else()
      set(source $<TARGET_FILE:${standin}>)
      set(input_deps ${standin})
    endif()
    add_custom_command(
      OUTPUT ${file}
      COMMAND ${KORVANE_PAYLOAD_TOOL} ${check} ${source} ${ARGN}
      COMMAND ${KORVANE_PAYLOAD_TOOL} pack ${source} ${file}
      # version.txt changes with KORVANE_VERSION: the check runs again.
      DEPENDS ${input_deps} ${KORVANE_PAYLOAD_TOOL} korvane_host_tools ${CMAKE_BINARY_DIR}/version.txt
      COMMENT "Checking and packing ${file_name} into ${file}"
      VERBATIM)
    add_custom_target(${target} DEPENDS ${file})
  endif()
  set(KORVANE_${id}_FILE ${file} PARENT_SCOPE)
  set(KORVANE_${id}_TARGET ${target} PARENT_SCOPE)
  set(KORVANE_${id}_SOURCE ${source} PARENT_SCOPE)
endfunction()

# korvane_add_default_payloads()
# The payloads korvane_setup embeds, named by the cache options below or the
# stand-ins: sets KORVANE_<id>_FILE, _TARGET and _SOURCE for APP_EXE_GZ and
# WEBVIEW_LOADER_GZ in the caller.
function(korvane_add_default_payloads)
  set(KORVANE_APP_EXE_GZ "" CACHE FILEPATH
      "The application payload as a ready gzip file (empty: pack KORVANE_APP_EXE)")
  set(KORVANE_APP_EXE "" CACHE FILEPATH
      "Korvane.exe to pack at build time (empty with KORVANE_APP_EXE_GZ empty: the stand-in)")
  set(KORVANE_WEBVIEW_LOADER_GZ "" CACHE FILEPATH
      "The WebView2 loader payload as a ready gzip file (empty: pack KORVANE_WEBVIEW_LOADER_DLL)")
  set(KORVANE_WEBVIEW_LOADER_DLL "" CACHE FILEPATH
      "WebView2Loader.dll to pack at build time (empty with KORVANE_WEBVIEW_LOADER_GZ empty: the stand-in)")
  korvane_resolve_payload(APP_EXE_GZ KORVANE_APP_EXE korvane_standin_app Korvane.exe
                          check-app ${KORVANE_VERSION})
  korvane_resolve_payload(WEBVIEW_LOADER_GZ KORVANE_WEBVIEW_LOADER_DLL korvane_standin_loader
                          WebView2Loader.dll check-loader)
  foreach(id APP_EXE_GZ WEBVIEW_LOADER_GZ)
    foreach(part FILE TARGET SOURCE)
      set(KORVANE_${id}_${part} ${KORVANE_${id}_${part}} PARENT_SCOPE)
    endforeach()
  endforeach()
endfunction()

# korvane_embed_payloads(<target> APP_EXE_GZ <file> WEBVIEW_LOADER_GZ <file>
#                        [DEPENDS <targets>...] [NO_CHECK])
# Compiles the two gzip files into <target> as APP_EXE_GZ and
# WEBVIEW_LOADER_GZ. DEPENDS names the targets that make the files. Unless
# NO_CHECK, both files are checked first (one well-formed member each, and
# what it decodes to) and a bad one stops the build. Editing either file
# rebuilds <target>.
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
  set(payloads_s ${PROJECT_SOURCE_DIR}/src/payload/payloads.S)
  file(CONFIGURE OUTPUT ${wrapper} @ONLY CONTENT
"/* The payloads of @target@ (written by cmake/payloads.cmake). */
#define KORVANE_APP_EXE_GZ_FILE \"@app@\"
#define KORVANE_WEBVIEW_LOADER_GZ_FILE \"@loader@\"
#include \"@payloads_s@\"
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
      COMMAND ${KORVANE_PAYLOAD_TOOL} check-app ${app} ${KORVANE_VERSION}
      COMMAND ${KORVANE_PAYLOAD_TOOL} check-loader ${loader}
      COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
      DEPENDS ${app} ${loader} ${KORVANE_PAYLOAD_TOOL} korvane_host_tools ${CMAKE_BINARY_DIR}/version.txt
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
