#pragma once
// Putting several files in place as one unit: every target is replaced, or
// none is. Pure: the file-system calls come in as callables, so that every
// failure point is tested without Windows.

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "core/io_error.h"
#include "core/path.h"

namespace korvane {

// One file of the unit: where it goes and its whole content.
struct UnitFile {
  PathView target;
  std::span<const std::uint8_t> bytes;
};

// The file-system calls the unit rests on; each gives the OS error on failure.
struct FileOps {
  // Whole-file write: creates `path` or replaces its content with `bytes`; a
  // failure part way may leave a part.
  std::function<IoResult<void>(PathView path, std::span<const std::uint8_t> bytes)> write;
  // Opens an existing `path` for writing, as `write` does, without changing
  // it: OS error 2 or 3 when there is none, 32 when a program holds it.
  std::function<IoResult<void>(PathView path)> open_for_write;
  // Gives the existing file `existing` the second name `link`.
  std::function<IoResult<void>(PathView existing, PathView link)> hard_link;
  // Renames `from` to `to`; with `replace`, an existing `to` is replaced in
  // the same step.
  std::function<IoResult<void>(PathView from, PathView to, bool replace)> rename;
  // Deletes the file `path`.
  std::function<IoResult<void>(PathView path)> remove;
};

// The run's part of the staging names: "setup-<pid>-<ticks>", unique among
// installers running at once (a process id is) and across runs of one id.
[[nodiscard]] std::u16string staging_tag(std::uint32_t process_id, std::uint64_t ticks);

// Staging name of `target`: target + "." + tag + suffix (".new", ".old").
[[nodiscard]] Path staging_name(PathView target, std::u16string_view tag, std::u16string_view suffix);

// Replaces every target with its bytes, or none:
// 1. each existing target is opened for writing (a program that holds it
//    stops the unit here, before anything changes);
// 2. each file is written whole under its ".new" name;
// 3. each target in turn keeps its old file under its ".old" name (a hard
//    link, else a rename) and receives the new one by a replacing rename;
// 4. once the last rename succeeded, the ".old" names are deleted.
// On a failure the ".new" files are deleted and every target holds its old
// file again (a new target is deleted); the result is the first error.
// A restore that fails leaves that old file under its ".old" name.
[[nodiscard]] IoResult<void> replace_files(std::span<const UnitFile> files, std::u16string_view tag,
                                           const FileOps& ops);

}  // namespace korvane
