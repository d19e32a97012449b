#pragma once
// The two PowerShell scripts: the registration run (the uninstall entry) and
// the uninstall script left in the install folder.

#include <optional>
#include <string>
#include <string_view>

#include "shell/uninstall_script_template.h"

namespace korvane {

// Doubles every character that ends a PowerShell single-quoted string: the
// apostrophe U+0027 and the typographic quotes U+2018 to U+201B, each doubled
// as itself. Everything else is copied. PowerShell reads the result, inside
// '...', back as `text`. Example: ps_escape("D:\\user's") == "D:\\user''s".
[[nodiscard]] std::string ps_escape(std::string_view text);

// Lines end in LF, the last one included. {0} the escaped exe path, {1} the
// escaped install folder, {2} the version. Only the uninstall entry: the
// installer makes the shortcuts itself (shell/shortcut.h).
inline constexpr std::string_view SHORTCUT_SCRIPT_TEMPLATE = R"ps($reg = 'HKCU:\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane'
New-Item -Path $reg -Force | Out-Null
Set-ItemProperty -Path $reg -Name DisplayName -Value 'Korvane'
Set-ItemProperty -Path $reg -Name DisplayVersion -Value '{2}'
Set-ItemProperty -Path $reg -Name Publisher -Value 'V4LDR1N'
Set-ItemProperty -Path $reg -Name DisplayIcon -Value '{0}'
Set-ItemProperty -Path $reg -Name InstallLocation -Value '{1}'
Set-ItemProperty -Path $reg -Name UninstallString -Value ('powershell -NoProfile -WindowStyle Hidden -ExecutionPolicy Bypass -File "{1}\Uninstall-Korvane.ps1"')
Set-ItemProperty -Path $reg -Name NoModify -Type DWord -Value 1
Set-ItemProperty -Path $reg -Name NoRepair -Type DWord -Value 1
)ps";

// UNINSTALL_SCRIPT_TEMPLATE, the uninstall script (uninstall_script.ps1,
// compiled in by the build): {0} the escaped install folder, {1} the escaped
// path of the Desktop shortcut, {2} the escaped path of the Start Menu folder,
// {3} the installing user's SID, {4} the escaped folder by which the
// application was started (the install folder, or its short form). Lines end in LF, the last one included.
// Run from the uninstall entry, it removes exactly this installation, also
// as another account (Apps & features elevates it): every place by the
// absolute path this installation used, the entry by the SID. It stops only
// Korvane's programs whose executable lies in the install folder, does all its
// work before it ends, and ends with 0 once nothing is left, else with 1 and,
// unless -Quiet, a box that says what stays. Nothing is stopped or removed
// before every value it rests on has been checked; in Constrained Language
// mode nothing at all.
// The switch of QuietUninstallString: the uninstall without its box.
inline constexpr std::string_view kQuietSwitch = "-Quiet";

// The UTF-8 byte-order mark. Windows PowerShell 5.1 reads a script file
// without one in the ANSI code page, where the bytes of many letters (ł is
// C5 82, 0x82 being U+201A) turn into quote characters or mojibake.
inline constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

// The registration script for the escaped texts and `version`.
[[nodiscard]] std::string shortcut_script(std::string_view escaped_exe_path,
                                          std::string_view escaped_install_dir,
                                          std::string_view version);

// What the uninstall script removes, as texts ready for the script: the
// paths lossy UTF-8 and ps_escape'd, the SID checked by is_sid_text.
struct UninstallTargets {
  std::string_view install_dir;
  // Absent when the folder was not known: its line is left out.
  std::optional<std::string_view> desktop_shortcut;
  std::optional<std::string_view> start_menu_dir;
  std::string_view user_sid;
  // The folder of the program path the application is started by: the
  // install folder, or its short form when that is too long (launch_paths).
  std::string_view program_dir;
};

// The uninstall script for `targets`.
[[nodiscard]] std::string uninstall_script(const UninstallTargets& targets);

// The bytes of Uninstall-Korvane.ps1: UTF8_BOM, then uninstall_script.
[[nodiscard]] std::string uninstall_script_file(const UninstallTargets& targets);

}  // namespace korvane
