@echo off
rem Measures Execute against the floor that this machine sets (about 2 minutes) and
rem writes the table to bench.txt beside this file.
start "" /wait "%~dp0bench.exe" speed "%~dp0bench-figures.txt" "%~dp0bench.txt"
if errorlevel 1 exit /b 1
type "%~dp0bench.txt"
