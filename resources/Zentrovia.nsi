; Zentrovia's installer: the program under Program Files, a Start-menu shortcut and an
; uninstaller registered in Add/Remove Programs. The build passes VERSION (from ZENTROVIA_VERSION),
; EXE (the Zentrovia.exe to ship), ICON and OUTFILE with makensis -D.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define NAME "Zentrovia"
!define PUBLISHER "Zentrovia"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Zentrovia"
; The running program's single-instance mutex and main window title (found ignoring case).
!define INSTANCE_MUTEX "Zentrovia_SingleInstance_9F3A"
!define MAIN_TITLE "Zentrovia"
!define CLOSE_BOUND_MS 15000

Name "${NAME} ${VERSION}"
Caption "${NAME} ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${NAME} Setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\Zentrovia.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Asks a running Zentrovia to close and waits, bounded, until its process has gone (the mutex
; frees with it), so its files are never replaced while it still finalizes a recording.
!macro CLOSE_RUNNING un
Function ${un}CloseRunning
  StrCpy $1 0
  ${Do}
    System::Call 'kernel32::OpenMutexW(i 0x100000, i 0, w "${INSTANCE_MUTEX}") p.r2'
    ${If} $2 P= 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r2)'
    FindWindow $0 "" "${MAIN_TITLE}"
    ${If} $0 <> 0
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
    ${EndIf}
    Sleep 250
    IntOp $1 $1 + 250
  ${LoopUntil} $1 >= ${CLOSE_BOUND_MS}
  MessageBox MB_ICONSTOP "${NAME} is still running. Close it and run the setup again." /SD IDOK
  Abort
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING ""
!insertmacro CLOSE_RUNNING "un."

Section "${NAME}"
  SectionIn RO
  Call CloseRunning
  SetOutPath "$INSTDIR"
  File "/oname=Zentrovia.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Zentrovia.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Start menu shortcut"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\Zentrovia.exe"
SectionEnd

; Removes what the sections above made, in reverse; the recordings and the user's
; acknowledged update version are the user's and stay.
Section "Uninstall"
  Call un.CloseRunning
  SetShellVarContext all
  Delete "$SMPROGRAMS\${NAME}.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete "$INSTDIR\Uninstall.exe"
  Delete "$INSTDIR\Zentrovia.exe"
  SetOutPath "$TEMP"  ; a folder that is the working folder cannot be removed
  RMDir "$INSTDIR"
SectionEnd
