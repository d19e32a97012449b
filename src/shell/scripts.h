#pragma once
// The two PowerShell scripts: the registration run (the uninstall entry) and
// the uninstall script left in the install folder.

#include <optional>
#include <string>
#include <string_view>

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

// {0} the escaped install folder, {1} the escaped path of the Desktop
// shortcut, {2} the escaped path of the Start Menu folder, {3} the installing
// user's SID. The script may run as another account (Apps & features elevates
// it): everything it removes is named by the absolute paths this installation
// used and by the SID, never by that account's APPDATA, Desktop or HKCU, and
// it stops only programs whose executable lies in the install folder
// (Get-Process sees every session's; a path it cannot read is not ours).
// It does all its work before it ends, since Programs and Features re-reads
// its list the moment the uninstaller exits. Files go through .NET, whose
// calls take [ ] literally and which removes a junction or symbolic link as
// a link; the long form (\\?\) is used where .NET takes it, for trees deeper
// than MAX_PATH. Whatever is in use is retried for about ten seconds (virus
// scanners, WebView2 processes ending after the application); what still
// stays keeps this script and the entry with it, so that Uninstall can be
// pressed again, and the exit status is 1 for deployment tools. The script
// is deleted just before its folder; where the folder cannot go even then
// (another program's current directory), the script is written back.
inline constexpr std::string_view UNINSTALL_SCRIPT_TEMPLATE = R"ps($windows = [Environment]::GetFolderPath('Windows')
Set-Location -LiteralPath $windows
[Environment]::CurrentDirectory = $windows
$dir = [IO.Path]::GetFullPath('{0}')
$base = $dir
if ([IO.Directory]::Exists('\\?\' + $windows)) {
  $base = if ($dir.StartsWith('\\')) { '\\?\UNC\' + $dir.Substring(2) } else { '\\?\' + $dir }
}
$self = $base + '\Uninstall-Korvane.ps1'
$text = $null
try { $text = [IO.File]::ReadAllBytes($self) } catch { }
$left = $false

function Remove-File([string]$path) {
  if ([IO.File]::Exists($path)) { try { [IO.File]::Delete($path) } catch { $script:left = $true } }
}

function Remove-Menu([string]$menu) {
  Remove-File ($menu + '\Korvane.lnk')
  if ([IO.Directory]::Exists($menu) -and [IO.Directory]::GetFileSystemEntries($menu).Count -eq 0) {
    try { [IO.Directory]::Delete($menu) } catch { $script:left = $true }
  }
}

function Remove-Tree([string]$path) {
  $attributes = [IO.File]::GetAttributes($path)
  if ($attributes.HasFlag([IO.FileAttributes]::ReadOnly)) {
    [IO.File]::SetAttributes($path, $attributes -bxor [IO.FileAttributes]::ReadOnly)
  }
  if (-not $attributes.HasFlag([IO.FileAttributes]::Directory)) { [IO.File]::Delete($path); return }
  if (-not $attributes.HasFlag([IO.FileAttributes]::ReparsePoint)) {
    foreach ($entry in [IO.Directory]::GetFileSystemEntries($path)) { try { Remove-Tree $entry } catch { } }
  }
  [IO.Directory]::Delete($path)
}

function Remove-Folder {
  if (-not [IO.Directory]::Exists($base)) { return $true }
  try { $entries = [IO.Directory]::GetFileSystemEntries($base) } catch { return $false }
  $clear = $true
  foreach ($entry in $entries) {
    if ($entry -ne $self) { try { Remove-Tree $entry } catch { $clear = $false } }
  }
  if (-not $clear -or $left) { return $false }
  try { [IO.File]::Delete($self) } catch { return $false }
  try { [IO.Directory]::Delete($base) } catch {
    try { [IO.File]::WriteAllBytes($self, $text) } catch { }
    return $false
  }
  $true
}

$inside = $dir.TrimEnd('\') + '\'
$mine = @(Get-Process | Where-Object {
  $path = $null
  try { $path = $_.Path } catch { }
  $path -and $path.StartsWith($inside, [StringComparison]::OrdinalIgnoreCase)
})
$mine | Stop-Process -Force -ErrorAction SilentlyContinue
$mine | Wait-Process -Timeout 10 -ErrorAction SilentlyContinue
Remove-File '{1}'
Remove-Menu '{2}'
$deadline = [DateTime]::UtcNow.AddSeconds(10)
while (-not ($gone = Remove-Folder) -and -not $left -and [DateTime]::UtcNow -lt $deadline) {
  Start-Sleep -Milliseconds 250
}
if (-not $gone -or $left) { exit 1 }
try {
  [Microsoft.Win32.Registry]::Users.DeleteSubKeyTree('{3}\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane', $false)
} catch { exit 1 }
exit 0
)ps";

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
};

// The uninstall script for `targets`.
[[nodiscard]] std::string uninstall_script(const UninstallTargets& targets);

// The bytes of Uninstall-Korvane.ps1: UTF8_BOM, then uninstall_script.
[[nodiscard]] std::string uninstall_script_file(const UninstallTargets& targets);

}  // namespace korvane
