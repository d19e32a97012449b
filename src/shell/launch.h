#pragma once
// The paths the installed application is started with. Pure: the short
// (8.3) form of a path comes in as a callable.

#include <cstddef>
#include <functional>
#include <optional>

#include "core/io_error.h"
#include "core/path.h"

namespace korvane {

// CreateProcessW takes a current directory of at most MAX_PATH - 2 units (the
// system adds a backslash and the NUL), and, where long paths are not
// enabled, a program path of at most MAX_PATH - 1 (Wine refuses a longer one
// with error 2 or 3 even then).
inline constexpr std::size_t kMaxCurrentDirectory = 258;
inline constexpr std::size_t kMaxProgramPath = 259;

// GetShortPathNameW: the short form of an existing path, or the error.
using ShortPathFn = std::function<IoResult<Path>(PathView)>;

struct LaunchPaths {
  // The folder part of `program`: `install_dir` or its short form.
  Path program_dir;
  Path program;
  // nullopt: the folder fits in no form; the application starts in the
  // Windows folder (never a current directory CreateProcessW cannot take,
  // never the installer's own).
  std::optional<Path> working_dir;

  friend bool operator==(const LaunchPaths&, const LaunchPaths&) = default;
};

// How `exe_name` in `install_dir` (an existing folder) is started. The folder
// serves as it is, as the program's folder and as the working directory,
// where it fits (its length counted without a \\?\ prefix, which the start
// drops where it may); otherwise its short form (`short_path`, asked once,
// without that prefix) where that fits. A program path that fits in no form
// is kept as it is, and starts only where long paths are enabled.
[[nodiscard]] LaunchPaths launch_paths(PathView install_dir, PathView exe_name, const ShortPathFn& short_path);

}  // namespace korvane
