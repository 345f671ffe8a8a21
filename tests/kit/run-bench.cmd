@echo off
rem Measures Execute against the floor that this machine sets, and RunCommand against
rem Execute (about 3 minutes), and writes the tables to bench.txt beside this file.
start "" /wait "%~dp0bench.exe" speed "%~dp0bench-figures.txt" "%~dp0bench.txt"
if errorlevel 1 exit /b 1
type "%~dp0bench.txt"
