# The installer's Windows resources (res/): the application manifest and the
# icon, whose five PNG images are rendered from res/korvane-icon.svg at build
# time. The stand-in application carries the same icon.
include_guard(GLOBAL)

find_program(KORVANE_RSVG_CONVERT rsvg-convert REQUIRED)
# Debian's interpreter: the checks of the built .exe need its pefile module.
find_program(KORVANE_PYTHON3 python3 HINTS /usr/bin REQUIRED)

set(KORVANE_RES_DIR ${CMAKE_CURRENT_LIST_DIR}/../res)
cmake_path(NORMAL_PATH KORVANE_RES_DIR)
set(KORVANE_ICON_DIR ${CMAKE_BINARY_DIR}/res)
set(KORVANE_ICON ${KORVANE_ICON_DIR}/korvane.ico)
set(KORVANE_MANIFEST ${KORVANE_RES_DIR}/korvane.manifest)

add_custom_command(
  OUTPUT ${KORVANE_ICON}
  COMMAND ${KORVANE_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/../tools/make_icon.py
          --rsvg-convert ${KORVANE_RSVG_CONVERT} --svg ${KORVANE_RES_DIR}/korvane-icon.svg
          --out ${KORVANE_ICON}
  DEPENDS ${KORVANE_RES_DIR}/korvane-icon.svg ${CMAKE_CURRENT_LIST_DIR}/../tools/make_icon.py
  COMMENT "Rendering the Korvane icon"
  VERBATIM)
add_custom_target(korvane_icon DEPENDS ${KORVANE_ICON})

# Gives the installer executable `target` the manifest and the icon group.
# The resource script is compiled in a library of its own so that the
# target's C++ options never reach windres.
function(korvane_add_installer_resources target)
  set(rc ${KORVANE_RES_DIR}/installer.rc)
  add_library(${target}_resources OBJECT ${rc})
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${KORVANE_ICON};${KORVANE_MANIFEST}")
  target_include_directories(${target}_resources PRIVATE ${KORVANE_RES_DIR} ${KORVANE_ICON_DIR})
  add_dependencies(${target}_resources korvane_icon)
  target_sources(${target} PRIVATE $<TARGET_OBJECTS:${target}_resources>)
endfunction()

if(TARGET korvane_setup)
  korvane_add_installer_resources(korvane_setup)
endif()
