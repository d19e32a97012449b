#pragma once
// The system's answers for the program lookup (Windows build only).

#include "shell/program_lookup.h"

namespace korvane {

// GetSystemDirectoryW, GetWindowsDirectoryW and PATH as they are now, with
// program_exists (the user form, then GetFileAttributesW) and the user form
// over GetFullPathNameW.
[[nodiscard]] ProgramSearch system_program_search();

}  // namespace korvane
