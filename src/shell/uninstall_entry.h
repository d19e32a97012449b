#pragma once
// The uninstall entry of an installation: the key and its eight values,
// exactly as the registration script (SHORTCUT_SCRIPT_TEMPLATE) makes
// PowerShell write them, so that the installer can check what the script
// left and write the same entry itself where it left something else.

#include <array>
#include <string_view>

#include "host/registry.h"

namespace korvane {

// Below HKEY_CURRENT_USER.
inline constexpr std::u16string_view kUninstallKey =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvane";

// The eight values, in the script's order: DisplayName, DisplayVersion,
// Publisher, DisplayIcon, InstallLocation, UninstallString (REG_SZ), NoModify,
// NoRepair (REG_DWORD 1). `exe_path` and `install_dir` are the lossy UTF-8
// texts the script is filled with before their quotes are doubled (PowerShell
// undoes the doubling), so an unpaired surrogate of a path is stored as
// U+FFFD, as it reaches PowerShell.
[[nodiscard]] std::array<RegistryValue, 8> uninstall_entry(std::string_view exe_path,
                                                           std::string_view install_dir,
                                                           std::string_view version);

}  // namespace korvane
