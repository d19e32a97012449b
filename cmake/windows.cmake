# The Windows build: the installer executable and everything it embeds.

add_executable(korvane_setup WIN32 src/main.cpp)
target_link_libraries(korvane_setup PRIVATE korvane_win)
target_compile_options(korvane_setup PRIVATE ${KORVANE_WARNINGS})
# Static: the .exe depends on Windows' own DLLs only.
target_link_options(korvane_setup PRIVATE -static -municode -s)
set_target_properties(korvane_setup PROPERTIES OUTPUT_NAME korvane_setup)

# Payload embedding and the installer's resources.
include(${CMAKE_CURRENT_LIST_DIR}/payloads.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/resources.cmake OPTIONAL)
