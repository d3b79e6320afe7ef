@echo off
rem Stands in for an uninstaller that takes its time: it ends once
rem go.txt appears beside it.
:wait
if not exist "%~dp0go.txt" goto wait
