#pragma once
// Path joining, parents, and the forms of a path handed to Windows: every
// rule about drive letters and the \\?\ prefixes lives here. Pure: the one
// system query (GetFullPathNameW) comes in as a callable.

#include <functional>
#include <optional>

#include "core/io_error.h"
#include "core/path.h"

namespace korvane {

// Appends `component` to `base` in place. An absolute component (a drive with
// a separator, \\server\share, \\?\...) replaces `base`; a relative one is
// appended after one '\', inserted only when `base` is non-empty, does not end
// in '\' or '/', and is not a bare drive such as "C:".
// Examples: C:\X + Programs = C:\X\Programs; C:\X\ + Programs = C:\X\Programs;
// "" + Programs = Programs; C: + Programs = C:Programs.
void push(Path& base, PathView component);

// `base` joined with `component` by the rule of push.
[[nodiscard]] Path join(PathView base, PathView component);

// `path` without its last component: nullopt for a path without one (a root
// such as C:\, a bare drive, \\server\share); the empty path for a single
// relative name. Trailing separators are not a component.
[[nodiscard]] std::optional<PathView> parent(PathView path);

// The verbatim prefixes: \\?\ (and its UNC form \\?\UNC\), and the NT form \??\.
inline constexpr PathView kVerbatimPrefix = u"\\\\?\\";
inline constexpr PathView kVerbatimUncPrefix = u"\\\\?\\UNC\\";
inline constexpr PathView kNtPrefix = u"\\??\\";

// An ASCII letter, as drive names are.
[[nodiscard]] constexpr bool is_drive_letter(char16_t c) noexcept {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// True when the path has a drive letter and ':' at its start.
[[nodiscard]] bool has_drive_prefix(PathView path);

// True for a drive with a separator (C:\x, C:/x), a \\server\share form and a
// \\?\ form: paths that name the same place whatever the current directory
// and drive. False for relative (x), rooted (\x) and drive-relative (C:x) ones.
[[nodiscard]] bool is_absolute(PathView path);

// The system's absolute form of a path (GetFullPathNameW): given a path
// without NULs, the absolute path without a terminating NUL, or the error.
using FullPathFn = std::function<IoResult<Path>(PathView)>;

// `shorter` when `full_path` gives it back as the very same text (the system
// reads both forms alike), else `original`; a failed query keeps `original`.
[[nodiscard]] Path shorten_if_same(PathView original, Path shorter, const FullPathFn& full_path);

// The form of `path` given to the Windows file functions (its terminating NUL
// is the string's own). Verbatim paths (\\?\, \??\) and the empty path stay
// unchanged; short drive-absolute and UNC paths stay unchanged; everything
// else is made absolute through `full_path` and, when `prefer_verbatim` is on
// or the absolute form is 247 units or longer, given the \\?\ (or \\?\UNC\)
// prefix. Fails with "strings passed to WinAPI cannot contain NULs" for a path
// holding a NUL, or with the error of `full_path`.
[[nodiscard]] IoResult<Path> get_long_path(PathView path, bool prefer_verbatim,
                                           const FullPathFn& full_path);

}  // namespace korvane
