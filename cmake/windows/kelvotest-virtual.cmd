@echo off
rem Runs kelvotest, with the options given here, against the virtual scanner in the folder
rem "virtual" beside this file. The copy of kelvotest.exe in that folder loads the virtual
rem scanner's kelvoscanusb.dll beside it, even when the vendor's library stands beside the
rem main kelvotest.exe; the virtual scanner finds its scanner3.mcs there too.
"%~dp0virtual\kelvotest.exe" %*
exit /b %ERRORLEVEL%
