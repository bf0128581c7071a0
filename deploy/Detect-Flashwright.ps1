# Detection for device-management systems: flashwright-cli detect from the install folder, its output
# and exit code passed through: a line and 0 when no attached device needs the update, else nothing.
& "$(if (${env:ProgramFiles(x86)}) { ${env:ProgramFiles(x86)} } else { $env:ProgramFiles })\Flashwright\flashwright-cli.exe" detect; exit $LASTEXITCODE
