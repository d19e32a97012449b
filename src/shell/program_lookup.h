#pragma once
// Finding the program a child is started from. Pure: the system's answers
// come in as values and callables, so the search order is tested without
// Windows.

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "core/io_error.h"
#include "core/path.h"
#include "host/paths.h"

namespace korvane {

inline constexpr std::string_view kProgramHasNoFileName = "program path has no file name";
inline constexpr std::string_view kProgramNotFound = "program not found";

// What the lookup asks of the system: its answers as values, and two
// callables for the files.
struct ProgramSearch {
  std::optional<Path> system_dir;   // GetSystemDirectoryW; nullopt when the query fails
  std::optional<Path> windows_dir;  // GetWindowsDirectoryW; nullopt when the query fails
  std::optional<Path> path_var;     // the value of PATH; nullopt when unset
  // program_exists: the user form of `candidate` when a file or directory is
  // there, else nullopt.
  std::function<std::optional<Path>(PathView candidate)> exists;
  // from_wide_to_user_path of a path that holds no NUL.
  std::function<IoResult<Path>(PathView path)> user_form;
};

// True when `text` ends in ".exe", ASCII letters in any case.
[[nodiscard]] bool has_exe_ending(std::u16string_view text) noexcept;

// The entries of a PATH value: split at semicolons outside double quotes, the
// quotes dropped, empty entries skipped. Example: C:\a;"C:\b;c";;D:\e gives
// C:\a, C:\b;c and D:\e.
[[nodiscard]] std::vector<Path> split_path_var(PathView value);

// The path a child is started from (lpApplicationName, without its NUL).
// A text holding '\' or '/' is a path and is not searched: with a .exe ending
// it is used in its user form; otherwise `text.exe` when it exists, else the
// text. A bare name is looked for in the system directory, the Windows
// directory and each PATH entry, in that order, with ".exe" appended when the
// name holds no '.'. A directory whose query fails is skipped. Neither the
// current directory nor the installer's own is searched: installers run from
// download folders, where anyone's files can lie beside them.
// Errors (InvalidInput unless noted): "program path has no file name" for an
// empty text or one ending in a separator (only '\' counts after \\?\);
// "nul byte found in provided data" for a NUL in a bare name; "strings passed
// to WinAPI cannot contain NULs" for a NUL in a path; NotFound "program not
// found"; an error of the user form of a path.
[[nodiscard]] IoResult<Path> find_program(std::u16string_view program, const ProgramSearch& search);

// The form of a program path shown to the system and the user: a text of more
// than 259 units is kept; \\?\X:\... loses its prefix and \\?\UNC\srv\...
// becomes \\srv\... when `full_path` gives that shorter text back unchanged;
// anything else is get_long_path(path, false). A NUL fails with "strings
// passed to WinAPI cannot contain NULs".
[[nodiscard]] IoResult<Path> from_wide_to_user_path(PathView path, const FullPathFn& full_path);

}  // namespace korvane
