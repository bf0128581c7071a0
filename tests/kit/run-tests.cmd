@echo off
rem Runs the Flashwright Windows test kit (Run-Tests.ps1) from an elevated Command Prompt.
powershell -NoProfile -ExecutionPolicy Bypass -File "%~dp0Run-Tests.ps1" %*
exit /b %ERRORLEVEL%
