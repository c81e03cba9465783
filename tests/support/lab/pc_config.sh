#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Gives the lab PC's link to the router (eth1) the settings a real desktop leaves there, built
# with ip in place of lab.sh's; eth0 keeps what lab.sh gave it. Runs from "lab.sh run" (LAB_PC
# set), before the recovery. Root only.
#
#   pc_config.sh nm-lease|nm-static|networkd|secondary|other-table|onlink|vpn|routes
#
#   nm-lease     NetworkManager's DHCP lease: the address flagged noprefixroute, with
#                lifetimes; the subnet route NetworkManager adds itself (proto kernel, metric
#                100); the default route (proto dhcp, metric 100); a route that the lease pushed
#   nm-static    the same from a static profile: no lifetimes, proto static
#   networkd     systemd-networkd's lease: the address carries the route metric (1024), so the
#                kernel's subnet route has it; a host route to the router and the default route
#                through it, by DHCP, with the address as source
#   secondary    a second address in the subnet, which the kernel flags secondary and takes
#                along when the first one goes
#   other-table  policy routing: the subnet and a default route in table 100, and a rule that
#                sends 192.168.1.100's traffic there
#   onlink       a route through a gateway outside every subnet of the link (onlink)
#   vpn          a VPN's split routes (0.0.0.0/1 and 128.0.0.0/1) through eth0 and a kill switch
#                (unreachable 192.168.0.0/16): they hold the router's address, yet must stay
#   routes       5,000 routes through the router, which the kernel drops with the address
set -euo pipefail

pc() { ip netns exec "${LAB_PC:?run from lab.sh run}" ip "$@"; }

nm_style() {
    local lifetimes=$1 proto=$2
    pc addr add 192.168.1.100/24 brd 192.168.1.255 dev eth1 noprefixroute $lifetimes
    pc route add 192.168.1.0/24 dev eth1 proto kernel scope link src 192.168.1.100 metric 100
    pc route add default via 192.168.1.1 dev eth1 proto "$proto" metric 100
    pc route add 10.9.0.0/16 via 192.168.1.1 dev eth1 proto "$proto"
}

# The usual address with its default route: what the configurations below add to.
plain() {
    pc addr add 192.168.1.100/24 brd 192.168.1.255 dev eth1
    pc route add default via 192.168.1.1 dev eth1 proto dhcp metric 100
}

config=${1:-}
# The last address of a link takes every route through the link with it.
pc -4 addr flush dev eth1
case $config in
    nm-lease) nm_style "valid_lft 3600 preferred_lft 3600" dhcp ;;
    nm-static) nm_style "" static ;;
    networkd)
        pc addr add 192.168.1.100/24 brd 192.168.1.255 dev eth1 metric 1024 \
            valid_lft 86400 preferred_lft 86400
        pc route add 192.168.1.1 dev eth1 proto dhcp scope link src 192.168.1.100 metric 1024
        pc route add default via 192.168.1.1 dev eth1 proto dhcp src 192.168.1.100 metric 1024
        ;;
    secondary)
        plain
        pc addr add 192.168.1.200/24 brd 192.168.1.255 dev eth1
        ;;
    other-table)
        plain
        pc route add 192.168.1.0/24 dev eth1 proto kernel scope link src 192.168.1.100 table 100
        pc route add default via 192.168.1.1 dev eth1 proto dhcp table 100
        pc rule add from 192.168.1.100 lookup 100 priority 100
        ;;
    onlink)
        plain
        pc route add 10.30.0.0/16 via 10.99.0.1 dev eth1 proto static onlink
        ;;
    vpn)
        plain
        pc route add 0.0.0.0/1 via 10.20.0.1 dev eth0 proto static
        pc route add 128.0.0.0/1 via 10.20.0.1 dev eth0 proto static
        pc route add unreachable 192.168.0.0/16 metric 4000
        ;;
    routes)
        plain
        for ((i = 0; i < 5000; i++)); do
            echo "route add 10.$((i / 250)).$((i % 250)).0/24 via 192.168.1.1 dev eth1 proto static"
        done | pc -batch -
        ;;
    *) echo "usage: pc_config.sh nm-lease|nm-static|networkd|secondary|other-table|onlink|vpn|routes" >&2; exit 2 ;;
esac
