# The Windows build: the installer executable and everything it embeds.

add_executable(korvane_setup WIN32 src/main.cpp)
target_link_libraries(korvane_setup PRIVATE korvane_win)
target_compile_options(korvane_setup PRIVATE ${KORVANE_WARNINGS})
# Static: the .exe depends on Windows' own DLLs only.
target_link_options(korvane_setup PRIVATE -static -municode -s)
set_target_properties(korvane_setup PROPERTIES OUTPUT_NAME korvane_setup)
# Size: link-time optimisation over the installer's own code, and the
# sections that nothing reaches left out of the link.
set_target_properties(korvane_core korvane_win korvane_setup PROPERTIES INTERPROCEDURAL_OPTIMIZATION ON)
foreach(target korvane_core korvane_win korvane_setup)
  target_compile_options(${target} PRIVATE -ffunction-sections -fdata-sections)
endforeach()
target_link_options(korvane_setup PRIVATE -ffunction-sections -fdata-sections -Wl,--gc-sections)

# Payload embedding and the installer's resources.
include(${CMAKE_CURRENT_LIST_DIR}/payloads.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/resources.cmake OPTIONAL)

# After each link, the size of the stub: the installer without its payloads
# and icon images (tools/stub_size.py; the test stub_size holds it to a limit).
add_custom_command(TARGET korvane_setup POST_BUILD
  COMMAND ${KORVANE_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/../tools/stub_size.py $<TARGET_FILE:korvane_setup>
          ${KORVANE_APP_EXE_GZ_FILE} ${KORVANE_WEBVIEW_LOADER_GZ_FILE}
  VERBATIM)
