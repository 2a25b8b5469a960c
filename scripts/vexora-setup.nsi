; The Windows installer of the station, built by Debian's makensis from the
; folder scripts/build-windows.sh fills (build-win/Vexora):
;
;   makensis -DVERSION=1.0 -DSOURCE=build-win/Vexora -DICON=vexora.ico \
;            -DOUTFILE=build-win/vexora-setup-1.0.exe scripts/vexora-setup.nsi
;
; It installs the station, its tools, help, sounds and example template into
; one folder the user chooses, by default C:\Vexora: the station keeps
; config.ini, its database, its journal and error.log beside its executable,
; so the folder must be writable for the operator, which Program Files is
; not. A Start-menu folder holds the station, its help and the uninstaller.
; The uninstaller removes the program's files and keeps the station's data
; (config.ini, databases, journal, error.log, templates, anything else put
; there) unless asked: a question, or /REMOVEDATA on its command line.
;
; Silent: vexora-setup-1.0.exe /S /D=C:\Vexora   uninstall.exe /S [/REMOVEDATA]

Unicode true
; A 64-bit installer: the station is 64-bit, and Debian's wine64 runs only
; 64-bit programs.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!ifndef VERSION
  !error "VERSION not given (-DVERSION=…)"
!endif
!ifndef SOURCE
  !error "SOURCE not given (-DSOURCE=the folder scripts/build-windows.sh fills)"
!endif
!ifndef OUTFILE
  !define OUTFILE "vexora-setup-${VERSION}.exe"
!endif

!include "MUI2.nsh"
!include "FileFunc.nsh"

Name "Vexora ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "C:\Vexora"
InstallDirRegKey HKLM "Software\Vexora" "InstallDir"
BrandingText "Vexora ${VERSION}"

!ifdef ICON
  !define MUI_ICON "${ICON}"
  !define MUI_UNICON "${ICON}"
!endif
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\vexora.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"
!insertmacro MUI_LANGUAGE "English"

LangString StationRunning ${LANG_SIMPCHINESE} "Vexora 正在运行，请先关闭它。"
LangString StationRunning ${LANG_ENGLISH} "Vexora is running: close it first."
LangString RemoveData ${LANG_SIMPCHINESE} "同时删除工作站的数据吗？$\r$\n$\r$\n\
  config.ini、数据库、工作站日志、error.log 和标签模板将被删除，无法恢复。$\r$\n\
  选“否”则保留它们，重新安装后照常使用。"
LangString RemoveData ${LANG_ENGLISH} "Remove the station's data as well?$\r$\n$\r$\n\
  config.ini, the databases, the station's journal, error.log and the label \
  templates would be deleted for good.$\r$\n\
  No keeps them for a later installation."
LangString StartMenuHelp ${LANG_SIMPCHINESE} "Vexora 操作说明"
LangString StartMenuHelp ${LANG_ENGLISH} "Vexora help"
LangString StartMenuUninstall ${LANG_SIMPCHINESE} "卸载 Vexora"
LangString StartMenuUninstall ${LANG_ENGLISH} "Uninstall Vexora"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vexora"

; The program's files: what the uninstaller removes.
!macro ProgramFiles Do
  !insertmacro ${Do} "vexora.exe"
  !insertmacro ${Do} "vexora-import.exe"
  !insertmacro ${Do} "vexora-journal.exe"
  !insertmacro ${Do} "vexora-btprint.exe"
  !insertmacro ${Do} "vexora-portcheck.exe"
  !insertmacro ${Do} "help.txt"
!macroend
!macro Sounds Do
  !insertmacro ${Do} "0.wav"
  !insertmacro ${Do} "1.wav"
  !insertmacro ${Do} "2.wav"
  !insertmacro ${Do} "3.wav"
  !insertmacro ${Do} "4.wav"
  !insertmacro ${Do} "5.wav"
  !insertmacro ${Do} "6.wav"
  !insertmacro ${Do} "7.wav"
  !insertmacro ${Do} "8.wav"
  !insertmacro ${Do} "9.wav"
  !insertmacro ${Do} "chong_d.wav"
!macroend
!macro Install Name
  File "${SOURCE}\${Name}"
!macroend
!macro InstallIfBuilt Name
  File /nonfatal "${SOURCE}\${Name}"
!macroend
!macro Remove Name
  Delete "$INSTDIR\${Name}"
!macroend

; A running station holds its files open: nothing is replaced or removed
; under it.
!macro RefuseWhileRunning
  FindWindow $0 "" "Vexora"
  StrCmp $0 0 +3
    MessageBox MB_OK|MB_ICONSTOP "$(StationRunning)" /SD IDOK
    Abort
!macroend

Function .onInit
  !insertmacro RefuseWhileRunning
FunctionEnd

Section "Vexora"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  !insertmacro ProgramFiles Install
  !insertmacro Sounds InstallIfBuilt
  ; The example template is the station's to change: an installation over
  ; an older one keeps the operator's copy.
  SetOverwrite off
  File "${SOURCE}\vexora-label.zpl"
  SetOverwrite on
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; Operators write config.ini, the databases and the journal here, also
  ; when the folder chosen is one of the system's (Program Files).
  nsExec::Exec 'icacls "$INSTDIR" /grant *S-1-5-32-545:(OI)(CI)M'
  Pop $0

  CreateDirectory "$SMPROGRAMS\Vexora"
  CreateShortcut "$SMPROGRAMS\Vexora\Vexora.lnk" "$INSTDIR\vexora.exe" "" "$INSTDIR\vexora.exe" 0
  CreateShortcut "$SMPROGRAMS\Vexora\$(StartMenuHelp).lnk" "$INSTDIR\help.txt"
  CreateShortcut "$SMPROGRAMS\Vexora\$(StartMenuUninstall).lnk" "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "Software\Vexora" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Vexora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Vexora"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vexora.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  !insertmacro RefuseWhileRunning
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  RMDir /r "$SMPROGRAMS\Vexora"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Vexora"
  !insertmacro ProgramFiles Remove
  !insertmacro Sounds Remove

  ; The station's data stays unless asked for: /REMOVEDATA, or Yes to the
  ; question (silent: No).
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVEDATA" $1
  IfErrors 0 removeData
  MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(RemoveData)" /SD IDNO IDYES removeData
  Goto done
removeData:
  Delete "$INSTDIR\config.ini"
  Delete "$INSTDIR\*.db"
  Delete "$INSTDIR\*.db-wal"
  Delete "$INSTDIR\*.db-shm"
  Delete "$INSTDIR\*.sqlite"
  Delete "$INSTDIR\*.sqlite3"
  Delete "$INSTDIR\error.log"
  Delete "$INSTDIR\vexora-label.zpl"
done:
  ; The uninstaller last: its going says the rest has gone. The folder goes
  ; only when nothing else is left in it.
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
