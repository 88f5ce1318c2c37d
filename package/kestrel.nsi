; package/kestrel.nsi
; The Windows installer: per user, without elevation, into
; %LOCALAPPDATA%\Programs\Kestrel by default (the programs keep client.db
; beside themselves, so they must live where the user can write). Built by
; scripts/package with makensis, given VERSION (dotted, e.g. 0.1), VERSION4
; (four parts), STAGE (the folder of the files to ship), ICON and OUTFILE.
;   setup.exe [/S] [/D=folder]          installs, or upgrades in place
;   uninstall.exe [/S]                  removes; silent removes everything
; A library still loaded in some program (a shell, a proxied program) cannot
; be deleted nor overwritten: it is renamed aside on an upgrade, and left to a
; cleanup at the user's next logon on an uninstall.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestSupportedOS all
; The name the installer must have ("...-setup.exe") draws a warning about
; the shims Windows applies to installers by name; its manifest asks for no
; elevation, which is what those shims would guess otherwise.
!pragma warning disable 9000

!include "MUI2.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Kestrel"
!define PUBLISHER "Kestrel"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALLER "uninstall.exe"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Kestrel"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION4}"
VIFileVersion "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION4}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION4}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "${PUBLISHER}"

Var Later  ; what could not be removed now, quoted, for the logon cleanup

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\Kestrel.exe"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The pages follow the system's language: Chinese where it is Chinese,
; English elsewhere (the first one listed).
!insertmacro MUI_LANGUAGE "English"
!insertmacro MUI_LANGUAGE "SimpChinese"

LangString ShortcutUninstall ${LANG_ENGLISH} "Uninstall Kestrel"
LangString ShortcutUninstall ${LANG_SIMPCHINESE} "卸载 Kestrel"
LangString AskRemoveSettings ${LANG_ENGLISH} \
  "Remove your settings too (client.db: the server, its password and the program list)?$\n$\nChoose No to keep them for a later install."
LangString AskRemoveSettings ${LANG_SIMPCHINESE} \
  "是否同时删除设置（client.db：服务器、密码和程序列表）？$\n$\n选择“否”将保留设置，供以后安装使用。"
LangString CannotWrite ${LANG_ENGLISH} "Kestrel cannot be installed into $INSTDIR: a file there cannot be replaced."
LangString CannotWrite ${LANG_SIMPCHINESE} "无法安装到 $INSTDIR：其中的文件无法替换。"

; Ends the installed programs the way their users do: the tray program's exit
; request also closes the configuration window.
!macro EndPrograms un
Function ${un}EndPrograms
  ${If} ${FileExists} "$INSTDIR\KestrelTray.exe"
    ExecWait '"$INSTDIR\KestrelTray.exe" -exit'
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\KestrelAgent.exe"
    ExecWait '"$INSTDIR\KestrelAgent.exe" -exit'
  ${EndIf}
FunctionEnd
!macroend
!insertmacro EndPrograms ""
!insertmacro EndPrograms "un."

; Deletes $R0, waiting up to 5 s for a program that is still ending (a
; library, never); a file still held then is renamed aside, to be removed
; once free. Sets $R1 to the
; name it was set aside as, or "" when it is gone.
!macro SetAside un
Function ${un}SetAside
  StrCpy $R1 ""
  ${IfNot} ${FileExists} "$R0"
    Return
  ${EndIf}
  ; A library is held by programs that do not end for us: no waiting there.
  StrCpy $R2 0
  StrCpy $R3 $R0 4 -4
  ${If} $R3 == ".dll"
    StrCpy $R2 24
  ${EndIf}
  ${Do}
    ClearErrors
    Delete "$R0"
    ${IfNot} ${FileExists} "$R0"
      Return
    ${EndIf}
    IntOp $R2 $R2 + 1
    ${If} $R2 >= 25
      ${Break}
    ${EndIf}
    Sleep 200
  ${Loop}
  ; Windows (and Wine) rename a loaded library or a running program, where
  ; they refuse to delete or overwrite it.
  StrCpy $R2 0
  ${Do}
    StrCpy $R1 "$R0.$R2.old"
    ${IfNot} ${FileExists} "$R1"
      ${Break}
    ${EndIf}
    IntOp $R2 $R2 + 1
  ${Loop}
  ClearErrors
  Rename "$R0" "$R1"
  ${If} ${Errors}
    StrCpy $R1 ""
  ${EndIf}
FunctionEnd
!macroend
!insertmacro SetAside ""
!insertmacro SetAside "un."

; Asks for $R0's removal at the next logon, when nothing holds it.
!macro RemoveLater un
Function ${un}RemoveLater
  StrCpy $Later '$Later "$R0"'
FunctionEnd
!macroend
!insertmacro RemoveLater ""
!insertmacro RemoveLater "un."

!macro ShippedFiles action
  !insertmacro ${action} "Kestrel.exe"
  !insertmacro ${action} "KestrelTray.exe"
  !insertmacro ${action} "KestrelAgent.exe"
  !insertmacro ${action} "KestrelRun.exe"
  !insertmacro ${action} "KestrelRun64.exe"
  !insertmacro ${action} "KestrelHook.dll"
  !insertmacro ${action} "KestrelHook64.dll"
  !insertmacro ${action} "README.txt"
!macroend

!macro Replace file
  StrCpy $R0 "$INSTDIR\${file}"
  Call SetAside
  ${If} ${FileExists} "$R0"
    MessageBox MB_ICONSTOP "$(CannotWrite)" /SD IDOK
    Abort
  ${EndIf}
  ${If} $R1 != ""
    StrCpy $R0 $R1
    Call RemoveLater
  ${EndIf}
  File "${STAGE}/${file}"
!macroend

!macro Remove file
  StrCpy $R0 "$INSTDIR\${file}"
  Call un.SetAside
  ${If} $R1 != ""
    StrCpy $R0 $R1
    Call un.RemoveLater
  ${ElseIf} ${FileExists} "$R0"
    Call un.RemoveLater
  ${EndIf}
!macroend

; Registers at the next logon, when nothing holds them any more, the removal
; of $Later and then `rest`; only when `needed` is not empty. The entry is in
; Run, not RunOnce, since Wine runs only the former for the user, and it
; removes itself.
!macro WriteCleanup needed rest
  ${If} "${needed}" != ""
    StrCpy $R3 ""
    ${If} $Later != ""
      StrCpy $R3 "del /f /q$Later & "
    ${EndIf}
    WriteRegStr HKCU "${RUN_KEY}" "Kestrel cleanup" \
      '"$SYSDIR\cmd.exe" /c $R3${rest} & reg delete "HKCU\${RUN_KEY}" /v "Kestrel cleanup" /f'
  ${EndIf}
!macroend

Section "Kestrel" SecMain
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  Call EndPrograms
  ; A cleanup left by an earlier removal would take this install's files.
  DeleteRegValue HKCU "${RUN_KEY}" "Kestrel cleanup"
  ; Set-aside files of an earlier upgrade that are free by now.
  Delete "$INSTDIR\*.old"
  StrCpy $Later ""
  !insertmacro ShippedFiles Replace
  ; client.db is the user's: never written here.

  WriteUninstaller "$INSTDIR\${UNINSTALLER}"
  CreateDirectory "$SMPROGRAMS\Kestrel"
  CreateShortcut "$SMPROGRAMS\Kestrel\Kestrel.lnk" "$INSTDIR\Kestrel.exe"
  CreateShortcut "$SMPROGRAMS\Kestrel\$(ShortcutUninstall).lnk" "$INSTDIR\${UNINSTALLER}"
  WriteRegStr HKCU "${RUN_KEY}" "KestrelTray" '"$INSTDIR\KestrelTray.exe"'
  WriteRegStr HKCU "${RUN_KEY}" "KestrelAgent" '"$INSTDIR\KestrelAgent.exe"'

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" '"$INSTDIR\Kestrel.exe",0'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" "$0"

  ; What an upgrade could only rename is gone at the next logon.
  !insertmacro WriteCleanup "$Later" 'ver >nul'
SectionEnd

Function .onInstSuccess
  ; The tray program and the agent run from now on, as after a logon; the
  ; finish page offers the configuration program.
  ${IfNot} ${Silent}
    Exec '"$INSTDIR\KestrelTray.exe"'
    Exec '"$INSTDIR\KestrelAgent.exe"'
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  Call un.EndPrograms
  StrCpy $Later ""
  !insertmacro ShippedFiles Remove
  Delete "$INSTDIR\*.old"
  Delete "$INSTDIR\${UNINSTALLER}"
  ; Silent removal leaves nothing; otherwise the user decides.
  MessageBox MB_YESNO|MB_ICONQUESTION "$(AskRemoveSettings)" /SD IDYES IDNO keep
    Delete "$INSTDIR\client.db"
    Delete "$INSTDIR\client.db-journal"
  keep:
  RMDir "$INSTDIR"

  ; The agent's copies of the component, one of which a shell may hold.
  RMDir /r "$LOCALAPPDATA\Kestrel"

  Delete "$SMPROGRAMS\Kestrel\Kestrel.lnk"
  Delete "$SMPROGRAMS\Kestrel\$(ShortcutUninstall).lnk"
  RMDir "$SMPROGRAMS\Kestrel"
  DeleteRegValue HKCU "${RUN_KEY}" "KestrelTray"
  DeleteRegValue HKCU "${RUN_KEY}" "KestrelAgent"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegValue HKCU "${RUN_KEY}" "Kestrel cleanup"

  ; A library a shell still holds keeps its copy until the next logon.
  StrCpy $R4 $Later
  ${If} ${FileExists} "$LOCALAPPDATA\Kestrel\*.*"
    StrCpy $R4 "$R4 copies"
  ${EndIf}
  !insertmacro WriteCleanup "$R4" 'rd "$INSTDIR" & rd /s /q "$LOCALAPPDATA\Kestrel"'
SectionEnd
