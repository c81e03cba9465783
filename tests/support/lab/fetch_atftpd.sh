#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Unpacks Debian's atftpd into DEST (default: ./atftpd) for the real-peer tests, without
# installing it: its package conflicts with tftpd-hpa. Does nothing when it is already there.
#   fetch_atftpd.sh [DEST]     the server is then DEST/usr/sbin/atftpd
set -euo pipefail

dest=$(realpath -m "${1:-atftpd}")
[ -x "$dest/usr/sbin/atftpd" ] && exit 0

work=$(mktemp -d "${dest}.fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
# apt drops to the _apt user for downloads; let it write here.
chmod 0777 "$work"
# A machine whose package lists were never fetched (or were cleaned) needs them first.
if ! (cd "$work" && timeout 120 apt-get download -q atftpd); then
    timeout 300 apt-get update -qq
    (cd "$work" && timeout 120 apt-get download -q atftpd)
fi
mkdir -p "$work/root"
dpkg-deb -x "$work"/atftpd_*.deb "$work/root"
[ -x "$work/root/usr/sbin/atftpd" ] || { echo "fetch_atftpd.sh: no atftpd in the package" >&2; exit 1; }
rm -rf "$dest"
mv "$work/root" "$dest"
