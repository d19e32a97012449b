# Runs the installer's two scripts in PowerShell and reports what they did.
#
#   pwsh -NoProfile -File runner.ps1 CASES.json RESULT.json
#
# CASES.json (written by tests/e2e/test_engine.py) names, per case, the
# registration text, the uninstall file and the texts their placeholders
# stand for. Both scripts are parsed and compared with their templates; the
# registration is run, with the registry (which Linux lacks) a stand-in. The
# uninstall is only parsed here: it runs for real in the journey tests.
param([Parameter(Mandatory)][string]$CasesFile, [Parameter(Mandatory)][string]$ResultFile)

$ErrorActionPreference = 'Stop'
$config = Get-Content -LiteralPath $CasesFile -Raw -Encoding utf8 | ConvertFrom-Json -AsHashtable

# What the registry stand-in holds after one script run.
$global:Seen = $null
function Reset-Seen {
  $global:Seen = @{ registry = [ordered]@{} }
}

# The paths a call names, -Path and -LiteralPath together.
function Join-Paths($Path, $LiteralPath) { , @(@($Path) + @($LiteralPath) | Where-Object { $_ }) }

function Test-RegistryPath([string[]]$Paths) {
  foreach ($p in $Paths) { if ($p -match '^(HKCU|HKLM|HKU|HKCR|HKCC):|^Registry::') { return $true } }
  return $false
}

# The registry stand-in: the two cmdlets the registration uses on it. Any other
# path goes to the real cmdlet with the parameters exactly as bound.
function New-Item {
  [CmdletBinding()]
  param([Parameter(Position = 0)][string[]]$Path, [string]$Name, [Alias('Type')][string]$ItemType,
        [Parameter(ValueFromPipeline)][object]$Value, [switch]$Force)
  if (-not (Test-RegistryPath $Path)) { return Microsoft.PowerShell.Management\New-Item @PSBoundParameters }
  foreach ($key in $Path) {
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
    if (-not $global:Seen.registry.Contains($key)) { Write-Error "Cannot find path '$key' because it does not exist."; continue }
    $global:Seen.registry[$key][$Name] = @{ kind = "$kind"; data = $data; given = $Value.GetType().FullName }
  }
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

  $results[$case.id] = $result
}
$results | ConvertTo-Json -Depth 12 | Set-Content -LiteralPath $ResultFile -Encoding utf8
