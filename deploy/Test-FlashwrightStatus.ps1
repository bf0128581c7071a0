# Intune remediation detection: reads the summary flashwright-cli keeps in
# HKLM\SOFTWARE\Flashwright\Status (64-bit view) and prints it on one line, which Intune shows as
# the detection's output. Exit 0 (compliant) when every attached device is at the target or none is
# attached; 1 (not compliant) when a device needs the update, waits for its power cycle, failed or
# cannot be updated, and when there is no summary to read (no run has looked at the devices).
try {
  $machine = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', 'Registry64')
  $key = $machine.OpenSubKey('SOFTWARE\Flashwright\Status')
  if ($null -eq $key) {
    'Flashwright: no status yet (no flashwright-cli run has looked at the devices)'
    exit 1
  }
  $state = [string]$key.GetValue('State')
  $line = 'Flashwright: {0}; devices: {1}; target {2}; looked {3}; {4} {5} exit code {6}' -f `
    $state, [string]$key.GetValue('Devices'), [string]$key.GetValue('Target'),
    [string]$key.GetValue('LastLook'), [string]$key.GetValue('Program'),
    [string]$key.GetValue('Command'), [string]$key.GetValue('ExitCode')
  $key.Close()
  $line
  if ($state -eq 'done' -or $state -eq 'no-device') { exit 0 }
  exit 1
} catch {
  'Flashwright: the status cannot be read: ' + $_.Exception.Message
  exit 1
}
