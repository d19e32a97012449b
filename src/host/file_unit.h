#pragma once
// Putting several files in place as one unit: every target is replaced, or
// none is. Pure: the file-system calls come in as callables, so that every
// failure point is tested without Windows.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

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
  // Opens an existing `path` with the access a replacing rename and a delete
  // need (write and delete) and write's sharing, without changing it: OS
  // error 2 or 3 when there is none, 32 when a program holds it without
  // sharing write or delete.
  std::function<IoResult<void>(PathView path)> open_for_replace;
  // Clears the read-only attribute of the existing file `path` (a no-op
  // when it is not set): OS error 2 or 3 when there is none.
  std::function<IoResult<void>(PathView path)> make_writable;
  // The names of the entries in folder `dir`.
  std::function<IoResult<std::vector<std::u16string>>(PathView dir)> list_dir;
  // Whether a process of id `process_id` is running now.
  std::function<bool(std::uint32_t process_id)> is_running;
  // Blocks for `milliseconds`.
  std::function<void(std::uint32_t milliseconds)> sleep;
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

// The waits, in milliseconds, before each new try of a call that met a
// sharing violation (32) or access denied (5): virus scanners and indexers
// open new files for a moment. 1.55 s in all for one call.
inline constexpr std::uint32_t kRetryWaitsMs[] = {50, 100, 200, 400, 800};

// The staging names that `name` (a file name, no folder) holds for the
// target file name `target`: nullopt unless it is exactly
// target + ".setup-<pid>-<ticks>" + ".new" or ".old".
struct StagingName {
  std::uint32_t process_id;
  std::uint64_t ticks;
  bool old;  // ".old", else ".new"
};
[[nodiscard]] std::optional<StagingName> parse_staging_name(std::u16string_view name,
                                                            std::u16string_view target);

// Replaces every target with its bytes, or none:
// 0. the staging names of earlier runs (killed part way) are cleared up: an
//    ".old" goes back to its target name when that is missing, the rest is
//    deleted; a name in use, or of a run whose process still runs (a second
//    installer at work), is left alone. Read-only targets are made writable;
// 1. each existing target is opened for a replacing rename (a program that
//    holds it stops the unit here, before anything changes);
// 2. each file is written whole under its ".new" name;
// 3. each target in turn keeps its old file under its ".old" name (a hard
//    link, else a rename) and receives the new one by a replacing rename;
// 4. once the last rename succeeded, the ".old" names are deleted.
// On a failure the ".new" files are deleted and every target holds its old
// file again (a new target is deleted); the result is the first error.
// A restore that fails leaves that old file under its ".old" name, which the
// next run recognises. Every rename and delete, and the opening in step 1, is
// tried again after each of kRetryWaitsMs on error 5 or 32.
// `own_process` is the id in `tag`.
[[nodiscard]] IoResult<void> replace_files(std::span<const UnitFile> files, std::u16string_view tag,
                                           std::uint32_t own_process, const FileOps& ops);

}  // namespace korvane
