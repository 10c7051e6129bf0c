@echo off
rem kelvotest-record.cmd: runs a program that uses the scanner's device library with the
rem recording library in front of the real one, and writes every call to TRACE. It lies beside
rem the recording kelvoscanusb.dll. Windows loads a DLL from the program's own folder before
rem any other, so the program is started from a copy in a scratch folder beside a copy of the
rem recording library; the real library is the one beside the program unless --library names it.
setlocal
set "library=%KELVOREC_LIBRARY%"
if /i "%~1"=="--library" (
    if "%~2"=="" goto usage
    set "library=%~f2"
    shift
    shift
)
if "%~1"=="" goto usage
if not "%~2"=="--" goto usage
if "%~3"=="" goto usage
set "KELVOREC_TRACE=%~f1"
set "program=%~f3"
if not exist "%program%" set "program=%~f$PATH:3"
if not exist "%program%" if exist "%~f3.exe" set "program=%~f3.exe"
if not exist "%program%" (
    echo kelvotest-record: %~3: program not found 1>&2
    exit /b 127
)
for %%P in ("%program%") do (
    set "programdir=%%~dpP"
    set "programname=%%~nxP"
)
if "%library%"=="" set "library=%programdir%kelvoscanusb.dll"
if not exist "%library%" (
    echo kelvotest-record: %library%: no device library there ^(name it with --library^) 1>&2
    exit /b 1
)
set "KELVOREC_LIBRARY=%library%"
rem Copies left by runs that were broken off (Ctrl-C and "Terminate batch job" end this file
rem before its own clean-up): removed now. A copy still running is locked and stays.
for /d %%D in ("%TEMP%\kelvorec-*") do rmdir /s /q "%%~fD" 2>nul
set "scratch=%TEMP%\kelvorec-%RANDOM%%RANDOM%"
rem Each step is checked by what it leaves behind: "||" is not honoured by every cmd.
mkdir "%scratch%" 2>nul
copy /y "%program%" "%scratch%\" >nul 2>nul
copy /y "%~dp0kelvoscanusb.dll" "%scratch%\" >nul 2>nul
if not exist "%scratch%\%programname%" goto noscratch
if not exist "%scratch%\kelvoscanusb.dll" goto noscratch
rem The program's other DLLs are still found in its own folder.
set "PATH=%programdir%;%PATH%"
rem Everything after "--" and the program name goes to the program.
shift
shift
shift
set "args="
:collect
if "%~1"=="" goto run
set args=%args% %1
shift
goto collect
:run
"%scratch%\%programname%"%args%
set "status=%ERRORLEVEL%"
rmdir /s /q "%scratch%"
exit /b %status%
:noscratch
echo kelvotest-record: cannot prepare the program's copy in %scratch% 1>&2
if exist "%scratch%\" rmdir /s /q "%scratch%"
exit /b 1
:usage
echo usage: kelvotest-record [--library PATH] TRACE -- PROGRAM [ARGS...] 1>&2
exit /b 1
