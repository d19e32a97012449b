#pragma once
// The setup driver's Win32 side (Windows build only): one wrapper for each
// Win32 call, and the real system behind SetupHost.

#include <cstdint>
#include <memory>
#include <string_view>

#include "setup/error_text.h"
#include "setup/run.h"

namespace korvane {

// One modal MessageBoxW with no owner window: the button that closed it, or 0
// when the box fails.
[[nodiscard]] std::int32_t msg_box(std::string_view caption, std::string_view text,
                                   std::uint32_t style);

// Whether NTDLL.DLL is loaded (GetModuleHandleW).
[[nodiscard]] bool ntdll_loaded();

// FormatMessageW as FormatMessageFn describes it.
[[nodiscard]] MessageAnswer format_message(std::uint32_t flags, bool from_ntdll,
                                           std::uint32_t code);

// The real system behind SetupHost; taskkill and PowerShell are each waited
// for at most `child_wait_limit_ms` milliseconds, and so is another run that
// holds the install lock.
[[nodiscard]] std::unique_ptr<SetupHost> make_windows_host(std::uint32_t child_wait_limit_ms);

}  // namespace korvane
