; The Corvane installer, built by tools/windows-release with makensis:
;   makensis -DVERSION=3.0 -DSTAGE=<folder of the zip's files>
;            -DPATHTOOL=<corvane-path.exe> -DOUTFILE=<setup.exe> installer.nsi
; It installs corvane.exe and its documents into Program Files\Corvane, the
; sealing plug-in when "Sealing" is chosen, and an entry in the user's PATH
; when that is chosen; the uninstaller removes every file and the PATH entry
; it added. Both options are off by default. Silent use:
;   setup.exe /S [/SEALING] [/PATH] [/D=FOLDER]
; The PATH is edited by corvane-path.exe, which takes a PATH of any length.
Unicode true
Target amd64-unicode
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include FileFunc.nsh
!include LogicLib.nsh
!include Sections.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane"

Name "Corvane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Corvane"
LicenseData "${STAGE}\LICENSE.txt"
ShowInstDetails show
ShowUninstDetails show

Page license
Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Corvane" SecProgram
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${STAGE}\corvane.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  File "${STAGE}\corvane.html"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Corvane ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "the Corvane authors"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; With plugin.dll beside it, corvane.exe seals every compressed text file.
Section /o "Sealing" SecSealing
  SetOutPath "$INSTDIR"
  File "${STAGE}\sealer\plugin.dll"
SectionEnd

Section /o "Add to PATH" SecPath
  SetOutPath "$INSTDIR"
  File "${PATHTOOL}"
  ExecWait '"$INSTDIR\corvane-path.exe" add "$INSTDIR"' $0
  ${If} $0 == 0
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "PathEntryAdded" 1
  ${EndIf}
SectionEnd

; Selects the section when the command line has the option.
!macro SelectByOption option section
  ClearErrors
  ${GetOptions} $R0 "${option}" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${section}
  ${EndIf}
!macroend

Function .onInit
  ${GetParameters} $R0
  !insertmacro SelectByOption "/SEALING" ${SecSealing}
  !insertmacro SelectByOption "/PATH" ${SecPath}
FunctionEnd

Section "Uninstall"
  ReadRegDWORD $0 HKLM "${UNINSTALL_KEY}" "PathEntryAdded"
  ${If} $0 == 1
    ExecWait '"$INSTDIR\corvane-path.exe" remove "$INSTDIR"'
  ${EndIf}
  Delete "$INSTDIR\corvane.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\corvane.html"
  Delete "$INSTDIR\plugin.dll"
  Delete "$INSTDIR\corvane-path.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
