#pragma once
// Building the Windows command line of a child process: the quoting that the
// child's C runtime (and CommandLineToArgvW) reverses exactly.

#include <span>
#include <string>
#include <string_view>

#include "core/io_error.h"

namespace korvane {

// Appends one encoded argument to `command_line`. `arg` is UTF-8 text. It is
// quoted only when empty or holding a space or tab; a run of n backslashes
// before a double quote becomes 2n+1 backslashes and the quote; when quoted,
// the trailing run of backslashes is doubled. Example: `a b\` gives `"a b\\"`,
// `a"b` gives `a\"b`. A NUL in `arg` fails with "nul byte found in provided
// data" and leaves `command_line` unchanged.
[[nodiscard]] IoResult<void> append_arg(std::u16string& command_line, std::string_view arg);

// append_arg for an argument already in UTF-16 (kept exactly, unpaired
// surrogates included).
[[nodiscard]] IoResult<void> append_arg(std::u16string& command_line, std::u16string_view arg);

// The command line for `program` and `args`, without a terminating NUL: the
// program text between double quotes, never escaped, then " " and the encoded
// form of each argument. Example: ("taskkill", {"/F", "/IM", "Korvane.exe"})
// gives `"taskkill" /F /IM Korvane.exe`. Fails when an argument or the program
// text holds a NUL ("nul byte found in provided data").
[[nodiscard]] IoResult<std::u16string> make_command_line(std::u16string_view program,
                                                         std::span<const std::string> args);

// make_command_line for arguments already in UTF-16.
[[nodiscard]] IoResult<std::u16string> make_command_line(std::u16string_view program,
                                                         std::span<const std::u16string> args);

}  // namespace korvane
