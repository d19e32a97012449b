#pragma once
// The two PowerShell scripts: the registration run (shortcuts and the
// uninstall entry) and the uninstall script left in the install folder.

#include <string>
#include <string_view>

namespace korvane {

// Doubles every character that ends a PowerShell single-quoted string: the
// apostrophe U+0027 and the typographic quotes U+2018 to U+201B, each doubled
// as itself. Everything else is copied. PowerShell reads the result, inside
// '...', back as `text`. Example: ps_escape("D:\\user's") == "D:\\user''s".
[[nodiscard]] std::string ps_escape(std::string_view text);

// Lines end in LF, the last one included. {0} the escaped exe path, {1} the
// escaped install folder, {2} the version.
inline constexpr std::string_view SHORTCUT_SCRIPT_TEMPLATE = R"ps($w = New-Object -ComObject WScript.Shell
$desktop = [Environment]::GetFolderPath('Desktop')
$s1 = $w.CreateShortcut("$desktop\Korvane.lnk")
$s1.TargetPath = '{0}'
$s1.WorkingDirectory = '{1}'
$s1.Description = 'Korvane Music Player'
$s1.Save()

$sm = "$env:APPDATA\Microsoft\Windows\Start Menu\Programs\Korvane"
New-Item -ItemType Directory -Force -Path $sm | Out-Null
$s2 = $w.CreateShortcut("$sm\Korvane.lnk")
$s2.TargetPath = '{0}'
$s2.WorkingDirectory = '{1}'
$s2.Description = 'Korvane Music Player'
$s2.Save()

$reg = 'HKCU:\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane'
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

// {0} the escaped install folder. The Desktop shortcut is removed from the
// shell's Desktop folder, where the registration made it (it may be
// redirected away from the profile). The folder reaches cmd only through an
// environment variable: cmd expands %NAME% even between double quotes, but
// does not expand again what a variable's value holds.
inline constexpr std::string_view UNINSTALL_SCRIPT_TEMPLATE = R"ps(Stop-Process -Name Korvane, KorvaneCore -Force -ErrorAction SilentlyContinue
Start-Sleep -Milliseconds 400
Remove-Item "$([Environment]::GetFolderPath('Desktop'))\Korvane.lnk" -Force -ErrorAction SilentlyContinue
Remove-Item "$env:APPDATA\Microsoft\Windows\Start Menu\Programs\Korvane" -Recurse -Force -ErrorAction SilentlyContinue
Remove-Item "HKCU:\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane" -Recurse -Force -ErrorAction SilentlyContinue
$env:KORVANE_UNINSTALL_DIR = '{0}'
Start-Process cmd -ArgumentList '/c timeout /t 1 >nul & rmdir /s /q "%KORVANE_UNINSTALL_DIR%"' -WindowStyle Hidden
)ps";

// The UTF-8 byte-order mark. Windows PowerShell 5.1 reads a script file
// without one in the ANSI code page, where the bytes of many letters (ł is
// C5 82, 0x82 being U+201A) turn into quote characters or mojibake.
inline constexpr std::string_view UTF8_BOM = "\xEF\xBB\xBF";

// The registration script for the escaped texts and `version`.
[[nodiscard]] std::string shortcut_script(std::string_view escaped_exe_path,
                                          std::string_view escaped_install_dir,
                                          std::string_view version);

// The uninstall script for the escaped install folder.
[[nodiscard]] std::string uninstall_script(std::string_view escaped_install_dir);

// The bytes of Uninstall-Korvane.ps1: UTF8_BOM, then uninstall_script.
[[nodiscard]] std::string uninstall_script_file(std::string_view escaped_install_dir);

}  // namespace korvane
