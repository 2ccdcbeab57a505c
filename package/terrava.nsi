; Terrava's installer, built by makensis (see package/CMakeLists.txt and scripts/package):
; installs terrava.exe and the README with a Start-menu entry, makes .tvt files open in Terrava
; with its icon, and registers an uninstaller that takes all of it away again. Runs silently
; with /S. Defines: EXE, README, ICON (files to take), OUTFILE (the installer to write).
Unicode true
SetCompressor /SOLID lzma

!define PROGID "Terrava.Tileset"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Terrava"
!define SHCNE_ASSOCCHANGED 0x08000000

Name "Terrava"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES\Terrava"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Terrava"
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=terrava.exe" "${EXE}"
  File "/oname=README.md" "${README}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Terrava.lnk" "$INSTDIR\terrava.exe" "" "$INSTDIR\terrava.exe" 0

  ; .tvt files: "Terrava tileset", opened by Terrava, shown with its icon.
  WriteRegStr HKLM "Software\Classes\.tvt" "" "${PROGID}"
  WriteRegStr HKLM "Software\Classes\${PROGID}" "" "Terrava tileset"
  WriteRegStr HKLM "Software\Classes\${PROGID}\DefaultIcon" "" '"$INSTDIR\terrava.exe",0'
  WriteRegStr HKLM "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\terrava.exe" "%1"'

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Terrava"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\terrava.exe",0'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\Terrava.lnk"
  Delete "$INSTDIR\terrava.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  ; .tvt is taken back only while it still names Terrava's type.
  ReadRegStr $0 HKLM "Software\Classes\.tvt" ""
  StrCmp $0 "${PROGID}" 0 +2
    DeleteRegKey HKLM "Software\Classes\.tvt"
  DeleteRegKey HKLM "Software\Classes\${PROGID}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i ${SHCNE_ASSOCCHANGED}, i 0, p 0, p 0)'
SectionEnd
