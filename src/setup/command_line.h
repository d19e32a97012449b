#pragma once
// Splitting the installer's own command line and scanning it for the silent
// switch.

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// Splits a command line as GetCommandLineW gives it into arguments. The first
// argument (the program name) ends at the first space or tab outside double
// quotes, its quotes dropped and backslashes literal; the rest follow the
// backslash-and-quote rules of the C runtime. An empty line gives no
// arguments: the caller puts the module path in their place.
// Example: uR"(setup.exe "a b" c\"d)" gives setup.exe, a b, c"d.
[[nodiscard]] std::vector<std::u16string> split_command_line(std::u16string_view line);

// True for "--silent" and "/s", ASCII letters in any case, nothing else.
[[nodiscard]] bool is_silent_switch(std::string_view arg) noexcept;

// True when any argument, the program name included, is a silent switch. The
// scan stops at the first one; an argument with an unpaired surrogate has no
// UTF-8 form, can equal no switch, and is skipped.
[[nodiscard]] bool has_silent_switch(std::span<const std::u16string> args);

}  // namespace korvane
