#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The installer under Wine, silently (/S) as an administrator's script runs it, in a fresh prefix
# and a network namespace of its own: the files and the shortcut in place, the programs without a DLL
# that Windows lacks, the uninstaller registered; then the uninstaller (/S) removes what was
# installed and leaves the images the user put into the KESTREL folder. The .zip holds the same
# programs. Needs no root: an unprivileged user namespace holds the network namespace.
#
#   installer_test.sh SETUP.exe ARCHIVE.zip
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
setup=$(realpath "${1:?usage: installer_test.sh SETUP.exe ARCHIVE.zip}")
archive=$(realpath "${2:?usage: installer_test.sh SETUP.exe ARCHIVE.zip}")
if [ -z "${KESTREL_OWN_NETNS:-}" ]; then
    KESTREL_OWN_NETNS=1 exec timeout --kill-after=5 170 unshare --net --map-root-user "$0" "$setup" "$archive"
fi
source "$here/../support/wine/wine.sh"

installed="Program Files/kestrel-recovery"
# Everything in the program folder, in the C locale's order; the Start menu's shortcut; an image
# the user put into the folder the installer made.
files="COPYING README.md kestrel-recovery-cli.exe kestrel-recovery-helper.exe kestrel-recovery.exe uninstall.exe"
shortcut="ProgramData/Microsoft/Windows/Start Menu/Programs/KESTREL Device Recovery.lnk"
mine=windows/system32/KESTREL/mine.bin
uninstall_key='[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\kestrel-recovery]'

failures=0
fail() { echo "FAIL installer: $*" >&2; failures=$((failures + 1)); }
trap wine_stop EXIT
trap 'exit 143' TERM INT

# The registry as wineserver wrote it once every Wine process ended, the key's values one a line.
uninstall_entry() {
    in_wine wineserver -w
    key=$uninstall_key awk 'index($0, ENVIRON["key"]) == 1 { inside = 1; next } /^\[/ { inside = 0 } inside' \
        "$wine_prefix/system.reg"
}

wine_start
drive=$wine_prefix/drive_c
in_wine timeout 60 wine "$setup" /S || fail "the installer ended with $?"
entry=$(uninstall_entry)
got=$(cd "$drive/$installed" && LC_ALL=C ls | xargs) || true
[ "$got" = "$files" ] || fail "the program folder holds \"$got\", not \"$files\""
[ -e "$drive/$shortcut" ] || fail "no shortcut in the Start menu"
echo image > "$drive/$mine" || fail "no image folder"
grep -qx '"DisplayName"="KESTREL Device Recovery"' <<< "$entry" || fail "no DisplayName in: $entry"
grep -qxF '"UninstallString"="\"C:\\Program Files\\kestrel-recovery\\uninstall.exe\""' <<< "$entry" ||
    fail "the uninstaller is not registered: $entry"

# Every DLL a program imports is one of Windows' own: libstdc++ and winpthread are linked in.
for program in "$drive/$installed"/*.exe; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$program" | awk '/DLL Name:/ { print $3 }'); do
        [ -n "$(find "$drive/windows/system32" -maxdepth 1 -iname "$dll")" ] ||
            fail "${program##*/} needs $dll, which Windows does not have"
    done
done

# The archive: the same files but the uninstaller, in one folder.
diff <(cmake -E tar tf "$archive" | sed 's|^[^/]*/||' | grep . | sort) \
    <(ls "$drive/$installed" | grep -vx uninstall.exe | sort) >&2 ||
    fail "the .zip and the installation hold different files"

in_wine timeout 60 wine "$drive/$installed/uninstall.exe" /S || fail "the uninstaller ended with $?"
# It runs on from a copy in the temporary folder: uninstall_entry waits for it.
[ -z "$(uninstall_entry)" ] || fail "the uninstaller is still registered"
[ ! -e "$drive/$installed" ] || fail "the program folder is still there"
[ ! -e "$drive/$shortcut" ] || fail "the shortcut is still there"
[ -e "$drive/$mine" ] || fail "the user's image went with the uninstallation"

echo "installer: $([ "$failures" -eq 0 ] && echo passed || echo FAILED)"
exit $((failures > 0))
