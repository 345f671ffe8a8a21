@echo off
rem Runs every test case of the kit, each in a process of its own, and writes the
rem report to results.txt beside this file. Exit status 0 only when none failed.
"%~dp0kit-runner.exe" %*
exit /b %errorlevel%
