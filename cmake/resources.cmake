# The installer's Windows resources (res/): the application manifest and the
# icon, whose five PNG images are rendered from res/korvane-icon.svg at build
# time. The stand-in application carries the same icon.

# korvane_add_icon()
# Adds the target korvane_icon that renders <build>/res/korvane.ico, and sets
# KORVANE_RES_DIR, KORVANE_ICON_DIR, KORVANE_ICON, KORVANE_MANIFEST and
# KORVANE_PYTHON3 in the caller.
function(korvane_add_icon)
  find_program(KORVANE_RSVG_CONVERT rsvg-convert REQUIRED)
  # Debian's interpreter: the checks of the built .exe need its pefile module.
  find_program(KORVANE_PYTHON3 python3 HINTS /usr/bin REQUIRED)
  set(res_dir ${PROJECT_SOURCE_DIR}/res)
  set(icon_dir ${CMAKE_BINARY_DIR}/res)
  set(icon ${icon_dir}/korvane.ico)
  add_custom_command(
    OUTPUT ${icon}
    COMMAND ${KORVANE_PYTHON3} ${PROJECT_SOURCE_DIR}/tools/make_icon.py
            --rsvg-convert ${KORVANE_RSVG_CONVERT} --svg ${res_dir}/korvane-icon.svg --out ${icon}
    DEPENDS ${res_dir}/korvane-icon.svg ${PROJECT_SOURCE_DIR}/tools/make_icon.py
    COMMENT "Rendering the Korvane icon"
    VERBATIM)
  add_custom_target(korvane_icon DEPENDS ${icon})
  set(KORVANE_RES_DIR ${res_dir} PARENT_SCOPE)
  set(KORVANE_ICON_DIR ${icon_dir} PARENT_SCOPE)
  set(KORVANE_ICON ${icon} PARENT_SCOPE)
  set(KORVANE_MANIFEST ${res_dir}/korvane.manifest PARENT_SCOPE)
  set(KORVANE_PYTHON3 ${KORVANE_PYTHON3} PARENT_SCOPE)
endfunction()

# korvane_add_installer_resources(<target>)
# Gives the installer executable <target> the manifest and the icon group.
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
