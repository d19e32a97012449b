$windows = [Environment]::GetFolderPath('Windows')
Set-Location -LiteralPath $windows
[Environment]::CurrentDirectory = $windows
$dir = [IO.Path]::GetFullPath('C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane')
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
Remove-File 'C:\Korvane Desk [1] ''Ana'' Łódź 桌面\Desktop\Korvane.lnk'
Remove-Menu 'C:\Korvane Start [Menü] O’’Neil [a-z]\Programs\Korvane'
$deadline = [DateTime]::UtcNow.AddSeconds(10)
while (-not ($gone = Remove-Folder) -and -not $left -and [DateTime]::UtcNow -lt $deadline) {
  Start-Sleep -Milliseconds 250
}
if (-not $gone -or $left) { exit 1 }
try {
  [Microsoft.Win32.Registry]::Users.DeleteSubKeyTree('S-1-5-21-0-0-0-1000\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane', $false)
} catch { exit 1 }
exit 0
