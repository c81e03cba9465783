#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one row of the end-to-end table (tests/e2e/scenarios.table, where the columns are
# explained) in a lab of its own: the PC's settings and desktop, the router simulator, the front
# end driven through the user's actions, then the checks: the page, the exit status, the PC's
# settings after against before, whatever the row adds. Root only. The lab's prefix is
# $LAB_PREFIX followed by the row's name, so that rows run side by side.
#
#   run_row.sh ROW
#
# The programs come from the environment (tests/e2e/CMakeLists.txt sets it): KESTREL_ROUTER_SIM,
# and FRONT_<name> for each front end.
#
# Adding a front end, say "cli":
#   1. tests/e2e/CMakeLists.txt: add "cli kestrel-recovery-cli" (its name, then its target) to
#      e2e_front_ends. Its rows become tests where the target is built, with FRONT_cli set.
#   2. Here, a function front_cli that sets `command` to the words that run it for this row,
#      from $presses (the buttons: next,retry,quit or -), $expect (router-ok, success, failed,
#      stopped, killed, refused) and $switches (FW=image.bin TIME=...); it may set `input` to
#      what is typed on its standard input, and front_env to variables it runs with. It runs in
#      the PC's desktop as the row's user, with KESTREL_SYSTEM_DIR set, its output in front.out. It must print the status texts as it
#      shows them (a signal waits for one), and end with 0, 1 when refused, or 128 + the signal.
#   3. scenarios.table: its rows, with "cli" in the front column.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
lab=$here/lab.sh
desktop=$here/desktop.sh
table=$here/../../e2e/scenarios.table
row=${1:?usage: run_row.sh ROW}

read_row() {
    local line cells
    while read -r line; do
        read -r -a cells <<< "${line%%#*}"
        if [ ${#cells[@]} -ge 10 ] && [ "${cells[0]}" = "$row" ]; then
            read -r name front as pc router user expect check time limit <<< "${cells[*]}"
            return 0
        fi
    done < "$table"
    echo "run_row.sh: no row $row in $table" >&2
    exit 2
}
read_row

if [ -z "${LAB_PC:-}" ]; then
    LAB_PREFIX="${LAB_PREFIX:-}${row}_" LAB_TIMEOUT=$limit exec "$lab" run -- "$0" "$@"
fi

# --- the front ends -------------------------------------------------------------------------

front_wizard() {
    local page=$expect
    [ "$page" = killed ] && page=stopped
    command=("${FRONT_wizard:?}" --expect "$page" --press "$presses" --timeout "$limit" --
             "${switches[@]}")
}

# The terminal front end as a script runs it: no terminal, no display, no buttons. It names the
# image by a path outside the image folder, in a name that only a UTF-8 locale can write, and
# tells a failed recovery by status 2.
front_cli() {
    mkdir -p "$work/elsewhere"
    mv "$image" "$work/elsewhere/fïrmware.bin"
    image=$work/elsewhere/fïrmware.bin
    failed_status=2
    front_env=(LC_ALL=C.UTF-8)
    command=("${FRONT_cli:?}" "FW=$image" "TIME=$time")
}

# --- the row's world ------------------------------------------------------------------------

work=$(mktemp -d /tmp/kestrel-row-XXXXXX)
chmod 755 "$work"
pids=()
failed=0
state=/run/kestrel-lab/desktop/$LAB_PC
# A failed row explains itself: what the front end and the router said, what the helper logged,
# and who ended the desktop if it ended early.
report() {
    local log
    for log in front.out router.log router.err monitor; do
        [ -s "$work/$log" ] && { echo "--- $log"; tail -n 40 "$work/$log"; }
    done
    echo "--- syslog (helper, pkexec, polkitd)"
    grep -E 'kestrel|pkexec|polkitd' "$state/syslog.log" | tail -n 40
    echo "--- the desktop's anchor"
    cat "$state/anchor.log"
}
cleanup() {
    local pid
    # Not the last of the list: a log that is missing must not end the report.
    [ "$failed" -eq 0 ] || report >&2 2> /dev/null || true
    for pid in "${pids[@]}"; do kill "$pid" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# lab.sh's time limit.
trap 'fail "ended by SIGTERM after $(seconds_since "$started") s"; exit 143' TERM
fail() { echo "FAIL $row: $*" >&2; failed=1; }
has() { [[ ",$1," == *",$2,"* ]]; }
in_pc() { "$desktop" exec "$LAB_PC" "$@"; }
started=$EPOCHREALTIME

seconds_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a }'; }

# Polls CMD every 0.1 s for up to SECONDS.
wait_until() {
    local seconds=$1 i
    shift
    for ((i = 0; i < seconds * 10; i++)); do
        "$@" > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# The router simulator with BEHAVIOUR (the table's words), logging to NAME.log.
start_router() {
    local name=$1 word args=(--store "$work/received" --max-seconds "$limit")
    for word in ${2//,/ }; do
        case $word in
            ok) args+=(--mode normal --dns good) ;;
            boot) args+=(--mode bootloader) ;;
            stay) args+=(--after-image stay) ;;
            reboot=*) args+=(--after-image reboot --reboot-seconds "${word#*=}") ;;
            carrier=*) args+=(--reboot-carrier-loss "${word#*=}") ;;
            dhcp) args+=(--dhcp) ;;
            *) echo "run_row.sh: unknown router word $word" >&2; exit 2 ;;
        esac
    done
    ip netns exec "$LAB_ROUTER" "${KESTREL_ROUTER_SIM:?}" "${args[@]}" --log "$work/$name.log" \
        2> "$work/$name.err" &
    router_pid=$!
    pids+=("$router_pid")
    wait_until 5 grep -q ready "$work/$name.log" || { fail "the router simulator did not start"; exit 1; }
}

desktop_args=(--max-seconds "$limit")
[ "$as" != root ] && desktop_args+=(--polkit nobody)
case $pc in
    NM:*) desktop_args+=(--networkmanager eth1 --profile "${pc#NM:}") ;;
esac
if [ "$pc" = NM:dhcp ]; then
    # The lease comes from the router before its firmware broke.
    start_router lease ok,dhcp
    "$desktop" start "$LAB_PC" "${desktop_args[@]}"
    kill "$router_pid"
    wait "$router_pid" || true
else
    "$desktop" start "$LAB_PC" "${desktop_args[@]}"
fi
case $pc in
    lab | NM:*) ;;
    *) "$here/pc_config.sh" "$pc" ;;
esac

mkdir -p "$work/system/KESTREL"
image=$work/system/KESTREL/image.bin
head -c $((1024 * 1024 + 300)) /dev/urandom > "$image"
chmod -R a+rX "$work/system"

# --- the PC's settings ----------------------------------------------------------------------

# What the PC shows, one line per link, address, route and rule, sorted (an address put back
# comes last in its link's list, which is no change), lifetimes masked: they go to FILE.lft.
snapshot() {
    local file=$1
    date +%s.%N > "$file.at"
    ip netns exec "$LAB_PC" ip -4 -d addr | awk -v lifetimes="$file.lft" '
        /^[0-9]+:/ { link = $2; print link, $0; next }
        /^    inet / { address = $0; next }
        /valid_lft/ {
            split(address, inet, " ")
            print link, inet[2], $2, $4 | "sort > " lifetimes
            gsub(/_lft [0-9]+sec/, "_lft N")
            print link, address, $0
            next
        }
        { print link, $0 }' | sort > "$file"
    touch "$file.lft"
    ip netns exec "$LAB_PC" ip -4 route show table all | sort >> "$file"
    ip netns exec "$LAB_PC" ip rule >> "$file"
    if [[ $pc == NM:* ]]; then
        # NetworkManager numbers its routes in no particular order.
        in_pc nmcli -t -f GENERAL.STATE,GENERAL.CONNECTION,IP4 device show eth1 |
            sed 's/^\(IP4\.[A-Z]*\)\[[0-9]*\]/\1/' | sort >> "$file"
        in_pc nmcli -t -f NAME,DEVICE,STATE connection show --active >> "$file"
    fi
}

# The lifetimes in AFTER are those in BEFORE less the time between. The kernel shows whole
# seconds rounded up, and the helper ages what it puts back by whole seconds rounded down, so
# each take-off and put-back may leave up to 2 s more; a row has at most two.
lifetimes_ran_on() {
    local before=$1 after=$2 elapsed
    elapsed=$(awk -v a="$(cat "$before.at")" -v b="$(cat "$after.at")" 'BEGIN { print b - a }')
    paste -d ' ' "$before.lft" "$after.lft" | awk -v elapsed="$elapsed" '
        function off(was, now) {
            sub(/sec$/, "", was); sub(/sec$/, "", now)
            return (was == "forever" || now == "forever") ? (was != now) * 1000 : now + elapsed - was
        }
        $2 != $6 { print "addresses differ: " $2 ", " $6; bad = 1; next }
        { for (i = 3; i <= 4; i++) {
              d = off($i, $(i + 4))
              if (d < -2 || d > 6) { print $2 ": lifetime " $i " became " $(i + 4) " after " elapsed " s"; bad = 1 }
        } }
        END { exit bad }'
}

same_settings() { diff -q "$1" "$2" > /dev/null; }

snapshot "$work/before"
if [[ $check == *back\<* ]] || has "$check" relinked || has "$check" untouched || has "$check" kept; then
    # Every change to the PC's addresses and routes, with the time it happened.
    ip netns exec "$LAB_PC" timeout "$limit" ip -ts -o -4 monitor address route > "$work/monitor" &
    pids+=($!)
fi

# --- the user's run -------------------------------------------------------------------------

presses=$user
events=()
while [[ $presses =~ (^|,)((helper:)?[A-Z]+@[a-z0-9]+\+[0-9.]+)$ ]]; do
    events=("${BASH_REMATCH[2]}" "${events[@]}")
    presses=${presses%"${BASH_REMATCH[0]}"}
done
signal=
to_whom=front
switches=(FW=image.bin "TIME=$time")
input=
command=()
front_env=()
failed_status=0
"front_$front"

start_router router "$router"
user_args=()
[ "$as" != root ] && user_args=(--user "$as")
[[ $user == *FULL@* ]] &&
    in_pc sh -c 'mkdir -p /run/kestrel-recovery &&
        mount -t tmpfs -o size=16k,mode=0700 kestrel-full /run/kestrel-recovery'
# Qt would make one in /tmp that outlives the row.
install -d -m 0700 -o "$as" "$work/runtime"
# desktop.sh, nsenter, setpriv and env each exec the next: $! is the front end itself.
"$desktop" exec "$LAB_PC" "${user_args[@]}" -- env QT_QPA_PLATFORM=offscreen \
    XDG_RUNTIME_DIR="$work/runtime" KESTREL_SYSTEM_DIR="$work/system" "${front_env[@]}" "${command[@]}" \
    <<< "$input" > "$work/front.out" 2>&1 &
front_pid=$!
pids+=("$front_pid")

for event in "${events[@]}"; do
    [[ $event =~ ^(helper:)?([A-Z]+)@([a-z0-9]+)\+([0-9.]+)$ ]]
    to_helper=${BASH_REMATCH[1]} signal=${BASH_REMATCH[2]} word=${BASH_REMATCH[3]} delay=${BASH_REMATCH[4]}
    if [ "$signal" = FULL ]; then
        wait_until "$limit" eval "ip -n $LAB_PC -4 -o addr show dev $word | grep -q 192.168.1.141" ||
            fail "192.168.1.141 never reached $word"
    else
        wait_until "$limit" grep -q "$word" "$work/front.out" || fail "the status never showed \"$word\""
    fi
    sleep "$delay"
    if [[ $check == *back\<* ]]; then
        snapshot "$work/at-signal"
        same_settings "$work/before" "$work/at-signal" && fail "nothing was changed when the signal came"
    fi
    signalled=$EPOCHREALTIME
    if [ "$signal" = FULL ]; then
        # Kept full: what the helper frees, the filler takes.
        in_pc timeout "$limit" sh -c 'while :; do cat /dev/zero >> /run/kestrel-recovery/filler; sleep 0.02; done' 2> /dev/null &
        pids+=($!)
    elif [ -n "$to_helper" ]; then
        to_whom=helper
        helper_pid=$(for pid in $(ip netns pids "$LAB_PC"); do
            [[ $(readlink "/proc/$pid/exe" 2> /dev/null) == */kestrel-recovery-helper ]] && echo "$pid"
        done)
        [ -n "$helper_pid" ] || fail "no helper to send SIG$signal"
        kill -"$signal" $helper_pid
    else
        kill -"$signal" "$front_pid"
    fi
    if [[ $check =~ back\<([0-9.]+) ]]; then
        snapshot "$work/after"
        until same_settings "$work/before" "$work/after" ||
            awk -v t="$(seconds_since "$signalled")" 'BEGIN { exit !(t > 5) }'; do
            sleep 0.05
            snapshot "$work/after"
        done
        # Polling is slow on a busy machine: the last change tells when they came back.
        last=$(tail -n 1 "$work/monitor" | sed -n 's/^\[\([^]]*\)\].*/\1/p')
        took=$(awk -v a="$signalled" -v b="$(date -d "$last" +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
        if ! same_settings "$work/before" "$work/after"; then
            fail "the settings were not back 5 s after SIG$signal"
        elif awk -v t="$took" -v max="${BASH_REMATCH[1]}" 'BEGIN { exit !(t < max) }'; then
            echo "settings back $took s after SIG$signal"
        else
            fail "the settings took $took s to come back, not less than ${BASH_REMATCH[1]}"
        fi
    fi
done
status=0
wait "$front_pid" || status=$?
[ -n "$signal" ] && echo "ended $(seconds_since "$signalled") s after SIG$signal"
[[ -n $signal && $check =~ ended\<([0-9.]+) ]] &&
    ! awk -v t="$(seconds_since "$signalled")" -v max="${BASH_REMATCH[1]}" 'BEGIN { exit !(t < max) }' &&
    fail "ended more than ${BASH_REMATCH[1]} s after the signal"

# --- the checks -----------------------------------------------------------------------------

[ "$to_whom" = helper ] && [ -z "$(grep 'helper went away' "$work/front.out")" ] &&
    fail "the user was not told that the helper went away"
case $expect in
    stopped) want=$((128 + $(kill -l "$signal"))) ;;
    killed) want=$((128 + $(kill -l KILL))) ;;
    refused) want=1 ;;
    failed) want=$failed_status ;;
    *) want=0 ;;
esac
[ "$status" -eq "$want" ] || fail "exit status $status, not $want"
if [ "$expect" = refused ]; then
    grep -q "needs administrator rights to change the network settings" "$work/front.out" ||
        fail "no rights message"
fi
# Nothing of the program outlives it: the helper ends with its front end and leaves no journal.
helper_gone() {
    local pid exe
    for pid in $(ip netns pids "$LAB_PC"); do
        exe=$(readlink "/proc/$pid/exe" 2> /dev/null) || continue
        [[ $exe == */kestrel-recovery-helper || $exe == "$(readlink -f "${command[0]}")" ]] &&
            return 1
    done
    return 0
}
wait_until 3 helper_gone || fail "the helper or the front end still runs"
journals=$(in_pc sh -c 'ls /run/kestrel-recovery/*.journal 2> /dev/null' || true)
[ -z "$journals" ] || fail "a journal was left: $journals"

if has "$check" same || has "$check" same-but-lifetimes; then
    [ -e "$work/after" ] || snapshot "$work/after"
    if ! same_settings "$work/before" "$work/after"; then
        fail "the PC's settings changed"
        diff -u "$work/before" "$work/after" >&2 || true
    elif has "$check" same; then
        lifetimes_ran_on "$work/before" "$work/after" || fail "address lifetimes did not run on"
    fi
fi
if has "$check" image && ! cmp -s "$image" "$work/received"; then
    fail "the router did not receive the image intact"
fi
if has "$check" image && ! grep -qF "name=${image##*/}" "$work/router.log"; then
    fail "the write request did not name the image by its own name"
fi
if has "$check" untouched; then
    [ -e "$work/received" ] && fail "an image was uploaded"
    [ -s "$work/monitor" ] && { cat "$work/monitor" >&2; fail "the PC's settings were touched"; }
fi
LC_ALL=C grep -q '[^[:print:][:space:]]' "$work/front.out" && [ "$front" = cli ] &&
    fail "control characters in the output of a front end without a terminal"
has "$check" unjournaled && ! grep -q 'stopped changing network settings: the journal cannot be written' "$work/front.out" &&
    fail "the user was not told why the helper stopped changing settings"
# What holds the router's address but cannot steer its packets away is never taken off.
if has "$check" kept && grep -E '] Deleted (0\.0\.0\.0/1 |128\.0\.0\.0/1 |unreachable 192\.168\.0\.0/16 |[0-9]+: eth0 +inet 192\.168\.0\.5/16 )' "$work/monitor" >&2; then
    fail "a route or address that does not clash was taken off"
fi
if has "$check" relinked; then
    # NetworkManager flushed the link during the reboot and took a lease again: the leased
    # address went twice (the recovery's removal, then the flush) and came back last.
    lease='] (Deleted )?[0-9]+: eth1 +inet 192\.168\.1\.(1[0-3][0-9]|140)/24'
    grep -E "$lease" "$work/monitor" | grep -c '] Deleted' | grep -qvx '[01]' &&
        grep -E "$lease" "$work/monitor" | tail -n 1 | grep -qv '] Deleted' ||
        fail "NetworkManager did not flush the link and lease again"
fi

echo "row $row: $([ "$failed" -eq 0 ] && echo passed || echo FAILED) in $(seconds_since "$started") s"
exit "$failed"
