#pragma once
// Recursive directory creation, walked over a small file-system interface so
// that the walk is tested without Windows.

#include "core/io_error.h"
#include "core/path.h"

namespace korvane {

class DirectoryOps {
 public:
  virtual ~DirectoryOps() = default;
  // One attempt to create the directory `path`; an OS error on failure.
  [[nodiscard]] virtual IoResult<void> create_directory(PathView path) = 0;
  // True when `path` (links followed) is a directory and not a symbolic link.
  [[nodiscard]] virtual bool is_directory(PathView path) = 0;
};

// Creates `path` and every missing parent, outermost first. Walks up from
// `path` until a creation succeeds or meets an existing directory, then
// creates what was missing. A directory that appears meanwhile (made by
// another process) is no error. Directories created before a failure stay.
// An existing non-directory at `path` gives OS error 183.
[[nodiscard]] IoResult<void> create_dir_all(PathView path, DirectoryOps& ops);

}  // namespace korvane
