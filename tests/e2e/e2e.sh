#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# End-to-end: the real wizard, offscreen, in the lab's pc namespace, against the router
# simulator in the router namespace. Each scenario on a fresh lab; after each, the pc
# namespace's addresses and routes must be what they were before. "stopped": SIGTERM while the
# wizard waits for a router that never comes back; it must have ended within 10 s, with 143.
#
#   e2e.sh DRIVER ROUTER_SIM [router-ok|success|failed|stopped ...]
set -euo pipefail
driver=$(realpath "$1")
sim=$(realpath "$2")
shift 2
[ $# -gt 0 ] && scenarios=("$@") || scenarios=(router-ok success failed stopped)
here=$(cd "$(dirname "$0")" && pwd)
lab="$here/../lab/lab.sh"

run_scenario() {
    local scenario=$1 work
    work=$(mktemp -d)
    trap 'rm -rf "$work"' RETURN
    mkdir -p "$work/system/KESTREL"
    head -c $((1024 * 1024 + 300)) /dev/urandom > "$work/system/KESTREL/image.bin"

    LAB_TIMEOUT=240 "$lab" run -- bash -c '
        set -euo pipefail
        scenario=$1 driver=$2 sim=$3 work=$4
        # Sorted: addresses put back come last in the kernel'"'"'s list, which is no change.
        snapshot() {
            ip netns exec "$LAB_PC" ip -4 -o addr | sort
            ip netns exec "$LAB_PC" ip -4 route show table all | sort
        }
        snapshot > "$work/before"
        case $scenario in
            router-ok) sim_args=(--mode normal --dns good) ;;
            success)   sim_args=(--mode bootloader --store "$work/received" --after-image reboot --reboot-seconds 3) ;;
            failed|stopped) sim_args=(--mode bootloader --store "$work/received" --after-image stay) ;;
        esac
        ip netns exec "$LAB_ROUTER" "$sim" "${sim_args[@]}" --max-seconds 200 --log "$work/sim.log" &
        sleep 0.5
        status=0
        wizard=(ip netns exec "$LAB_PC" env QT_QPA_PLATFORM=offscreen KESTREL_SYSTEM_DIR="$work/system"
                "$driver" --expect "$scenario" --timeout 180 -- FW=image.bin)
        if [ "$scenario" = stopped ]; then
            # "ip netns exec" and env exec the driver: $! is the wizard itself.
            "${wizard[@]}" TIME=60 > "$work/driver.out" &
            pid=$!
            for _ in $(seq 600); do
                grep -q "status: updating router firmware" "$work/driver.out" && break
                sleep 0.1
            done
            sleep 2
            start=$EPOCHREALTIME
            kill -TERM "$pid"
            ended=0
            wait "$pid" || ended=$?
            took=$(awk -v a="$start" -v b="$EPOCHREALTIME" "BEGIN { printf \"%.1f\", b - a }")
            cat "$work/driver.out"
            echo "e2e stopped: ended $took s after SIGTERM with status $ended"
            [ "$ended" -eq 143 ] || { echo "e2e stopped: exit status $ended, not 143" >&2; status=1; }
            awk -v t="$took" "BEGIN { exit !(t < 10) }" || { echo "e2e stopped: took $took s" >&2; status=1; }
        else
            "${wizard[@]}" TIME=8 || status=$?
        fi
        snapshot > "$work/after"
        if ! diff -u "$work/before" "$work/after"; then
            echo "e2e $scenario: the PC'"'"'s addresses or routes changed" >&2; status=1
        fi
        if [ "$scenario" = success ] && ! cmp "$work/system/KESTREL/image.bin" "$work/received"; then
            echo "e2e $scenario: the image did not arrive intact" >&2; status=1
        fi
        exit $status
    ' _ "$scenario" "$driver" "$sim" "$work"
}

failed=0
for scenario in "${scenarios[@]}"; do
    echo "=== e2e: $scenario"
    if run_scenario "$scenario"; then echo "=== e2e: $scenario passed"; else echo "=== e2e: $scenario FAILED"; failed=1; fi
done
exit $failed
