; SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer. Built by the windows-dist target, which defines VERSION, OUTFILE,
; LICENSE (the licence text) and PROGRAMS (an include with the KestrelInstallFiles and
; KestrelRemoveFiles macros, so that both lists come from the one list in CMakeLists.txt).
;
; A 64-bit installer: the programs are 64-bit, $PROGRAMFILES64 and $SYSDIR are then the real
; folders without WOW64 redirection, and Debian's wine64 cannot start a 32-bit one.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include "MUI2.nsh"
!include "${PROGRAMS}"

!define APP_NAME "KESTREL Device Recovery"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\kestrel-recovery"
!define SHORTCUT "$SMPROGRAMS\${APP_NAME}.lnk"

Name "${APP_NAME}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\kestrel-recovery"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${APP_NAME}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${APP_NAME} installer"
VIAddVersionKey "LegalCopyright" "GPL-3.0-or-later"

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Section "Install"
    SetShellVarContext all
    SetOutPath "$INSTDIR"
    !insertmacro KestrelInstallFiles
    WriteUninstaller "$INSTDIR\uninstall.exe"

    ; The programs look for images in GetSystemDirectoryW + "\KESTREL\"; the user puts them there.
    CreateDirectory "$SYSDIR\KESTREL"

    ; Without an image on its command line the wizard asks for one in a file dialog.
    CreateShortcut "${SHORTCUT}" "$INSTDIR\kestrel-recovery.exe" "--choose" \
        "$INSTDIR\kestrel-recovery.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${APP_NAME}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The kestrel-recovery developers"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrel-recovery.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    !insertmacro KestrelRemoveFiles
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"
    Delete "${SHORTCUT}"
    ; Only when empty: the images in it are the user's, and a journal the helper left behind
    ; in %ProgramData% ($APPDATA for all users) names settings it could not put back.
    RMDir "$SYSDIR\KESTREL"
    RMDir "$APPDATA\kestrel-recovery"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
