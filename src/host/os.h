#pragma once
// The operating-system services of the install sequence: one wrapper for each
// Win32 call they rest on (Windows build only).

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/date.h"
#include "core/duration.h"
#include "core/io_error.h"
#include "core/path.h"
#include "host/file_unit.h"
#include "host/install_lock.h"
#include "host/paths.h"
#include "win/mutex.h"

namespace korvane {

// The value of environment variable `name`; nullopt when unset or unreadable
// (a name holding a NUL counts as unset). Present-but-empty is an empty path.
[[nodiscard]] std::optional<Path> var_os(std::u16string_view name);

// The user's temporary directory (GetTempPath2W where kernel32 has it, else
// GetTempPathW); it normally ends in '\'. Fails only when the query fails.
[[nodiscard]] IoResult<Path> temp_dir();

// The path of the running executable (GetModuleFileNameW, grown until it
// fits); nullopt when the query fails.
[[nodiscard]] std::optional<Path> current_exe();

// GetFullPathNameW: `path` (without NULs) made absolute; a FullPathFn.
[[nodiscard]] IoResult<Path> full_path(PathView path);

// GetShortPathNameW of the existing `path`, given in its verbatim form so
// that a path longer than MAX_PATH is taken too: the short (8.3) form, which
// keeps that prefix.
[[nodiscard]] IoResult<Path> short_path(PathView path);

// One CreateDirectoryW of get_long_path(path, verbatim), without security
// attributes: the OS error when it fails.
[[nodiscard]] IoResult<void> create_directory(PathView path);

// True when `path`, links followed, is a directory and not a symbolic link
// (a reparse point whose tag is a name surrogate).
[[nodiscard]] bool is_directory(PathView path);

// Creates `path` or replaces its whole content with `bytes`, flushed to the
// disk (FlushFileBuffers) before it returns. A failure part way leaves what
// was written.
[[nodiscard]] IoResult<void> write(PathView path, std::span<const std::uint8_t> bytes);

// Opens the existing file `path` with write and delete access (what a
// replacing rename and a delete need) and write's sharing modes, without
// changing it, and closes it again: the OS error when it cannot be opened (2
// when there is none, 32 when a program holds it without sharing write or
// delete).
[[nodiscard]] IoResult<void> open_for_replace(PathView path);

// Clears FILE_ATTRIBUTE_READONLY of the file `path` where it is set
// (GetFileAttributesW, SetFileAttributesW); directories are left alone.
[[nodiscard]] IoResult<void> make_writable(PathView path);

// The names in folder `dir` but "." and ".." (FindFirstFileExW).
[[nodiscard]] IoResult<std::vector<std::u16string>> list_dir(PathView dir);

// Whether process `process_id` runs: it can be opened and has not ended, or
// it exists but may not be opened (another user's).
[[nodiscard]] bool is_running(std::uint32_t process_id);

// The file unit's calls (host/file_unit.h) over the functions above.
[[nodiscard]] FileOps system_file_ops();

// CreateHardLinkW: the second name `link` for the existing file `existing`.
[[nodiscard]] IoResult<void> hard_link(PathView existing, PathView link);

// MoveFileExW of `from` to `to`, with MOVEFILE_REPLACE_EXISTING when
// `replace`.
[[nodiscard]] IoResult<void> move_file(PathView from, PathView to, bool replace);

// DeleteFileW of `path`.
[[nodiscard]] IoResult<void> delete_file(PathView path);

// GetCurrentProcessId.
[[nodiscard]] std::uint32_t process_id() noexcept;

// GetTickCount64: milliseconds since the system started.
[[nodiscard]] std::uint64_t tick_count() noexcept;

// The text form (ConvertSidToStringSidW) of the SID of the user whose token
// the installer runs with (OpenProcessToken, GetTokenInformation TokenUser):
// the OS error of the call that failed otherwise.
[[nodiscard]] IoResult<std::u16string> current_user_sid();

// The named mutex `name` (CreateMutexW), owned by the calling thread once
// every other holder has let go, waited for at most `limit_ms` milliseconds:
// OS error kErrorInstallAlreadyRunning when it stays held that long (also
// when another account holds it and this one may not open it, asked again
// every 250 ms); the OS error of CreateMutexW or of the wait otherwise. A
// mutex whose holder ended without releasing it is taken over.
[[nodiscard]] IoResult<win::OwnedMutex> own_named_mutex(std::u16string_view name, std::uint32_t limit_ms);

// Today in the local calendar (GetLocalTime).
[[nodiscard]] CalendarDate local_date() noexcept;

// Blocks for `d`, with a high-resolution waitable timer where possible.
void sleep(Duration d) noexcept;

}  // namespace korvane
