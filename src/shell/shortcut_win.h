#pragma once
// The shell's side of the shortcuts (Windows build only).

#include <optional>

#include "core/io_error.h"
#include "shell/shortcut.h"

namespace korvane {

// SHGetKnownFolderPath of `folder` for the current user, with the shell's
// check that the folder is there; nullopt when the shell gives no path.
[[nodiscard]] std::optional<Path> shell_folder(ShellFolder folder);

// Saves `shortcut` with the shell's Unicode link object (IShellLinkW,
// IPersistFile) in a COM apartment of its own, replacing a file of that name.
// A failed save leaves no file behind. Errors: InvalidInput for a text
// holding a NUL; the HRESULT of the call that failed, as an OS error.
[[nodiscard]] IoResult<void> save_shortcut(const Shortcut& shortcut);

}  // namespace korvane
