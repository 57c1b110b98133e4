; The Windows installer: the programs, their tag library, the icon, the
; command line's message catalogue and the licences into Program Files\Kestrom,
; a Start menu entry, an uninstaller.
; tools/package-windows passes VERSION, STAGE (the folder of the files to
; install) and OUTFILE.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "x64.nsh"

Name "Kestrom ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Kestrom"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrom"
!define MUI_ICON "${STAGE}\Kestrom.ico"
!define MUI_UNICON "${STAGE}\Kestrom.ico"

!insertmacro MUI_PAGE_LICENSE "${STAGE}\licences\COPYING.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  !insertmacro MUI_LANGDLL_DISPLAY
FunctionEnd

Function un.onInit
  SetRegView 64
FunctionEnd

Section "Kestrom"
  SetOutPath "$INSTDIR"
  File "${STAGE}\Kestrom.exe"
  File "${STAGE}\kestrom-cli.exe"
  File "${STAGE}\VBMP3.dll"
  File "${STAGE}\Kestrom.ico"
  SetOutPath "$INSTDIR\share\locale\ja\LC_MESSAGES"
  File "${STAGE}\share\locale\ja\LC_MESSAGES\kestrom-cli.mo"
  SetOutPath "$INSTDIR\licences"
  File "${STAGE}\licences\*.txt"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  SetShellVarContext all
  CreateShortcut "$SMPROGRAMS\Kestrom.lnk" "$INSTDIR\Kestrom.exe" "" "$INSTDIR\Kestrom.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kestrom"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kestrom.ico"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Takes away exactly what the installer put there: a file of the user's own
; in the folder keeps the folder.
Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Kestrom.lnk"
  Delete "$INSTDIR\Kestrom.exe"
  Delete "$INSTDIR\kestrom-cli.exe"
  Delete "$INSTDIR\VBMP3.dll"
  Delete "$INSTDIR\Kestrom.ico"
  Delete "$INSTDIR\licences\*.txt"
  RMDir "$INSTDIR\licences"
  Delete "$INSTDIR\share\locale\ja\LC_MESSAGES\kestrom-cli.mo"
  RMDir "$INSTDIR\share\locale\ja\LC_MESSAGES"
  RMDir "$INSTDIR\share\locale\ja"
  RMDir "$INSTDIR\share\locale"
  RMDir "$INSTDIR\share"
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The folder of the run locks, once the runs have taken their locks away.
  SetShellVarContext current
  RMDir "$LOCALAPPDATA\Kestrom\Locks"
  RMDir "$LOCALAPPDATA\Kestrom"
SectionEnd
