#pragma once
// The uninstall entry of an installation: the key and its values. Eight of
// them exactly as the registration script (SHORTCUT_SCRIPT_TEMPLATE) makes
// PowerShell write them, so that the installer can check what the script
// left and write the same entry itself where it left something else; three
// more that the installer writes itself.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/date.h"
#include "host/registry.h"

namespace korvane {

// Below HKEY_CURRENT_USER.
inline constexpr std::u16string_view kUninstallKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane";

// The command that runs the uninstall script in `install_dir` (UTF-8):
// powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File "<dir>\Uninstall-Korvane.ps1".
[[nodiscard]] std::string uninstall_command(std::string_view install_dir);

// The eight values, in the script's order: DisplayName, DisplayVersion,
// Publisher, DisplayIcon, InstallLocation, UninstallString (REG_SZ), NoModify,
// NoRepair (REG_DWORD 1). `exe_path` and `install_dir` are the lossy UTF-8
// texts the script is filled with before their quotes are doubled (PowerShell
// undoes the doubling), so an unpaired surrogate of a path is stored as
// U+FFFD, as it reaches PowerShell.
[[nodiscard]] std::array<RegistryValue, 8> uninstall_entry(std::string_view exe_path,
                                                           std::string_view install_dir,
                                                           std::string_view version);

// The three the installer writes itself, for Settings and deployment tools:
// QuietUninstallString (the uninstall command with -Quiet, which shows no
// box; winget runs it), EstimatedSize (REG_DWORD: `installed_bytes` in KB,
// rounded up) and InstallDate (REG_SZ: `today` as yyyymmdd).
[[nodiscard]] std::array<RegistryValue, 3> installer_values(std::string_view install_dir,
                                                            std::uint64_t installed_bytes,
                                                            CalendarDate today);

}  // namespace korvane
