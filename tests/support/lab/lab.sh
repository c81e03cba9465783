#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The router lab: a small world of network namespaces in which every network test, benchmark
# and demo runs. Nothing here touches the machine's own namespace beyond creating and removing
# these namespaces and their resolver files.
#
#   lab.sh up           build the world
#   lab.sh down         remove it (safe to call twice)
#   lab.sh run CMD...   build it, run CMD (in the machine's namespace, with LAB_* set; CMD enters
#                       the lab with "ip netns exec"), remove it afterwards, also on failure
#
# The world:
#   pc      the user's PC. eth0 is cabled to "spare" (nothing answers there) and holds
#           192.168.0.5/16 and 10.20.0.5/16 with a clashing route 192.168.1.0/24 via
#           192.168.0.254 and a route 172.16.0.0/12 via 10.20.0.1. eth1 is cabled to the router
#           and holds 192.168.1.100/24 with the default route via 192.168.1.1.
#           resolv.conf names 192.168.1.1.
#   router  the router: 192.168.1.1/24 on its eth0. Tests start the router simulator here.
#   spare   the far end of the PC's second Ethernet link; holds nothing.
# desktop.sh adds a private polkitd and NetworkManager to a namespace of the world; "down" ends
# them.
#
# LAB_PREFIX then LAB_NAME (both default empty; a test sets its name, a whole run its prefix)
# prefix every namespace name; LAB_TIMEOUT (seconds, default 900)
# bounds "run". "run" waits (LAB_LOCK_WAIT seconds, default 900) while another "run" with the
# same prefix holds the lab.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
prefix=${LAB_PREFIX:-}${LAB_NAME:-}
export LAB_PC="${prefix}pc" LAB_ROUTER="${prefix}router" LAB_SPARE="${prefix}spare"
namespaces=("$LAB_PC" "$LAB_ROUTER" "$LAB_SPARE")
marker_dir=/run/kestrel-lab

die() { echo "lab.sh: $*" >&2; exit 1; }

in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

lab_down() {
    for ns in "${namespaces[@]}"; do
        if [ -e "$marker_dir/$ns" ]; then
            "$here/desktop.sh" stop "$ns" || true
            # Anything else still running inside (simulator, DNS servers) goes with the namespace.
            local pids
            pids=$(ip netns pids "$ns" 2>/dev/null || true)
            [ -n "$pids" ] && kill $pids 2>/dev/null || true
            ip netns delete "$ns" 2>/dev/null || true
            rm -rf "/etc/netns/$ns" "$marker_dir/$ns"
        fi
    done
}

lab_up() {
    [ "$(id -u)" -eq 0 ] || die "needs root (network namespaces)"
    command -v ip >/dev/null || die "needs iproute2"
    for ns in "${namespaces[@]}"; do
        if ip netns list | awk '{print $1}' | grep -qx "$ns"; then
            [ -e "$marker_dir/$ns" ] || die "namespace $ns exists and is not the lab's; set LAB_PREFIX"
        fi
    done
    lab_down
    mkdir -p "$marker_dir"
    for ns in "${namespaces[@]}"; do
        ip netns add "$ns"
        touch "$marker_dir/$ns"
        mkdir -p "/etc/netns/$ns"
        in_ns "$ns" ip link set lo up
    done
    echo "nameserver 192.168.1.1" > "/etc/netns/$LAB_PC/resolv.conf"
    echo "nameserver 127.0.0.1" > "/etc/netns/$LAB_ROUTER/resolv.conf"
    echo "nameserver 127.0.0.1" > "/etc/netns/$LAB_SPARE/resolv.conf"

    # eth0 first, so that the dead-end link comes first in the PC's adapter order.
    in_ns "$LAB_PC" ip link add eth0 type veth peer name eth0 netns "$LAB_SPARE"
    in_ns "$LAB_PC" ip link add eth1 type veth peer name eth0 netns "$LAB_ROUTER"
    for link in eth0 eth1; do in_ns "$LAB_PC" ip link set "$link" up; done
    in_ns "$LAB_SPARE" ip link set eth0 up
    in_ns "$LAB_ROUTER" ip link set eth0 up

    in_ns "$LAB_ROUTER" ip addr add 192.168.1.1/24 brd + dev eth0

    in_ns "$LAB_PC" ip addr add 192.168.0.5/16 brd + dev eth0
    in_ns "$LAB_PC" ip addr add 10.20.0.5/16 brd + dev eth0
    in_ns "$LAB_PC" ip addr add 192.168.1.100/24 brd + dev eth1
    in_ns "$LAB_PC" ip route add default via 192.168.1.1 dev eth1 proto dhcp metric 100
    in_ns "$LAB_PC" ip route add 192.168.1.0/24 via 192.168.0.254 dev eth0 metric 50
    in_ns "$LAB_PC" ip route add 172.16.0.0/12 via 10.20.0.1 dev eth0 proto static
}

case "${1:-}" in
    up) lab_up ;;
    down) lab_down ;;
    run)
        shift
        [ "${1:-}" = "--" ] && shift
        [ $# -gt 0 ] || die "run needs a command"
        # One world per prefix at a time, also across separate ctest runs and worktrees: the
        # names are fixed, and a second "up" would tear down the first one's world.
        mkdir -p "$marker_dir"
        lock="$marker_dir/${prefix}lock"
        # The lock file goes with the run: whoever got the lock of a file removed meanwhile takes
        # the new one.
        while :; do
            exec {lock_fd}>"$lock"
            flock -w "${LAB_LOCK_WAIT:-900}" "$lock_fd" || die "the lab ${prefix:-(no prefix)} stayed busy"
            [ "$(stat -c %i "$lock" 2>/dev/null)" = "$(stat -L -c %i "/proc/self/fd/$lock_fd")" ] && break
            exec {lock_fd}>&-
        done
        trap 'lab_down; rm -f "$lock"' EXIT
        trap 'exit 130' INT TERM
        lab_up
        status=0
        timeout --kill-after=10 "${LAB_TIMEOUT:-900}" "$@" || status=$?
        # 124: TERM after the time; 137: KILL 10 s later.
        [ "$status" -eq 124 ] || [ "$status" -eq 137 ] &&
            echo "lab.sh: the lab's time of ${LAB_TIMEOUT:-900} s (LAB_TIMEOUT) ran out: $*" >&2
        exit "$status"
        ;;
    *) echo "usage: lab.sh up | down | run CMD..." >&2; exit 2 ;;
esac
