@echo off
rem Registers Morvane, the phone simulator and the configuration server of
rem this kit, and the framework type libraries; /u unregisters them.
rem The DLLs must stay where they were registered. Run as administrator.
setlocal
set KIT=%~dp0
set UNDO=
set TLBUNDO=
if /i "%~1"=="/u" (set UNDO=/u& set TLBUNDO=-u)
for %%d in (Morvane PhoneSim CapMgr) do (
  regsvr32 /s %UNDO% "%KIT%bin\%%d.dll" || exit /b 1
)
"%KIT%bin\kvtlbreg.exe" %TLBUNDO% "%KIT%lib\KV File Mgmt.tlb" "%KIT%lib\KVDeviceInformation.tlb" || exit /b 1
