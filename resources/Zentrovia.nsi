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
; The running program's single-instance mutex and the class of its main window.
!define INSTANCE_MUTEX "Zentrovia_SingleInstance_9F3A"
!define MAIN_CLASS "ZENTROVIA"
!define CLOSE_BOUND_MS 15000
!define ERROR_FILE_NOT_FOUND 2
!define SYNCHRONIZE 0x100000

Name "${NAME} ${VERSION}"
Caption "${NAME} ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${NAME}"
; An update goes where the user put the program, not beside it.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${NAME} Setup"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
; No "Run" option: this installer runs elevated, and so would the program it started.
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

;<NL>; Asks a running Zentrovia to close and waits, bounded, until its process has ended, so its files
; are never replaced while it still finalizes a recording. The program is its window class; only
; a mutex that does not exist means that none runs (access denied means one does).
!macro CLOSE_RUNNING un
Function ${un}CloseRunning
  StrCpy $1 0
  ${Do}
    FindWindow $0 "${MAIN_CLASS}" ""
    ${If} $0 <> 0
      System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r4)'
      System::Call 'kernel32::OpenProcess(i ${SYNCHRONIZE}, i 0, i r4) p.r5'
      SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=2000
      ${If} $5 P<> 0
        IntOp $6 ${CLOSE_BOUND_MS} - $1
        System::Call 'kernel32::WaitForSingleObject(p r5, i r6) i.r7'
        System::Call 'kernel32::CloseHandle(p r5)'
        ${IfThen} $7 <> 0 ${|} ${Break} ${|}
      ${Else}
        Sleep 250
      ${EndIf}
    ${Else}
      System::Call 'kernel32::OpenMutexW(i ${SYNCHRONIZE}, i 0, w "${INSTANCE_MUTEX}") p.r2 ?e'
      Pop $3
      ${If} $2 P= 0
      ${AndIf} $3 = ${ERROR_FILE_NOT_FOUND}
        Return
      ${EndIf}
      ${If} $2 P<> 0
        System::Call 'kernel32::CloseHandle(p r2)'
      ${EndIf}
      Sleep 250  ; a copy that is starting or ending has no window for a moment
    ${EndIf}
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
  ; The sound libraries linked into the program are FFmpeg's, under this licence.
  File "/oname=COPYING.LGPLv2.1.txt" "${LGPL}"
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
  Delete "$INSTDIR\COPYING.LGPLv2.1.txt"
  SetOutPath "$TEMP"  ; a folder that is the working folder cannot be removed
  RMDir "$INSTDIR"
SectionEnd
