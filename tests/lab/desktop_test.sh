#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Smoke tests of the lab's desktop (desktop.sh) and of the router simulator's DHCP. Each case
# builds a lab of its own, with its name added to LAB_PREFIX, so that the cases run beside each
# other and beside other lab tests. Root only. A carrier lost while the router reboots is a row
# of the end-to-end table (tests/e2e/scenarios.table).
#
#   desktop_test.sh polkit|networkmanager ROUTER_SIM
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
desktop="$here/../support/lab/desktop.sh"
case_name=$1
sim=$(realpath "$2")

if [ -z "${LAB_PC:-}" ]; then
    case $case_name in
        polkit) short=pk ;;
        networkmanager) short=nm ;;
        *) echo "desktop_test.sh: unknown case $case_name" >&2; exit 2 ;;
    esac
    LAB_PREFIX="${LAB_PREFIX:-}${short}_" exec "$here/../support/lab/lab.sh" run -- "$0" "$@"
fi

work=$(mktemp -d /tmp/kestrel-desktop-XXXXXX)
trap 'rm -rf "$work"' EXIT
failed=0

fail() { echo "FAIL $case_name: $*" >&2; failed=1; }
# expect WHAT PATTERN TEXT: TEXT has a line matching the extended regular expression PATTERN.
expect() { grep -qE -- "$2" <<< "$3" || fail "$1: nothing matches /$2/ in:"$'\n'"$3"; }
in_pc() { "$desktop" exec "$LAB_PC" "$@"; }

# Polls CMD every 0.2 s for up to SECONDS.
wait_until() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 5; i++)); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

start_router() {
    local name=$1
    shift
    ip netns exec "$LAB_ROUTER" "$sim" --max-seconds 100 --log "$work/$name.log" "$@" \
        2> "$work/$name.err" &
    router_pid=$!
    wait_until 5 grep -q ready "$work/$name.log" || fail "the router simulator did not start"
}

# What NetworkManager shows on the PC's link to the router with PROFILE active: connected, an
# address ADDRESS/24 flagged noprefixroute (and FLAGS), its own subnet route with metric 100,
# and the default route via the router, put there by PROTO.
expect_managed() {
    local profile=$1 address=$2 flags=$3 proto=$4 shown
    shown=$(in_pc nmcli -g GENERAL.STATE,GENERAL.CONNECTION device show eth1)
    expect "$profile state" '^100 \(connected\)$' "$shown"
    expect "$profile connection" "^$profile\$" "$shown"
    expect "$profile address" "inet $address/24 brd 192.168.1.255 scope global ${flags}noprefixroute eth1" \
        "$(in_pc ip -4 -d addr show dev eth1)"
    shown=$(in_pc ip -4 route show dev eth1)
    expect "$profile subnet route" "^192.168.1.0/24 proto kernel scope link src $address metric 100 \$" "$shown"
    expect "$profile default route" "^default via 192.168.1.1 proto $proto (src $address )?metric 100 \$" "$shown"
}

lease='192\.168\.1\.(1[0-3][0-9]|140)'

case $case_name in
    polkit)
        "$desktop" start "$LAB_PC" --polkit nobody
        # Run from a shell of the user's, as a front end starts the helper.
        granted=$(in_pc --user nobody sh -c 'pkexec /usr/bin/id -u' 2>&1) || true
        [ "$granted" = 0 ] || fail "nobody, granted, got: $granted"
        status=0
        refused=$(in_pc --user daemon sh -c 'pkexec /usr/bin/id -u' 2>&1) || status=$?
        [ "$status" -eq 127 ] && ! grep -qx 0 <<< "$refused" ||
            fail "daemon, not granted, got status $status: $refused"
        "$desktop" stop "$LAB_PC"
        "$desktop" stop "$LAB_PC"
        left=$(ip netns pids "$LAB_PC")
        [ -z "$left" ] || fail "left running after stop: $(ps -o pid=,args= -p ${left//$'\n'/,})"
        ;;
    networkmanager)
        start_router dhcp --mode normal --dhcp
        "$desktop" start "$LAB_PC" --networkmanager eth1 --profile static
        expect_managed lab-static 192.168.1.100 "" static
        in_pc nmcli --wait 45 connection up lab-dhcp > /dev/null || fail "lab-dhcp did not connect"
        expect_managed lab-dhcp "$lease" "dynamic " dhcp
        expect "lab-dhcp DNS server" '^192.168.1.1$' "$(in_pc nmcli -g IP4.DNS device show eth1)"
        ;;
esac
[ "$failed" -eq 0 ] && echo "desktop_test.sh $case_name: passed"
exit "$failed"
