#pragma once
// The working directory handed to a child process.

#include "core/io_error.h"
#include "core/path.h"
#include "host/paths.h"

namespace korvane {

// `dir` as lpCurrentDirectory (without its NUL). \\?\UNC\srv\share\d becomes
// \\srv\share\d, and \\?\rest becomes rest, when `full_path` gives that shorter
// text back unchanged; otherwise, and for every other text, `dir` is kept.
// A NUL in `dir` fails with "nul byte found in provided data".
[[nodiscard]] IoResult<Path> child_working_dir(PathView dir, const FullPathFn& full_path);

}  // namespace korvane
