#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the .deb from a built tree and fails on anything lintian (errors, warnings and the
# pedantic tags not overridden), desktop-file-validate, appstreamcli or mandoc find in it, on a
# program without a manual page, on a terminal front end that links Qt, and on a privileged
# helper that links c-ares or Qt.
# Usage: check_package.sh BUILD_DIR
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$1/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; exit 1; }
deb=$(echo "$work"/*.deb)
dpkg-deb -x "$deb" "$work/root"
status=0
fail() { echo "package check: $*" >&2; status=1; }

lintian --pedantic --info --fail-on error,warning,pedantic "$deb" || fail "lintian"

shopt -s nullglob
# Hints are advice; anything else it prints is an error or a warning (or that there is no entry).
grep -v ': hint: ' < <(desktop-file-validate "$work"/root/usr/share/applications/*.desktop 2>&1) && fail "desktop-file-validate"
appstreamcli validate --no-net --explain "$work"/root/usr/share/metainfo/*.xml || fail "appstreamcli"
# The terminal front end must run where no Qt is installed, and every program has its page.
objdump -p "$work/root/usr/bin/kestrel-recovery-cli" | grep -q "NEEDED.*libQt" &&
    fail "kestrel-recovery-cli links Qt"
# The helper runs as root: it carries only what it runs, and nothing of the front ends.
helper="$work/root/usr/libexec/kestrel-recovery/kestrel-recovery-helper"
[ -x "$helper" ] && linked=$(ldd "$helper") || fail "no privileged helper that ldd can read"
grep -qE "libcares|libQt6" <<< "${linked-}" &&
    fail "the privileged helper links $(grep -oE 'lib(cares|Qt6)[^ ]*' <<< "$linked" | tr '\n' ' ')"
for program in "$work"/root/usr/bin/*; do
    [ -e "$work/root/usr/share/man/man1/${program##*/}.1.gz" ] || fail "no manual page for ${program##*/}"
done
for page in "$work"/root/usr/share/man/man*/*; do  # one each: mandoc unpacks only the first
    mandoc -Tlint -W warning "$page" || fail "mandoc ${page##*/}"
done
exit $status
