; Installer of quillane VR7, built by scripts/release.sh:
;   makensis -DVERSION=1.0.0.1 -DEXE=/abs/path/quillane\ VR7.exe -DCLI_EXE=/abs/path/vr7.exe
;            -DOUTFILE=/abs/path/setup.exe installer.nsi
; The user guide and the licence are taken from this folder.
; A 32-bit installer (x86-unicode) for a 32-bit program: on 64-bit Windows it installs
; into "Program Files (x86)" and registers itself in the 32-bit view of the registry,
; where Add/Remove Programs finds it.

!ifndef VERSION
  !error "define VERSION, EXE, CLI_EXE and OUTFILE (see the top of this file)"
!endif
!ifndef EXE
  !error "define VERSION, EXE, CLI_EXE and OUTFILE (see the top of this file)"
!endif
!ifndef CLI_EXE
  !error "define VERSION, EXE, CLI_EXE and OUTFILE (see the top of this file)"
!endif
!ifndef OUTFILE
  !error "define VERSION, EXE, CLI_EXE and OUTFILE (see the top of this file)"
!endif

Unicode true
SetCompressor /SOLID lzma

!define PRODUCT "quillane VR7"
!define PUBLISHER "the quillane VR7 developers"
!define PROGRAM "quillane VR7.exe"
!define CONSOLE_PROGRAM "vr7.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\${PRODUCT}"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "MIT License, ${PUBLISHER}"

Page license
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles
LicenseData "LICENSE.txt"

Section "Install"
  ; Shortcuts for every user, as the program goes to Program Files for every user.
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "/oname=${PROGRAM}" "${EXE}"
  File "/oname=${CONSOLE_PROGRAM}" "${CLI_EXE}"
  File "USER-GUIDE.txt"
  File "LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\${PRODUCT}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"
  CreateShortcut "$SMPROGRAMS\${PRODUCT}\User guide.lnk" "$INSTDIR\USER-GUIDE.txt"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$\"$INSTDIR\${PROGRAM}$\""
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" "$\"$INSTDIR\uninstall.exe$\""
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" "$\"$INSTDIR\uninstall.exe$\" /S"
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Section "Uninstall"
  SetShellVarContext all
  Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
  Delete "$SMPROGRAMS\${PRODUCT}\User guide.lnk"
  RMDir "$SMPROGRAMS\${PRODUCT}"

  Delete "$INSTDIR\${PROGRAM}"
  Delete "$INSTDIR\${CONSOLE_PROGRAM}"
  Delete "$INSTDIR\USER-GUIDE.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
