# Runs the Flashwright Windows test kit: from an elevated PowerShell, .\Run-Tests.ps1
#   -Results <folder>  where junit.xml and summary.txt go (default: results beside this script)
#   -Force             run although Flashwright's data is on this PC (registry key, data folder,
#                      event source, an installed Flashwright); only what the run adds is removed
#                      afterwards, and the tests may have changed what was there
# Exit code: 0 every test that ran passed, 1 a test failed, 2 the kit could not run.
# The steps are all bin\kit-runner.exe's; this script checks elevation, starts it and shows the
# summary.
param(
  [string]$Results = (Join-Path $PSScriptRoot 'results'),
  [switch]$Force
)
$ErrorActionPreference = 'Stop'

$principal = New-Object Security.Principal.WindowsPrincipal([Security.Principal.WindowsIdentity]::GetCurrent())
if (-not $principal.IsInRole([Security.Principal.WindowsBuiltInRole]::Administrator)) {
  Write-Host 'The kit must run elevated: right-click Windows PowerShell, choose "Run as administrator", and run this script again.'
  exit 2
}

$runner = Join-Path $PSScriptRoot 'bin\kit-runner.exe'
if (-not (Test-Path -LiteralPath $runner)) {
  Write-Host "$runner is missing: unpack the whole kit."
  exit 2
}
$Results = [IO.Path]::GetFullPath($Results)
$arguments = @('--results', $Results)
if ($Force) { $arguments += '--force' }
& $runner @arguments
$code = $LASTEXITCODE
$summary = Join-Path $Results 'summary.txt'
if (Test-Path -LiteralPath $summary) {
  Write-Host ''
  Get-Content -LiteralPath $summary | Write-Host
}
exit $code
