#pragma once
// Recursive directory creation. Pure: the two file-system calls come in as
// callables, so that the walk is tested without Windows.

#include <cstdint>
#include <functional>

#include "core/io_error.h"
#include "core/path.h"

namespace korvane {

// Win32 error codes the walk tells apart.
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorInvalidDrive = 15;
inline constexpr std::uint32_t kErrorBadNetpath = 53;
inline constexpr std::uint32_t kErrorBadNetName = 67;
inline constexpr std::uint32_t kErrorFileExists = 80;
inline constexpr std::uint32_t kErrorAlreadyExists = 183;

// One attempt to create the directory `path`: an OS error on failure.
using CreateDirectoryFn = std::function<IoResult<void>(PathView path)>;
// True when `path` (links followed) is a directory and not a symbolic link.
using IsDirectoryFn = std::function<bool(PathView path)>;

// Creates `path` and every missing parent, outermost first. Walks up from
// `path` until a creation succeeds or meets an existing directory, then
// creates what was missing. A directory that appears meanwhile (made by
// another process) is no error. Directories created before a failure stay.
// An existing non-directory at `path` gives OS error 183.
[[nodiscard]] IoResult<void> create_dir_all(PathView path, const CreateDirectoryFn& create_directory,
                                            const IsDirectoryFn& is_directory);

}  // namespace korvane
