#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# A private desktop inside one of the lab's namespaces: a real polkitd and a real NetworkManager
# on a private system bus, as on a user's PC, without systemd or logind. Root only; the namespace
# must be one that lab.sh made. Nothing runs in the machine's own namespaces.
#
#   desktop.sh start NS [--polkit USER] [--networkmanager LINK [--profile static|dhcp]]
#                       [--max-seconds S]
#       Anchors a private mount and UTS namespace in network namespace NS (tmpfs over /run,
#       /var/lib/NetworkManager, /etc/NetworkManager and /etc/polkit-1/rules.d; /sys read-only;
#       a /dev of its own with the machine's devices), starts a syslog daemon on its /dev/log and
#       a system bus at /run/dbus/system_bus_socket, and returns once what was asked for is up:
#       --polkit USER      polkitd, with a rules file that lets USER (a user name) run
#                          org.kestrel-recovery.helper and org.freedesktop.policykit.exec, so
#                          that pkexec needs no agent. Anyone else is refused.
#       --networkmanager LINK   NetworkManager managing LINK only (no DNS handling, no hostname),
#                          after LINK's IPv4 addresses are flushed so that what is there is
#                          NetworkManager's. Two profiles for the router's subnet: "lab-static"
#                          (192.168.1.100/24, gateway and DNS 192.168.1.1) and "lab-dhcp". The
#                          one --profile names (default static) connects on its own; start
#                          returns when LINK is connected (the dhcp profile needs the router
#                          simulator's --dhcp running). The other one is there for
#                          "nmcli connection up lab-...".
#       --max-seconds S    lifetime (default 900): the desktop then ends itself.
#   desktop.sh exec NS [--user USER] [--] CMD...
#       Runs CMD inside the desktop's mount, UTS and network namespaces, so that nmcli and
#       pkexec reach its bus; as USER (its uid, gid and groups; HOME, USER and LOGNAME set,
#       the rest of the environment kept) when given. Exits with CMD's status.
#   desktop.sh stop NS
#       Ends everything in the desktop (daemons and commands still running from exec) and
#       removes its state. Safe to call twice and for a namespace that has none; lab.sh's
#       teardown calls it.
#
# NS itself is the handle: its state lives in /run/kestrel-lab/desktop/NS, the daemons' logs
# (dbus.log, polkitd.log, NetworkManager.log), what anything in the desktop sent to syslog
# (syslog.log: polkitd, pkexec, the recovery's helper), the anchor's pid, start time and mount
# namespace, and anchor.log: who ended the desktop, and why.
#
# The kernel hands a namespace's number out again as soon as the namespace is gone, often to the
# very next one made: a number alone names no desktop. The anchor, known by its pid and start
# time, does; a stop holds the anchor's namespace open, so that the number stays this desktop's
# while its members end.
set -euo pipefail

self=$(realpath "$0")
lab_markers=/run/kestrel-lab

die() { echo "desktop.sh: $*" >&2; exit 1; }

state_of() { echo "$lab_markers/desktop/$1"; }

# The start time of process PID (clock ticks since boot): with the pid, it names one process.
start_time() {
    local stat
    stat=$(cat "/proc/$1/stat" 2> /dev/null) || return 1
    set -- ${stat##*) }
    echo "${20}"
}

# Who runs this script: for the anchor's log.
caller() { echo "pid $PPID ($(tr '\0' ' ' < "/proc/$PPID/cmdline" 2> /dev/null))"; }

# A line of the anchor's log, which tells who ended a desktop, and why.
log_anchor() { echo "[$(date +%T.%3N)] $*" >> "$(state_of "$ns")/anchor.log"; }

# Fills found with every process whose mount namespace is MNT, less this shell: what one desktop
# consists of. One find for the whole scan: the machine runs hundreds of processes.
members() {
    local mnt=$1 path pid candidates=()
    # Only the number: find would take the brackets of "mnt:[N]" for a pattern.
    local pattern="mnt:?${mnt//[^0-9]/}?"
    while read -r path; do
        pid=${path#/proc/}
        candidates+=("${pid%%/*}")
    done < <(find /proc/[0-9]*/ns/mnt -maxdepth 0 -lname "$pattern" 2> /dev/null)
    found=()
    for pid in "${candidates[@]}"; do
        # The scan's own find has gone by now.
        [ "$pid" != "$$" ] && [ -e "/proc/$pid/ns/mnt" ] && found+=("$pid")
    done
    return 0
}

end_members() {
    local mnt=$1 i
    members "$mnt"
    [ ${#found[@]} -gt 0 ] || return 0
    kill -TERM "${found[@]}" 2> /dev/null || true
    for ((i = 0; i < 50; i++)); do
        members "$mnt"
        [ ${#found[@]} -gt 0 ] || return 0
        sleep 0.1
    done
    kill -KILL "${found[@]}" 2> /dev/null || true
}

# Covers /dev with a copy of itself (device nodes, links, and the machine's pts, shm and mqueue
# mounts), so that a syslog socket can be made at /dev/log without one on the machine.
private_dev() {
    local dev=/run/kestrel-desktop/dev entry
    mkdir -p "$dev"
    mount -t tmpfs -o mode=0755,nosuid tmpfs "$dev"
    find /dev -mindepth 1 -maxdepth 1 ! -type d ! -type s -exec cp -a -t "$dev" {} +
    for entry in /dev/*/; do
        [ -L "${entry%/}" ] && continue
        mkdir "$dev/${entry:5}"
        mount --rbind "$entry" "$dev/${entry:5}"
    done
    mount --move "$dev" /dev
}

# Runs inside the new namespaces (see start): sets up the mounts, reports its pid through a file
# opened before /run is covered, then holds the namespace until told to stop or its time is up.
anchor() {
    local state=$1 max=$2 dir
    exec 3> "$state/anchor"
    mount -t tmpfs -o mode=0755 tmpfs /run
    # polkitd reads /usr/share's rules and /etc's: the desktop's /etc folder is a copy of the
    # machine's, to which start adds the grant.
    mkdir -p /run/kestrel-desktop/rules.d
    cp -a /etc/polkit-1/rules.d/. /run/kestrel-desktop/rules.d/ 2>/dev/null || true
    for dir in /var/lib/NetworkManager /etc/NetworkManager /etc/polkit-1/rules.d; do
        [ -d "$dir" ] && mount -t tmpfs -o mode=0755 tmpfs "$dir"
    done
    [ -d /etc/polkit-1/rules.d ] && cp -a /run/kestrel-desktop/rules.d/. /etc/polkit-1/rules.d/
    # A writable /sys makes NetworkManager wait for udev, which does not run here.
    mount -o remount,bind,ro /sys
    private_dev
    mkdir -p /run/dbus
    local mnt signal
    mnt=$(readlink /proc/self/ns/mnt)
    for signal in TERM INT; do
        trap "echo \"[\$(date +%T.%3N)] anchor: ended by SIG$signal\"; end_members '$mnt'; exit 0" "$signal"
    done
    echo "$$ $(start_time $$) $mnt" >&3
    exec 3>&-
    sleep "$max" &
    wait $! || true
    echo "[$(date +%T.%3N)] anchor: the desktop's lifetime of $max s is up"
    end_members "$mnt"
}

anchor_pid=
# Finds the running desktop of NS, or fails, saying why it ended.
attach() {
    local state pid start mnt
    state=$(state_of "$1")
    { read -r pid start mnt < "$state/anchor"; } 2> /dev/null || die "no desktop in $1"
    if [ "$(start_time "$pid")" != "$start" ] ||
        [ "$(readlink "/proc/$pid/ns/mnt" 2>/dev/null)" != "$mnt" ]; then
        echo "desktop.sh: the desktop in $1 has ended; its anchor's log:" >&2
        sed 's/^/    /' "$state/anchor.log" >&2 2> /dev/null
        exit 1
    fi
    anchor_pid=$pid
}

in_desktop() { nsenter --target "$anchor_pid" --mount --uts --net -- "$@"; }

# Writes standard input to PATH inside the desktop.
put() { in_desktop install -D -m "$2" /dev/stdin "$1"; }

# Retries CMD every 0.2 s for up to SECONDS.
wait_until() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 5; i++)); do
        "$@" >/dev/null 2>&1 && return 0
        sleep 0.2
    done
    return 1
}

has_bus_name() {
    in_desktop dbus-send --system --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner "string:$1" 2>/dev/null | grep -q 'boolean true'
}

link_connected() {
    in_desktop nmcli -g GENERAL.STATE device show "$1" 2>/dev/null | grep -q '^100 '
}

# Starts DAEMON... in the desktop with its output in the state folder's NAME.log.
launch() {
    local name=$1 state
    shift
    state=$(state_of "$ns")
    (exec nsenter --target "$anchor_pid" --mount --uts --net -- "$@" \
        < /dev/null >> "$state/$name.log" 2>&1) &
}

start_syslog() {
    launch syslog busybox syslogd -n -O -
    wait_until 5 in_desktop test -S /dev/log || fail_start "the syslog daemon did not start"
}

start_bus() {
    # The system bus as the machine would run it, less what needs systemd or starts services of
    # its own accord: here a daemon runs only when asked for.
    sed -e '/<fork\/>/d' -e '/<pidfile>/d' -e '/<syslog\/>/d' -e '/<servicehelper>/d' \
        -e '/<standard_system_servicedirs\/>/d' \
        -e 's|<includedir>system.d</includedir>|<includedir>/usr/share/dbus-1/system.d</includedir>|' \
        /usr/share/dbus-1/system.conf | put /run/kestrel-desktop/system-bus.conf 0644
    launch dbus dbus-daemon --config-file=/run/kestrel-desktop/system-bus.conf --nofork \
        --nopidfile --nosyslog
    wait_until 10 has_bus_name org.freedesktop.DBus || fail_start "the system bus did not start"
}

start_polkit() {
    local user=$1
    getent passwd "$user" > /dev/null || fail_start "no user $user"
    # Without logind no subject is "active": the grant has to name the user.
    put /etc/polkit-1/rules.d/10-kestrel-lab.rules 0644 << EOF
// The lab's desktop user may start the recovery helper without an agent.
polkit.addRule(function(action, subject) {
    if ((action.id == "org.kestrel-recovery.helper" ||
         action.id == "org.freedesktop.policykit.exec") && subject.user == "$user")
        return polkit.Result.YES;
});
EOF
    launch polkitd /usr/lib/polkit-1/polkitd
    wait_until 10 has_bus_name org.freedesktop.PolicyKit1 || fail_start "polkitd did not start"
}

write_profile() {
    local id=$1 uuid=$2 link=$3 autoconnect=$4 ipv4=$5
    put "/etc/NetworkManager/system-connections/$id.nmconnection" 0600 << EOF
[connection]
id=$id
uuid=$uuid
type=ethernet
interface-name=$link
autoconnect=$autoconnect

[ethernet]

[ipv4]
$ipv4

[ipv6]
method=ignore
EOF
}

start_networkmanager() {
    local link=$1 profile=$2
    in_desktop ip link show dev "$link" > /dev/null 2>&1 || fail_start "no link $link in $ns"
    put /etc/NetworkManager/NetworkManager.conf 0644 << EOF
[main]
plugins=keyfile
dns=none
rc-manager=unmanaged
systemd-resolved=false
hostname-mode=none
no-auto-default=*

[keyfile]
unmanaged-devices=except:interface-name:$link

[connectivity]
enabled=false

[logging]
level=INFO
EOF
    write_profile lab-static 6f1c2a52-6d0e-4a53-9b1e-1c0c5e7a0001 "$link" \
        "$([ "$profile" = static ] && echo true || echo false)" \
        "method=manual
address1=192.168.1.100/24,192.168.1.1
dns=192.168.1.1;"
    write_profile lab-dhcp 6f1c2a52-6d0e-4a53-9b1e-1c0c5e7a0002 "$link" \
        "$([ "$profile" = dhcp ] && echo true || echo false)" "method=auto"
    in_desktop ip -4 addr flush dev "$link"
    launch NetworkManager NetworkManager --no-daemon --debug
    wait_until 45 link_connected "$link" ||
        fail_start "NetworkManager did not connect $link with lab-$profile"
}

fail_start() {
    local state log
    state=$(state_of "$ns")
    echo "desktop.sh: $*" >&2
    for log in "$state"/*.log; do
        [ -s "$log" ] || continue
        echo "--- $(basename "$log") (last lines)" >&2
        tail -n 15 "$log" >&2
    done
    stop_desktop "$ns"
    exit 1
}

start_desktop() {
    ns=$1
    shift
    local polkit_user= nm_link= profile=static max=900 state i
    while [ $# -gt 0 ]; do
        case $1 in
            --polkit) polkit_user=${2:?--polkit needs a user}; shift 2 ;;
            --networkmanager) nm_link=${2:?--networkmanager needs a link}; shift 2 ;;
            --profile) profile=${2:-}; shift 2 ;;
            --max-seconds) max=${2:?--max-seconds needs a number}; shift 2 ;;
            *) die "unknown option $1" ;;
        esac
    done
    [[ $profile == static || $profile == dhcp ]] || die "--profile is static or dhcp"
    [ "$(id -u)" -eq 0 ] || die "needs root"
    # Only inside the lab: never a desktop in a namespace that lab.sh did not make.
    [ -e "$lab_markers/$ns" ] && ip netns list | awk '{print $1}' | grep -qx "$ns" ||
        die "$ns is not a namespace of the lab"
    state=$(state_of "$ns")
    if [ -e "$state/anchor" ]; then
        (attach "$ns" 2> /dev/null) && die "a desktop already runs in $ns"
        stop_desktop "$ns"
    fi
    mkdir -p "$state"
    ip netns exec "$ns" unshare --mount --uts --propagation private -- \
        "$self" __anchor "$state" "$max" < /dev/null >> "$state/anchor.log" 2>&1 &
    for ((i = 0; i < 100; i++)); do
        [ -s "$state/anchor" ] && break
        sleep 0.1
    done
    attach "$ns"
    start_syslog
    start_bus
    [ -n "$polkit_user" ] && start_polkit "$polkit_user"
    [ -n "$nm_link" ] && start_networkmanager "$nm_link" "$profile"
    return 0
}

# Ends the desktop's members if its anchor still runs; when it does not, the anchor has ended
# them itself, and its namespace's number may be another desktop's by now.
stop_desktop() {
    local state pid start mnt ns_fd
    ns=$1
    state=$(state_of "$ns")
    [ -d "$state" ] || return 0
    if { read -r pid start mnt < "$state/anchor"; } 2> /dev/null &&
        exec {ns_fd}< "/proc/$pid/ns/mnt"; then
        if [ "$(start_time "$pid")" = "$start" ] && [ "$(readlink "/proc/$$/fd/$ns_fd")" = "$mnt" ]
        then
            log_anchor "desktop.sh stop, run by $(caller)"
            end_members "$mnt"
        fi
        exec {ns_fd}<&-
    fi 2> /dev/null
    rm -rf "$state"
}

exec_in_desktop() {
    local user=
    ns=$1
    shift
    if [ "${1:-}" = --user ]; then
        user=${2:?--user needs a user}
        shift 2
    fi
    [ "${1:-}" = -- ] && shift
    [ $# -gt 0 ] || die "exec needs a command"
    attach "$ns"
    if [ -z "$user" ]; then
        exec nsenter --target "$anchor_pid" --mount --uts --net -- "$@"
    fi
    local home
    home=$(getent passwd "$user" | cut -d: -f6) || die "no user $user"
    exec nsenter --target "$anchor_pid" --mount --uts --net -- \
        setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups -- \
        env HOME="$home" USER="$user" LOGNAME="$user" "$@"
}

case "${1:-}" in
    start) [ $# -ge 2 ] || die "start needs a namespace"; shift; start_desktop "$@" ;;
    exec) [ $# -ge 2 ] || die "exec needs a namespace"; shift; exec_in_desktop "$@" ;;
    stop) [ $# -eq 2 ] || die "stop needs a namespace"; stop_desktop "$2" ;;
    __anchor) anchor "$2" "$3" ;;
    *) echo "usage: desktop.sh start|exec|stop NS ... (see the comment at the top)" >&2; exit 2 ;;
esac
