#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Smoke tests of the lab's desktop (desktop.sh) and of the router simulator's DHCP: that the
# settings the end-to-end table's NetworkManager rows start from are the ones they claim, and
# that stopping a desktop leaves nothing behind (lab.sh's teardown would hide that). Whom polkit
# lets through is a row of that table. Each case builds a lab of its own, with its name added to
# LAB_PREFIX, so that the cases run beside each other and beside other lab tests. Root only.
#
#   desktop_test.sh polkit|networkmanager ROUTER_SIM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
desktop="$here/../support/lab/desktop.sh"
case_name=$1
if [ -z "${LAB_PC:-}" ]; then
    LAB_PREFIX="${LAB_PREFIX:-}${case_name:0:2}_" exec "$here/../support/lab/lab.sh" run -- "$0" "$@"
fi
fail() { echo "FAIL desktop_test.sh $case_name: $*" >&2; exit 1; }
in_pc() { "$desktop" exec "$LAB_PC" "$@"; }

case $case_name in
    polkit)
        # A late stop of a desktop that has ended by itself must not touch the next desktop,
        # which the kernel mostly gives the same mount namespace number.
        "$desktop" start "$LAB_SPARE" --max-seconds 1
        for ((i = 0; i < 100; i++)); do
            "$desktop" exec "$LAB_SPARE" true 2> /dev/null || break
            sleep 0.1
        done
        "$desktop" start "$LAB_PC" --polkit nobody
        "$desktop" stop "$LAB_SPARE"
        "$desktop" exec "$LAB_PC" true || fail "a late stop of another desktop ended this one"
        "$desktop" stop "$LAB_PC"
        "$desktop" stop "$LAB_PC"
        left=$(ip netns pids "$LAB_PC")
        [ -z "$left" ] || fail "left running after stop: $(ps -o pid=,args= -p ${left//$'\n'/,})"
        ;;
    networkmanager)
        # The lease needs the router; nmcli waits for it.
        ip netns exec "$LAB_ROUTER" "$(realpath "$2")" --max-seconds 100 --mode normal --dhcp &
        "$desktop" start "$LAB_PC" --networkmanager eth1 --profile static
        # Each profile in turn: connected, its address flagged noprefixroute, its own subnet
        # route with metric 100, and the default route via the router, put there by PROTO.
        while read -r -u 3 profile address proto; do
            [ "$profile" = lab-static ] || in_pc nmcli --wait 45 connection up "$profile" > /dev/null
            shown=$(in_pc nmcli -g GENERAL.STATE,GENERAL.CONNECTION,IP4.DNS device show eth1
                in_pc ip -4 addr show dev eth1; in_pc ip -4 route show dev eth1)
            for pattern in '^100 \(connected\)$' "^$profile\$" '^192\.168\.1\.1$' \
                "inet $address/24 brd 192.168.1.255 scope global (dynamic )?noprefixroute eth1" \
                "^192.168.1.0/24 proto kernel scope link src $address metric 100 \$" \
                "^default via 192.168.1.1 proto $proto (src $address )?metric 100 \$"; do
                grep -qE -- "$pattern" <<< "$shown" || fail "$profile: no /$pattern/ in:"$'\n'"$shown"
            done
        done 3<<< 'lab-static 192.168.1.100 static
lab-dhcp 192\.168\.1\.(1[0-3][0-9]|140) dhcp'
        ;;
    *) echo "desktop_test.sh: unknown case $case_name" >&2; exit 2 ;;
esac
echo "desktop_test.sh $case_name: passed"
