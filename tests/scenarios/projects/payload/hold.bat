@echo off
rem Stands in for an uninstaller that takes its time: it ends once go.txt
rem appears beside it, or fails after about a minute (a script that
rem failed before it wrote go.txt leaves nothing running).
set n=0
:wait
if exist "%~dp0go.txt" exit /b 0
set /a n+=1
if %n% geq 60 exit /b 1
ping -n 2 127.0.0.1 >nul
goto wait
