#!/bin/sh
# Compiler and linker launcher (CXX_COMPILER_LAUNCHER, CXX_LINKER_LAUNCHER):
# runs the posix-thread-model driver of the same MinGW-w64 GCC in place of
# the win32 one that CMake names as the first argument, e.g.
# x86_64-w64-mingw32-g++-win32 -> x86_64-w64-mingw32-g++-posix.
compiler=$1
shift
case $compiler in
  *-win32) exec "${compiler%-win32}-posix" "$@" ;;
  *) exec "$compiler" "$@" ;;
esac
