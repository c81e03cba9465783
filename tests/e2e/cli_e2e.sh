#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end: the terminal front end in the lab's pc namespace as a script runs it (standard
# input not a terminal, output to a file, no display), against the router simulator in the
# router namespace. Each scenario on a fresh lab under a prefix of its own, so they may run in
# parallel; after each, the pc namespace's addresses and routes must be what they were before.
#   success     FW= names the image by its path; it arrives intact under its own name; status 0
#   never-back  the router takes the image and never answers again; status 2, no process left
#               in the pc namespace
#   router-ok   a working router: status 0, nothing uploaded, no address or route ever touched
#
#   cli_e2e.sh CLI ROUTER_SIM [success|never-back|router-ok ...]
set -euo pipefail
cli=$(realpath "$1")
sim=$(realpath "$2")
shift 2
[ $# -gt 0 ] && scenarios=("$@") || scenarios=(success never-back router-ok)
here=$(cd "$(dirname "$0")" && pwd)
lab="$here/../lab/lab.sh"

run_scenario() {
    local scenario=$1 work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    mkdir -p "$work/system/KESTREL"  # an empty image folder: only the path can name the image
    head -c $((1024 * 1024 + 300)) /dev/urandom > "$work/image.bin"

    LAB_PREFIX="${LAB_PREFIX:-}cli${scenario//-/}_" LAB_TIMEOUT=150 "$lab" run -- bash -c '
        set -euo pipefail
        scenario=$1 cli=$2 sim=$3 work=$4
        snapshot() {
            ip netns exec "$LAB_PC" ip -4 -o addr | sort
            ip netns exec "$LAB_PC" ip -4 route show table all | sort
        }
        fail() { echo "cli e2e $scenario: $*" >&2; status=1; }
        snapshot > "$work/before"
        case $scenario in
            success)    sim_args=(--mode bootloader --after-image reboot --reboot-seconds 3); want=0 ;;
            never-back) sim_args=(--mode bootloader --after-image stay); want=2 ;;
            router-ok)  sim_args=(--mode normal --dns good); want=0 ;;
        esac
        ip netns exec "$LAB_ROUTER" "$sim" "${sim_args[@]}" --store "$work/received" \
            --max-seconds 120 --log "$work/sim.log" &
        ip netns exec "$LAB_PC" ip -4 monitor address route > "$work/changes" &
        monitor=$!
        sleep 0.5
        status=0 ended=0
        # As root with no invoking user: the helper starts directly and the front end stays root.
        ip netns exec "$LAB_PC" env -u SUDO_UID -u SUDO_GID -u PKEXEC_UID -u DISPLAY \
            -u WAYLAND_DISPLAY KESTREL_SYSTEM_DIR="$work/system" \
            "$cli" FW="$work/image.bin" TIME=8 < /dev/null > "$work/out" 2>&1 || ended=$?
        kill "$monitor"; wait "$monitor" || true
        cat "$work/out"
        [ "$ended" -eq "$want" ] || fail "exit status $ended, not $want"
        LC_ALL=C grep -q "[^[:print:]]" "$work/out" && fail "control characters in its output"
        snapshot > "$work/after"
        diff -u "$work/before" "$work/after" || fail "the PC'"'"'s addresses or routes changed"
        case $scenario in
            success)
                cmp "$work/image.bin" "$work/received" || fail "the image did not arrive intact"
                grep -q "op=2 .*name=image.bin" "$work/sim.log" || fail "not asked for as image.bin" ;;
            never-back)
                pids=$(ip netns pids "$LAB_PC")
                [ -z "$pids" ] || { ps -o pid,args -p $pids; fail "processes left in the PC"; } ;;
            router-ok)
                [ ! -e "$work/received" ] || fail "an image was uploaded"
                [ ! -s "$work/changes" ] || { cat "$work/changes"; fail "settings were touched"; } ;;
        esac
        exit $status
    ' _ "$scenario" "$cli" "$sim" "$work"
}

failed=0
for scenario in "${scenarios[@]}"; do
    echo "=== cli e2e: $scenario"
    if run_scenario "$scenario"; then echo "=== cli e2e: $scenario passed"; else echo "=== cli e2e: $scenario FAILED"; failed=1; fi
done
exit $failed
