# Runs the installer's two scripts in PowerShell and reports what they did.
#
#   pwsh -NoProfile -File runner.ps1 CASES.json RESULT.json
#
# CASES.json (written by tests/e2e/test_engine.py) names, per case, the
# registration text, the uninstall file, the texts their placeholders stand
# for, and the uninstall runs to make. Linux has no registry, no COM and no
# hidden windows: those parts, and only those, are stand-ins here. Files,
# folders, processes, the environment and the started cmd are real.
param([Parameter(Mandatory)][string]$CasesFile, [Parameter(Mandatory)][string]$ResultFile)

$ErrorActionPreference = 'Stop'
$config = Get-Content -LiteralPath $CasesFile -Raw -Encoding utf8 | ConvertFrom-Json -AsHashtable

# Windows paths resolve as under Wine: Z: is the root, C: the prefix's drive.
foreach ($drive in $config.drives.GetEnumerator()) {
  New-PSDrive -Name $drive.Key -PSProvider FileSystem -Root $drive.Value -Scope Global | Out-Null
}
foreach ($var in $config.env.GetEnumerator()) { Set-Item -LiteralPath "env:$($var.Key)" -Value $var.Value }
# The recording cmd stands first on PATH.
$env:PATH = $config.bin + [IO.Path]::PathSeparator + $env:PATH

# What the stand-ins saw during one script run.
$global:Seen = $null
function Reset-Seen {
  $global:Seen = @{ registry = [ordered]@{}; registry_ops = [Collections.Generic.List[object]]::new()
                    removals = [Collections.Generic.List[object]]::new()
                    starts = [Collections.Generic.List[object]]::new()
                    processes = [Collections.Generic.List[object]]::new()
                    com = [Collections.Generic.List[object]]::new(); pids = @() }
}

# The paths a call names, -Path and -LiteralPath together.
function Join-Paths($Path, $LiteralPath) { , @(@($Path) + @($LiteralPath) | Where-Object { $_ }) }

function Test-RegistryPath([string[]]$Paths) {
  foreach ($p in $Paths) { if ($p -match '^(HKCU|HKLM|HKU|HKCR|HKCC):|^Registry::') { return $true } }
  return $false
}

# Ids of the run's Korvane processes that have not ended (a zombie has not).
function Get-Unended { @($global:Seen.pids | Where-Object { Test-Path -LiteralPath "/proc/$_" }) }

# The registry stand-in: the three cmdlets the scripts use on it. Any other
# path goes to the real cmdlet with the parameters exactly as bound.
function New-Item {
  [CmdletBinding()]
  param([Parameter(Position = 0)][string[]]$Path, [string]$Name, [Alias('Type')][string]$ItemType,
        [Parameter(ValueFromPipeline)][object]$Value, [switch]$Force)
  if (-not (Test-RegistryPath $Path)) { return Microsoft.PowerShell.Management\New-Item @PSBoundParameters }
  foreach ($key in $Path) {
    $global:Seen.registry_ops.Add(@{ op = 'New-Item'; path = $key; force = [bool]$Force })
    if ($global:Seen.registry.Contains($key) -and -not $Force) { Write-Error "A key at this path already exists: $key"; continue }
    $global:Seen.registry[$key] = [ordered]@{}
    [pscustomobject]@{ PSPath = $key }
  }
}

function Set-ItemProperty {
  [CmdletBinding()]
  param([Parameter(Position = 0)][string[]]$Path, [Alias('PSPath', 'LP')][string[]]$LiteralPath,
        [Parameter(Position = 1)][string]$Name, [Parameter(Position = 2)][object]$Value,
        [Microsoft.Win32.RegistryValueKind]$Type, [switch]$Force, [switch]$PassThru)
  $paths = Join-Paths $Path $LiteralPath
  if (-not (Test-RegistryPath $paths)) { return Microsoft.PowerShell.Management\Set-ItemProperty @PSBoundParameters }
  # Without -Type a new value takes its kind from the data, as RegistryKey.SetValue does.
  $kind = if ($PSBoundParameters.ContainsKey('Type')) { $Type }
          elseif ($Value -is [int]) { 'DWord' } elseif ($Value -is [string[]]) { 'MultiString' }
          elseif ($Value -is [byte[]]) { 'Binary' } else { 'String' }
  $data = switch ("$kind") { 'DWord' { [int]$Value } 'QWord' { [long]$Value } default { [string]$Value } }
  foreach ($key in $paths) {
    $global:Seen.registry_ops.Add(@{ op = 'Set-ItemProperty'; path = $key; name = $Name })
    if (-not $global:Seen.registry.Contains($key)) { Write-Error "Cannot find path '$key' because it does not exist."; continue }
    $global:Seen.registry[$key][$Name] = @{ kind = "$kind"; data = $data; given = $Value.GetType().FullName }
  }
}

function Remove-Item {
  [CmdletBinding()]
  param([Parameter(Position = 0)][string[]]$Path, [Alias('PSPath', 'LP')][string[]]$LiteralPath,
        [switch]$Recurse, [switch]$Force, [string]$Filter, [string[]]$Include, [string[]]$Exclude)
  $paths = Join-Paths $Path $LiteralPath
  $global:Seen.removals.Add(@{ parameter = if ($Path) { 'Path' } else { 'LiteralPath' }; paths = $paths
                               unended = Get-Unended })
  if (-not (Test-RegistryPath $paths)) { return Microsoft.PowerShell.Management\Remove-Item @PSBoundParameters }
  foreach ($key in $paths) {
    $global:Seen.registry_ops.Add(@{ op = 'Remove-Item'; path = $key })
    $global:Seen.registry.Remove($key)
  }
}

# COM: the shell object that makes shortcuts, recording each Save.
function New-Object {
  [CmdletBinding(DefaultParameterSetName = 'Net')]
  param([Parameter(ParameterSetName = 'Net', Position = 0)][string]$TypeName,
        [Parameter(ParameterSetName = 'Net', Position = 1)][object[]]$ArgumentList,
        [Parameter(ParameterSetName = 'Com', Mandatory)][string]$ComObject, [switch]$Strict, [hashtable]$Property)
  if (-not $ComObject) { return Microsoft.PowerShell.Utility\New-Object @PSBoundParameters }
  $shell = [pscustomobject]@{ ProgId = $ComObject }
  $shell | Add-Member ScriptMethod CreateShortcut {
    param($FullName)
    $link = [pscustomobject]@{ FullName = $FullName; TargetPath = ''; WorkingDirectory = ''; Description = '' }
    $link | Add-Member ScriptMethod Save {
      $global:Seen.com.Add(@{ path = $this.FullName; target = $this.TargetPath
                              working_directory = $this.WorkingDirectory; description = $this.Description })
    }
    $link
  }
  $shell
}

# Start-Process as on Windows, where -WindowStyle exists: the call is
# recorded as bound and made by the real cmdlet, without the window style.
function Start-Process {
  [CmdletBinding()]
  param([Parameter(Position = 0, Mandatory)][Alias('PSPath', 'Path')][string]$FilePath,
        [Parameter(Position = 1)][Alias('Args')][string[]]$ArgumentList, [string]$WorkingDirectory,
        [Diagnostics.ProcessWindowStyle]$WindowStyle, [switch]$PassThru, [switch]$Wait, [switch]$NoNewWindow)
  # The cmdlet joins the argument list with single spaces into the command line.
  $global:Seen.starts.Add(@{ file = $FilePath; arguments = $ArgumentList -join ' '
                             working_directory = $WorkingDirectory; window_style = "$WindowStyle" })
  $real = @{} + $PSBoundParameters
  $real.Remove('WindowStyle')
  $real['PassThru'] = $true
  $process = Microsoft.PowerShell.Management\Start-Process @real
  $global:Seen.processes.Add($process)
  if ($PassThru) { $process }
}

# Every difference between a script and its template lies in a placeholder,
# and a placeholder stands only in single-quoted literals whose values are
# the template's with the placeholders' texts put in.
function Compare-WithTemplate([string]$Text, [string]$Template, [hashtable]$Values) {
  $problems = [Collections.Generic.List[string]]::new()
  $tokens = $null; $errors = $null; $templateTokens = $null; $templateErrors = $null
  [void][Management.Automation.Language.Parser]::ParseInput($Text, [ref]$tokens, [ref]$errors)
  [void][Management.Automation.Language.Parser]::ParseInput($Template, [ref]$templateTokens, [ref]$templateErrors)
  foreach ($e in $errors) { $problems.Add("parse error, line $($e.Extent.StartLineNumber): $($e.Message)") }
  foreach ($e in $templateErrors) { $problems.Add("template parse error: $($e.Message)") }
  if ($tokens.Count -ne $templateTokens.Count) {
    $problems.Add("$($tokens.Count) tokens where the template has $($templateTokens.Count)")
  }
  for ($i = 0; $i -lt [Math]::Min($tokens.Count, $templateTokens.Count); $i++) {
    $got = $tokens[$i]; $want = $templateTokens[$i]
    $where = "line $($got.Extent.StartLineNumber) token $i"
    if ($want.Text -match '\{\d\}') {
      $value = $want.Value
      foreach ($v in $Values.GetEnumerator()) { $value = $value.Replace($v.Key, $v.Value) }
      if ($want.Kind -ne 'StringLiteral' -or $got.Kind -ne 'StringLiteral') {
        $problems.Add("${where}: a placeholder in a $($got.Kind) token ($($got.Text))")
      } elseif (-not $got.Value.Equals($value)) {
        $problems.Add("${where}: value [$($got.Value)] where [$value] was meant")
      }
    } elseif ($got.Kind -ne $want.Kind -or -not $got.Text.Equals($want.Text)) {
      $problems.Add("${where}: $($got.Kind) [$($got.Text)] where the template has $($want.Kind) [$($want.Text)]")
    }
  }
  , $problems.ToArray()
}

# Runs a script as PowerShell starts one: errors go on unless it says otherwise.
function Invoke-Captured([scriptblock]$Script) {
  $ErrorActionPreference = 'Continue'
  $Error.Clear()
  try { & $Script *>&1 | Out-Null } catch { }
  , @($Error | ForEach-Object { "$_" })
}

$templates = @{ registration = [IO.File]::ReadAllText($config.registration_template)
                uninstall = [IO.File]::ReadAllText($config.uninstall_template) }
$results = [ordered]@{}
foreach ($case in $config.cases) {
  $registration = [IO.File]::ReadAllText($case.registration)
  $uninstall = [IO.File]::ReadAllText($case.uninstall)  # UTF-8 by its byte-order mark
  $result = [ordered]@{
    parse = @{ registration = Compare-WithTemplate $registration $templates.registration $case.registration_values
               uninstall = Compare-WithTemplate $uninstall $templates.uninstall $case.uninstall_values }
  }

  # The registration run, as the installer's -Command hands it over.
  Reset-Seen
  foreach ($var in $case.profile.GetEnumerator()) { Set-Item -LiteralPath "env:$($var.Key)" -Value $var.Value }
  $result.registration_errors = Invoke-Captured ([scriptblock]::Create($registration))
  $result.registry = $global:Seen.registry
  $result.registry_ops = $global:Seen.registry_ops
  $result.com = $global:Seen.com

  $result.runs = [ordered]@{}
  foreach ($run in $case.runs) {
    foreach ($file in $run.create) {
      [void][IO.Directory]::CreateDirectory([IO.Path]::GetDirectoryName($file))
      if (-not [IO.File]::Exists($file)) { [IO.File]::WriteAllText($file, 'shortcut') }
    }
    Reset-Seen
    foreach ($var in $run.env.GetEnumerator()) { Set-Item -LiteralPath "env:$($var.Key)" -Value $var.Value }
    Remove-Item -LiteralPath env:KORVANE_UNINSTALL_DIR -ErrorAction Ignore
    $env:KORVANE_CMD_RECORDS = $run.records
    $global:Seen.pids = @(& python3 (Join-Path $config.bin 'sleepers.py') $config.sleepers_dir | ForEach-Object { [int]$_ })
    Push-Location -LiteralPath $run.cwd
    $errors = Invoke-Captured { & ([scriptblock]::Create($uninstall)) }
    Pop-Location
    $global:Seen.processes | ForEach-Object { $_.WaitForExit(30000) | Out-Null }
    $unended = Get-Unended
    $unended | ForEach-Object { [Diagnostics.Process]::GetProcessById($_).Kill() }
    $result.runs[$run.name] = [ordered]@{
      pids = $global:Seen.pids; unended_after = $unended; removals = $global:Seen.removals
      starts = $global:Seen.starts; registry_ops = $global:Seen.registry_ops; errors = $errors
      exists = [ordered]@{}
    }
    foreach ($p in $run.watch) { $result.runs[$run.name].exists[$p] = [IO.File]::Exists($p) -or [IO.Directory]::Exists($p) }
  }
  $results[$case.id] = $result
}
$results | ConvertTo-Json -Depth 12 | Set-Content -LiteralPath $ResultFile -Encoding utf8
