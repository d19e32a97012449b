param([switch]$Quiet)
# Removes one installation of Korvane. The installer filled in every place
# the installation used: the install folder (and the short form it started
# Korvane by, where the folder is too long), the Desktop shortcut and the
# Start Menu folder (a line naming a place it did not know is left out), and
# the installing user's SID, whose hive holds the uninstall entry. So it
# removes exactly that installation, also when Windows runs it as another
# account (Apps & features may elevate it). It does all its work
# before it ends: Programs and Features re-reads its list at that moment.
# Exit status 0 once nothing of the installation is left, 1 otherwise; then,
# unless -Quiet, a box tells the user why.

# Constrained Language mode (an App Control or AppLocker policy that does not
# trust this per-user file) has none of what the checks below need: nothing
# is stopped or removed. Nor can a box be shown there.
if ($ExecutionContext.SessionState.LanguageMode -ne 'FullLanguage') { exit 1 }

$ErrorActionPreference = 'Stop'
$removing = $false
$lock = $null

function Show-Box([string]$text) {
  if ($Quiet) { return }
  try { [void](New-Object -ComObject WScript.Shell).Popup($text, 0, 'Korvane Setup', 48) } catch { }
}

# Ends the run with status 1; the lock goes before the box waits for a click.
function Stop-Uninstall([string]$text) {
  if ($null -ne $lock) {
    try { $lock.ReleaseMutex() } catch { }
    $lock.Dispose()
  }
  Show-Box $text
  exit 1
}

# Any error ends the run. Before the first process is stopped nothing has
# changed; every value the removal rests on is checked before that.
trap {
  if ($removing) { $what = 'Korvane could not be removed completely:' }
  else { $what = 'Korvane could not be removed; nothing was changed:' }
  Stop-Uninstall ($what + "`n`n" + $_.Exception.Message)
}

# The folder as the installer wrote it, in its plain and its long (\\?\)
# form: a drive path, a UNC path, or one already in \\?\ or \\.\ form.
$written = 'C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane'
$dir = $written
if (-not $dir.StartsWith('\\?\', [StringComparison]::Ordinal)) { $dir = [IO.Path]::GetFullPath($dir) }
if ($dir -match '^\\\\[?.]\\UNC\\(.+)$') {
  $plain = '\\' + $Matches[1]; $long = '\\?\UNC\' + $Matches[1]
} elseif ($dir -match '^\\\\[?.]\\([A-Za-z]:\\.+)$') {
  $plain = $Matches[1]; $long = '\\?\' + $Matches[1]
} elseif ($dir -match '^\\\\[^?.\\][^\\]*\\[^\\]+\\.+$') {
  $plain = $dir; $long = '\\?\UNC\' + $dir.Substring(2)
} elseif ($dir -match '^[A-Za-z]:\\.+$') {
  $plain = $dir; $long = '\\?\' + $dir
} else {
  throw "The install folder $written is not an absolute path."
}
# Never a drive root or a share: the installer's folder is always ...\Programs\Korvane.
if (-not $plain.EndsWith('\Programs\Korvane', [StringComparison]::OrdinalIgnoreCase)) {
  throw "The install folder $written is not a Korvane folder."
}
# The folder by which Korvane was started: the same, or its short form.
$launched = 'C:\Michał Пётр 田中 O’’Brien ''a‘‘b‚‚c‛‛ %USERNAME% $env:TEMP `t &^ ü 😀\Programs\Korvane'
if ($launched -notmatch '^([A-Za-z]:|\\\\[^\\]+\\[^\\]+)\\.+[^\\]$') {
  throw "The folder $launched is not an absolute path."
}

$windows = [Environment]::GetFolderPath('Windows')
if (-not $windows) { throw 'The Windows folder is not known.' }
# The long form where .NET takes it, for trees deeper than MAX_PATH.
$base = $plain
if ([IO.Directory]::Exists('\\?\' + $windows)) { $base = $long }
$self = $base + '\Uninstall-Korvane.ps1'

# A 32-bit PowerShell (deployment agents run one) cannot read a 64-bit
# program's path: the 64-bit PowerShell runs this script, and its status is
# this run's. The script is read by its literal path (-File would take [ ]
# as wildcards).
if ($env:PROCESSOR_ARCHITEW6432) {
  $native = $windows + '\sysnative\WindowsPowerShell\v1.0\powershell.exe'
  $run = '$env:PROCESSOR_ARCHITEW6432 = $null; & ([ScriptBlock]::Create([IO.File]::ReadAllText(''' +
    ($self -replace '[''\u2018-\u201B]', '$0$0') + ''')))'
  if ($Quiet) { $run += ' -Quiet' }
  $encoded = [Convert]::ToBase64String([Text.Encoding]::Unicode.GetBytes($run))
  & $native -NoProfile -NonInteractive -ExecutionPolicy Bypass -EncodedCommand $encoded
  exit $LASTEXITCODE
}

# Out of the folder, so that a run started inside it can remove it.
Set-Location -LiteralPath $windows
[Environment]::CurrentDirectory = $windows

# One installation or removal at a time for this user: the installer holds
# the same lock. A run of another account that holds it cannot be opened.
function Enter-Lock {
  $deadline = [DateTime]::UtcNow.AddMinutes(2)
  while ($true) {
    $mutex = $null
    try { $mutex = [Threading.Mutex]::new($false, 'Global\KorvaneSetup-S-1-5-21-0-0-0-1000') }
    catch [UnauthorizedAccessException] { }
    if ($null -ne $mutex) {
      $wait = [Math]::Max(0, [int]($deadline - [DateTime]::UtcNow).TotalMilliseconds)
      try { if ($mutex.WaitOne($wait)) { return $mutex } }
      catch [Threading.AbandonedMutexException] { return $mutex }
      $mutex.Dispose()
      return $null
    }
    if ([DateTime]::UtcNow -ge $deadline) { return $null }
    Start-Sleep -Milliseconds 250
  }
}
$lock = Enter-Lock
if ($null -eq $lock) {
  Stop-Uninstall 'Korvane is being installed or removed right now. Choose Uninstall again once that has finished.'
}

# The entry lives in the installing user's hive, loaded only while that user
# is signed in.
$hive = [Microsoft.Win32.Registry]::Users.OpenSubKey('S-1-5-21-0-0-0-1000')
if ($null -eq $hive) {
  Stop-Uninstall 'Korvane was installed by a user who is not signed in now. Sign in as that user and uninstall Korvane there.'
}
$hive.Dispose()

$text = $null
if ([IO.File]::Exists($self)) { $text = [IO.File]::ReadAllBytes($self) }
$desktopLink = $null
$menu = $null
$desktopLink = 'C:\Korvane Desk [1] ''Ana'' Łódź 桌面\Desktop\Korvane.lnk'
$menu = 'C:\Korvane Start [Menü] O’’Neil [a-z]\Programs\Korvane'

# Only Korvane, and only the copies whose program lies in this folder:
# Get-Process sees every session's, and a path it cannot read is not ours.
$inside = @(($plain + '\'), ($long + '\'), ($launched + '\'))
$mine = @(Get-Process -Name Korvane, KorvaneCore -ErrorAction SilentlyContinue | Where-Object {
  $path = $null
  try { $path = $_.Path } catch { }
  $found = $false
  if ($path -is [string] -and $path.Length -gt 0) {
    foreach ($prefix in $inside) {
      if ($path.StartsWith($prefix, [StringComparison]::OrdinalIgnoreCase)) { $found = $true }
    }
  }
  $found
})
$removing = $true
$mine | Stop-Process -Force -ErrorAction SilentlyContinue
try { $mine | Wait-Process -Timeout 10 -ErrorAction SilentlyContinue } catch { }

# What stays after a pass: paths in their long or plain form.
$left = [Collections.Generic.List[string]]::new()

# A file, read-only or not; its path goes to $left when it stays.
function Remove-File([string]$path) {
  if (-not [IO.File]::Exists($path)) { return }
  try {
    $attributes = [IO.File]::GetAttributes($path)
    if ($attributes -band [IO.FileAttributes]::ReadOnly) {
      [IO.File]::SetAttributes($path, $attributes -bxor [IO.FileAttributes]::ReadOnly)
    }
    [IO.File]::Delete($path)
  } catch { $left.Add($path) }
}

# Never follows a junction or symbolic link (removed as a link); names are
# taken literally, [ ] included.
function Remove-Tree([string]$path) {
  $attributes = [IO.File]::GetAttributes($path)
  if ($attributes -band [IO.FileAttributes]::ReadOnly) {
    [IO.File]::SetAttributes($path, $attributes -bxor [IO.FileAttributes]::ReadOnly)
  }
  if (-not ($attributes -band [IO.FileAttributes]::Directory)) { [IO.File]::Delete($path); return }
  if (-not ($attributes -band [IO.FileAttributes]::ReparsePoint)) {
    foreach ($entry in [IO.Directory]::GetFileSystemEntries($path)) { try { Remove-Tree $entry } catch { } }
  }
  [IO.Directory]::Delete($path)
}

# One pass over everything: the shortcuts (a user's own folder or file of
# those names stays), the Start Menu folder once empty, the folder's entries,
# and, only when nothing else is left, the script and the folder. The script
# is written back when the emptied folder cannot go (another program's
# current directory), so that the entry never names a missing script.
function Remove-Installation {
  $left.Clear()
  if ($desktopLink) { Remove-File $desktopLink }
  if ($menu) {
    Remove-File ($menu + '\Korvane.lnk')
    try {
      if ([IO.Directory]::Exists($menu) -and [IO.Directory]::GetFileSystemEntries($menu).Count -eq 0) {
        [IO.Directory]::Delete($menu)
      }
    } catch { $left.Add($menu) }
  }
  if (-not [IO.Directory]::Exists($base)) { return }
  foreach ($entry in [IO.Directory]::GetFileSystemEntries($base)) {
    if ($entry -ne $self) { try { Remove-Tree $entry } catch { $left.Add($entry) } }
  }
  if ($left.Count -gt 0) { return }
  Remove-File $self
  if ($left.Count -gt 0) { return }
  try { [IO.Directory]::Delete($base) } catch {
    if ($null -ne $text) { [IO.File]::WriteAllBytes($self, $text) }
    $left.Add($plain)
  }
}

# What is in use (a virus scanner, a sync client, a WebView2 process ending
# after the application) is tried again for about ten seconds.
$deadline = [DateTime]::UtcNow.AddSeconds(10)
while ($true) {
  Remove-Installation
  if ($left.Count -eq 0 -or [DateTime]::UtcNow -ge $deadline) { break }
  Start-Sleep -Milliseconds 250
}

# Gone is concluded from the folder as it was written, never from a derived form alone.
$stays = $left.Count -gt 0 -or [IO.Directory]::Exists($dir) -or [IO.Directory]::Exists($base) -or
  ($desktopLink -and [IO.File]::Exists($desktopLink)) -or ($menu -and [IO.File]::Exists($menu + '\Korvane.lnk'))
if ($stays) {
  if ($left.Count -eq 0) { $left.Add($plain) }
  $shown = @($left | ForEach-Object { $_ -replace '^\\\\\?\\UNC\\', '\\' -replace '^\\\\\?\\', '' })
  Stop-Uninstall ("Korvane could not be removed completely. Still in use:`n`n" + ($shown -join "`n") +
    "`n`nClose Korvane and every program that uses these files, then choose Uninstall again.")
}

[Microsoft.Win32.Registry]::Users.DeleteSubKeyTree('S-1-5-21-0-0-0-1000\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane', $false)
$key = [Microsoft.Win32.Registry]::Users.OpenSubKey('S-1-5-21-0-0-0-1000\Software\Microsoft\Windows\CurrentVersion\Uninstall\Korvane')
if ($null -ne $key) { $key.Dispose(); throw 'The uninstall entry stays.' }
$lock.ReleaseMutex()
$lock.Dispose()
exit 0
