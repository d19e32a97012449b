# The Windows build: every installer executable is made by one function.

# korvane_add_installer(<name> APP_EXE_GZ <file> WEBVIEW_LOADER_GZ <file>
#                       [DEPENDS <targets>...] [NO_CHECK] [RELEASE]
#                       [CHILD_WAIT_LIMIT_MS <ms>])
# Builds <name>.exe in the top of the build folder: the installer program,
# its options and resources, with the two given payload files (see
# korvane_embed_payloads for DEPENDS and NO_CHECK). RELEASE adds the steps of
# a shipped build after linking: signing when configured, the .sha256 file
# and the summary. CHILD_WAIT_LIMIT_MS replaces the two-minute limit of the
# waits for taskkill and PowerShell (for a test installer).
function(korvane_add_installer name)
  cmake_parse_arguments(PARSE_ARGV 1 arg "NO_CHECK;RELEASE" "APP_EXE_GZ;WEBVIEW_LOADER_GZ;CHILD_WAIT_LIMIT_MS" "DEPENDS")
  add_executable(${name} WIN32 ${PROJECT_SOURCE_DIR}/src/main.cpp)
  target_link_libraries(${name} PRIVATE korvane_win)
  target_compile_options(${name} PRIVATE ${KORVANE_WARNINGS})
  if(arg_CHILD_WAIT_LIMIT_MS)
    target_compile_definitions(${name} PRIVATE KORVANE_CHILD_WAIT_LIMIT_MS=${arg_CHILD_WAIT_LIMIT_MS})
  endif()
  # Static: the .exe depends on Windows' own DLLs only. No link time stamp,
  # so that the same inputs give the same bytes.
  target_link_options(${name} PRIVATE -static -municode -s -Wl,--no-insert-timestamp)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  # Size: link-time optimisation over the installer's own code (korvane_core
  # and korvane_win are built for it too), and the sections that nothing
  # reaches left out of the link.
  set_target_properties(${name} PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
  target_compile_options(${name} PRIVATE -ffunction-sections -fdata-sections)
  target_link_options(${name} PRIVATE -ffunction-sections -fdata-sections -Wl,--gc-sections)
  # One partition: MinGW-w64's GCC 12 otherwise fails in the partitioned
  # link with an internal error (binds_to_current_def_p) once the file unit
  # walks a folder listing. The installer is small; one partition also
  # optimises across all of it.
  target_link_options(${name} PRIVATE -flto-partition=one)

  set(embed_args APP_EXE_GZ ${arg_APP_EXE_GZ} WEBVIEW_LOADER_GZ ${arg_WEBVIEW_LOADER_GZ})
  if(arg_DEPENDS)
    list(APPEND embed_args DEPENDS ${arg_DEPENDS})
  endif()
  if(arg_NO_CHECK)
    list(APPEND embed_args NO_CHECK)
  endif()
  korvane_embed_payloads(${name} ${embed_args})
  korvane_add_installer_resources(${name})
  if(arg_RELEASE)
    korvane_add_release_steps(${name} APP_EXE_GZ ${arg_APP_EXE_GZ} WEBVIEW_LOADER_GZ ${arg_WEBVIEW_LOADER_GZ})
  endif()
endfunction()
