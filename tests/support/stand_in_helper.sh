#!/bin/sh
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# A stand-in for the privileged helper, for tests that run a front end from the build tree as
# an ordinary user (KESTREL_HELPER=this file): it greets, refuses every change, and ends when
# told to. STAND_IN_MARK names a file it creates when started; with STAND_IN_REFUSES it answers
# as a helper that cannot serve, with that reason.
[ -n "${STAND_IN_MARK:-}" ] && : > "$STAND_IN_MARK"
if [ -n "${STAND_IN_REFUSES:-}" ]; then
    echo "{\"v\":1,\"id\":0,\"error\":5,\"message\":\"$STAND_IN_REFUSES\"}"
    exit 1
fi
while IFS= read -r line; do
    id=$(printf '%s' "$line" | sed -n 's/.*"id":\([0-9]*\).*/\1/p')
    case $line in
        *'"op":"hello"'*) echo "{\"v\":1,\"id\":$id,\"error\":0,\"version\":1}" ;;
        *'"op":"end"'*) echo "{\"v\":1,\"id\":$id,\"error\":0}"; exit 0 ;;
        *) echo "{\"v\":1,\"id\":$id,\"error\":5,\"message\":\"refused: a stand-in\"}" ;;
    esac
done
