; The Windows installer: the window program and the command line, the Qt and MinGW run-time DLLs
; with the platform and style plug-ins, and the demo drives, in one folder under Program Files; a
; Start-menu entry; an uninstaller registered with the system. Built by the CMake target
; `windows-installer`, which passes:
;   VERSION   the program's version
;   STAGE     a folder with the stripped diskvigil.exe and diskvigil-cli.exe
;   RUNTIME   the program's build folder: the DLLs and the platforms\ and styles\ plug-ins
;   DATA      the source tree's data folder (demo\ and demo-nvme\)
;   OUTFILE   the installer to write
;   INSTANCE_MUTEX  the named mutex the running program holds (app/SingleInstance.h)
; Silent use: "setup.exe /S [/D=FOLDER]", "uninstall.exe /S [/REMOVESETTINGS]". The settings
; file and the counter state in %APPDATA% are the user's: the uninstaller removes them only when
; asked (the question when run by hand, /REMOVESETTINGS when silent).
; Neither runs while the program does (its files are in use): both say so and end with exit
; status 2, also when silent. The uninstaller runs from a copy of itself, so its own exit status
; is that of the copy's start; "uninstall.exe /S _?=FOLDER" runs it in place and returns its own.
; A 64-bit installer for a 64-bit program (and Wine without its 32-bit half runs it too).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"

!define NAME "Diskvigil"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${NAME}"

Name "${NAME} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${NAME} ${VERSION}"

!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\diskvigil.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; The running program holds its named mutex from start to end; only its existence counts
; (SYNCHRONIZE access suffices to open it).
!macro RefuseWhileRunning WHAT
  System::Call 'kernel32::OpenMutexW(i 0x00100000, i 0, w "${INSTANCE_MUTEX}") p .r0'
  ${If} $0 P<> 0
    System::Call 'kernel32::CloseHandle(p r0)'
    MessageBox MB_OK|MB_ICONSTOP \
      "${NAME} is running. End it (Exit in its tray icon's menu), then start the ${WHAT} again." \
      /SD IDOK
    SetErrorLevel 2
    Quit
  ${EndIf}
!macroend

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "${NAME}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "${NAME} installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "The ${NAME} developers"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "${NAME} needs a 64-bit Windows." /SD IDOK
    Abort
  ${EndIf}
  !insertmacro RefuseWhileRunning "installer"
  SetRegView 64
FunctionEnd

Section "Install"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\diskvigil.exe"
  File "${STAGE}\diskvigil-cli.exe"
  File "${RUNTIME}\Qt6Core.dll"
  File "${RUNTIME}\Qt6Gui.dll"
  File "${RUNTIME}\Qt6Widgets.dll"
  File "${RUNTIME}\libstdc++-6.dll"
  File "${RUNTIME}\libgcc_s_seh-1.dll"
  File "${RUNTIME}\libwinpthread-1.dll"
  SetOutPath "$INSTDIR\platforms"
  File "${RUNTIME}\platforms\qwindows.dll"
  SetOutPath "$INSTDIR\styles"
  File "${RUNTIME}\styles\qwindowsvistastyle.dll"
  ; The program finds the demo drives in the folder "demo" beside itself.
  SetOutPath "$INSTDIR\demo"
  File "${DATA}\demo\*.json"
  SetOutPath "$INSTDIR\demo-nvme"
  File "${DATA}\demo-nvme\*.json"
  SetOutPath "$INSTDIR"

  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\diskvigil.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The ${NAME} developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\diskvigil.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
  !insertmacro RefuseWhileRunning "uninstaller"
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}.lnk"

  Delete "$INSTDIR\diskvigil.exe"
  Delete "$INSTDIR\diskvigil-cli.exe"
  Delete "$INSTDIR\Qt6Core.dll"
  Delete "$INSTDIR\Qt6Gui.dll"
  Delete "$INSTDIR\Qt6Widgets.dll"
  Delete "$INSTDIR\libstdc++-6.dll"
  Delete "$INSTDIR\libgcc_s_seh-1.dll"
  Delete "$INSTDIR\libwinpthread-1.dll"
  Delete "$INSTDIR\platforms\qwindows.dll"
  RMDir "$INSTDIR\platforms"
  Delete "$INSTDIR\styles\qwindowsvistastyle.dll"
  RMDir "$INSTDIR\styles"
  Delete "$INSTDIR\demo\*.json"
  RMDir "$INSTDIR\demo"
  Delete "$INSTDIR\demo-nvme\*.json"
  RMDir "$INSTDIR\demo-nvme"
  Delete "$INSTDIR\uninstall.exe"
  ; Only an empty folder goes: anything the user put there stays.
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ; The user's own traces: the log-on entry that would start the removed program, and, when
  ; asked, the settings.
  SetShellVarContext current
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "${NAME}"
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    Call un.RemoveSettings
  ${Else}
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 \
      "Remove your ${NAME} settings ($APPDATA\Diskvigil.ini) as well?" /SD IDNO IDNO keep
    Call un.RemoveSettings
    keep:
  ${EndIf}
SectionEnd

Function un.RemoveSettings
  Delete "$APPDATA\Diskvigil.ini"
  Delete "$APPDATA\Diskvigil-counters.json"
FunctionEnd
