; Tollmark's Windows installer: the front end and its two console programs in one folder under
; Program Files, a Start-menu entry, an entry in the list of installed programs and an
; uninstaller that removes all of it again. The Windows build's "installer" target runs
;   makensis -DVERSION=1.2.3 -DVERSION4=1.2.3.0 -DSOURCE=<folder of the three programs>
;            -DICON=<tollmark.ico> -DOUTFILE=<setup.exe> tollmark.nsi
; "setup.exe /S" installs silently, "uninstall.exe /S" removes silently.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
; No copyright line in the version record.
!pragma warning disable 9100

!define PRODUCT "Tollmark"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SHORTCUT "$SMPROGRAMS\${PRODUCT}.lnk"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\tollmark.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Russian"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Tollmark"
  SetOutPath "$INSTDIR"
  File "${SOURCE}\tollmark.exe"
  File "${SOURCE}\cabrix.exe"
  File "${SOURCE}\cabrix_old.exe"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "${SHORTCUT}" "$INSTDIR\tollmark.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tollmark.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer put there, and the settings the front end wrote for the user
; who uninstalls it; the folder goes too when nothing else is in it.
Section "Uninstall"
  Delete "${SHORTCUT}"
  Delete "$INSTDIR\tollmark.exe"
  Delete "$INSTDIR\cabrix.exe"
  Delete "$INSTDIR\cabrix_old.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ; The front end's remembered link and window of the user who uninstalls it.
  SetShellVarContext current
  Delete "$APPDATA\cabrix\tollmark.ini"
  RMDir "$APPDATA\cabrix"
  SetShellVarContext all
SectionEnd
