# Cross-compiling the installer for x86-64 Windows with Debian's MinGW-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
# The win32 thread model: its run-time needs no winpthread, which keeps the
# installer small. GoogleTest needs std::mutex, which only the posix model's
# libstdc++ has: the tests are compiled and linked with the posix driver of
# the same GCC (tests/CMakeLists.txt, cmake/posix_thread_model.sh).
set(CMAKE_C_COMPILER ${triple}-gcc-win32)
set(CMAKE_CXX_COMPILER ${triple}-g++-win32)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_ASM_COMPILER ${triple}-gcc-win32)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Windows binaries run here under Wine: ctest starts them through it.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
