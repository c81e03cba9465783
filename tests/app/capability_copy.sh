#!/bin/bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# A copy of a front end given the network rights as file capabilities must refuse to start for
# an ordinary user: the rights would reach whatever plugin or theme its environment names. Root
# only (setcap); the copy runs as nobody and sends nothing.
#   capability_copy.sh PROGRAM...
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
for program in "$@"; do
    cp "$program" "$work/copy" && setcap cap_net_admin,cap_net_raw+ep "$work/copy"
    err=$(setpriv --reuid=nobody --regid=nogroup --clear-groups env -i QT_QPA_PLATFORM=offscreen \
        "$work/copy" FW=/dev/null 2>&1 > /dev/null) && status=0 || status=$?
    [[ $err == *"refuses to run with setuid or file capabilities"* && $status = 1 ]] ||
        { echo "$program with capabilities: status $status, $err" >&2; exit 1; }
done
