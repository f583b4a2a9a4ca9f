; The kavon installer for Windows, built by scripts/installer with NSIS's
; makensis: kavon.exe, its icon and README, a Start-menu entry; on request
; kavon started at logon (headless, as the user) or a service that records
; from boot on (headless, as LocalSystem, its home in ProgramData\kavon).
; Silent: /S, with /LOGON and /SERVICE to choose those. The uninstaller
; stops and removes the service and keeps every recording, setting and log.
; kavon.exe is 64-bit, and so is its installer.
Target amd64-unicode
!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!ifndef VERSION | EXE | ICON | README | OUTFILE
  !error "makensis -DVERSION=... -DEXE=... -DICON=... -DREADME=... -DOUTFILE=... kavon.nsi"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\kavon"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"

Name "kavon ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\kavon"
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=1033 "ProductName" "kavon"
VIAddVersionKey /LANG=1033 "FileDescription" "kavon installer"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "tarvelin"
VIAddVersionKey /LANG=1033 "LegalCopyright" "tarvelin"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "Japanese"

Section "kavon" SecMain
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "/oname=kavon.exe" "${EXE}"
  File "/oname=kavon.ico" "${ICON}"
  File "/oname=README.md" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateDirectory "$SMPROGRAMS\kavon"
  CreateShortCut "$SMPROGRAMS\kavon\kavon.lnk" "$INSTDIR\kavon.exe" "--headless" "$INSTDIR\kavon.ico"
  CreateShortCut "$SMPROGRAMS\kavon\kavon README.lnk" "$INSTDIR\README.md"
  CreateShortCut "$SMPROGRAMS\kavon\Uninstall kavon.lnk" "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "kavon"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "tarvelin"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kavon.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Start kavon when I log on" SecLogon
  WriteRegStr HKCU "${RUN_KEY}" "kavon" '"$INSTDIR\kavon.exe" --headless'
SectionEnd

; A service records with nobody logged on. Its home, settings and timer
; list included, is ProgramData\kavon; the clock may be set from there too
; (LocalSystem holds that right).
Section /o "Record from boot on (a service)" SecService
  SetShellVarContext all  ; $APPDATA is ProgramData now
  CreateDirectory "$APPDATA\kavon"
  ; After Windows Audio: at boot an entry cut off by a power cut goes on at
  ; once, and needs the device.
  nsExec::ExecToLog '"$SYSDIR\sc.exe" create kavon binPath= "\"$INSTDIR\kavon.exe\" --service --home \"$APPDATA\kavon\"" start= auto depend= AudioSrv DisplayName= "kavon recorder"'
  Pop $0
  ${If} $0 != 0
    DetailPrint "sc create kavon: $0"
  ${EndIf}
  ; Like the Linux unit's Restart=on-failure: a kavon that crashed, or ended
  ; with an error, is started again after 5 s, every time.
  nsExec::ExecToLog '"$SYSDIR\sc.exe" failure kavon reset= 86400 actions= restart/5000/restart/5000/restart/5000'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" failureflag kavon 1'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" description kavon "Records the timer list in $APPDATA\kavon"'
  Pop $0
  nsExec::ExecToLog '"$SYSDIR\sc.exe" start kavon'
  Pop $0
  SetShellVarContext current
SectionEnd

Function .onInit
  SetRegView 64
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/LOGON" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecLogon} ${SF_SELECTED}
  ${EndIf}
  ClearErrors
  ${GetOptions} $R0 "/SERVICE" $R1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecService} ${SF_SELECTED}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Uninstall"
  ; The service flushes its files before it reports stopped; kavon.exe can
  ; be removed only once no kavon runs from here (30 s at most).
  nsExec::ExecToLog '"$SYSDIR\sc.exe" stop kavon'
  Pop $0
  StrCpy $1 0
  ${Do}
    ClearErrors
    Delete "$INSTDIR\kavon.exe"
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 >= 30
      Delete /REBOOTOK "$INSTDIR\kavon.exe"
      ${Break}
    ${EndIf}
    Sleep 1000
  ${Loop}
  nsExec::ExecToLog '"$SYSDIR\sc.exe" delete kavon'
  Pop $0
  DeleteRegValue HKCU "${RUN_KEY}" "kavon"
  Delete "$INSTDIR\kavon.ico"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  Delete "$SMPROGRAMS\kavon\kavon.lnk"
  Delete "$SMPROGRAMS\kavon\kavon README.lnk"
  Delete "$SMPROGRAMS\kavon\Uninstall kavon.lnk"
  RMDir "$SMPROGRAMS\kavon"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; Only if empty: recordings, settings and logs kept beside kavon.exe stay.
  RMDir "$INSTDIR"
SectionEnd
