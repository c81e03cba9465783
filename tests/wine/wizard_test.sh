#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows wizard under Wine and Xvfb in the lab's namespaces, one row of wizard.table per
# run: the pages it must show in turn and the key pressed on each, the exit status, and the PC's
# addresses and routes the same afterwards. Every page is captured and checked for its look: the
# title and the rule blue on white where the template places them. Root only (the lab).
#
#   wizard_test.sh ROW
#
# From the environment: KESTREL_WIZARD, KESTREL_HELPER, KESTREL_WIZARD_PEEK (Windows programs),
# KESTREL_WINE_SHOTS (the folder for the pictures, ROW-PAGE.png).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
row=${1:?usage: wizard_test.sh ROW}

read -r _ router status steps < <(awk -v row="$row" '$1 == row' "$here/wizard.table") ||
    { echo "wizard_test.sh: no row $row" >&2; exit 2; }

if [ -z "${LAB_PC:-}" ]; then
    LAB_PREFIX="${LAB_PREFIX:-}wine_${row}_" LAB_TIMEOUT=150 exec "$here/../support/lab/lab.sh" run -- "$0" "$@"
fi
source "$here/../support/wine/wine.sh"

declare -A says  # what each page's description starts with, from the table
while read -r name words; do says[${name,}]=$words; done < <(grep '^[A-Z]' "$here/wizard.table")

failures=0
fail() { echo "FAIL $row: $*" >&2; failures=$((failures + 1)); }
shots=${KESTREL_WINE_SHOTS:-/tmp}
mkdir -p "$shots"
work=$(mktemp -d /tmp/kestrel-wine-row-XXXXXX)
pids=()
cleanup() {
    kill "${pids[@]}" 2> /dev/null || true
    wine_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 143" TERM INT

settings() { ip -n "$LAB_PC" -4 addr && ip -n "$LAB_PC" -4 route show table all && ip -n "$LAB_PC" rule; }

# MulDiv, as MapDialogRect rounds.
muldiv() { echo $((($1 * $2 + $3 / 2) / $3)); }

# Every pixel of the rectangle (dialog units) is white, the title's blue (0, 153, 204) or a blend
# of the two, channel by channel as ClearType blends; and both are there.
blue_on_white() {
    local shot=$1 what=$2 x=$3 y=$4 width=$5 height=$6 left top right bottom
    left=$(muldiv "$x" "$base_x" 4) top=$(muldiv "$y" "$base_y" 8)
    right=$(muldiv $((x + width)) "$base_x" 4) bottom=$(muldiv $((y + height)) "$base_y" 8)
    convert "$shot" -crop "$((right - left))x$((bottom - top))+$left+$top" +repage \
        -format %c histogram:info:- |
        sed -n 's/^ *\([0-9]*\): *( *\([0-9]*\), *\([0-9]*\), *\([0-9]*\)[,)].*/\1 \2 \3 \4/p' | awk '
            $3 < 150 || $4 < 200 { printf " (%s,%s,%s) is no blend of blue and white", $2, $3, $4 }
            $2 == 255 && $3 == 255 && $4 == 255 { white = 1 }
            $2 <= 2 && $3 >= 151 && $3 <= 155 && $4 >= 202 && $4 <= 206 { blue = 1 }
            END { printf "%s%s", white ? "" : " no white", blue ? "" : " no blue" }' > "$work/colours" || true
    [ ! -s "$work/colours" ] || fail "$what on page $page:$(cat "$work/colours")"
}

# The template's font, and the title's and the rule's rectangles in its dialog units (a window
# that lost its size or font has neither rectangle on screen); the template's texts that the
# wizard keeps: the title, and Quit on the welcome page.
peek() { wizard_peek "Microsoft Sans Serif" 10; }
look() {
    read -r _ base_x base_y < <(grep '^base ' "$1")
    grep -qx 'control 1000 1 KESTREL Router Firmware Recovery' "$1" || fail "no title on page $page"
    [ "$page" != welcome ] || grep -qx 'control 2 1 Quit' "$1" || fail "no Quit on page $page"
    blue_on_white "$2" title 24 12 195 12
    blue_on_white "$2" rule 6 24 228 12
}

# Polls the wizard until its description starts with the page's words.
wait_for_page() {
    local report=$1 i
    for ((i = 0; i < 150; i++)); do
        peek > "$report" && grep -qF "control 1002 1 ${says[$page]}" "$report" && return 0
        kill -0 "$wizard" 2> /dev/null || return 1
        sleep 0.2
    done
    return 1
}

# A key to the wizard, until its page leaves the one on screen: on a busy X server the focus can
# come after the key, which then goes to no window (a key the wizard got starts its job at once).
press() {
    local before i try
    before=$(grep '^control 1002 ' "$work/$page.peek")
    for ((try = 0; try < 3; try++)); do
        wizard_press "$1" || return 0  # the window has gone: the key ended the wizard
        for ((i = 0; i < 25; i++)); do
            peek > "$work/after-key" 2> /dev/null || return 0  # so has this one
            [ "$(grep '^control 1002 ' "$work/after-key")" != "$before" ] && return 0
            grep -q '^control 1 0' "$work/after-key" && return 0  # the working page hides Next
            sleep 0.2
        done
    done
    return 1
}

if [ "$router" = dnsmasq ]; then
    ip netns exec "$LAB_ROUTER" dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv \
        --no-hosts --bind-interfaces --pid-file= --user=root --listen-address=192.168.1.1 \
        --host-record=router.kestrel.home,192.168.1.1 2> "$work/dnsmasq.log" &
    pids+=($!)
fi
wine_start --display ip netns exec "$LAB_PC"
# Laid out as the installer lays them out: the wizard finds its helper beside it.
programs="$wine_prefix/drive_c/Program Files/kestrel-recovery"
mkdir -p "$programs" "$wine_prefix/drive_c/windows/system32/KESTREL"
cp "${KESTREL_WIZARD:?}" "${KESTREL_HELPER:?}" "$programs"
head -c 100000 /dev/urandom > "$wine_prefix/drive_c/windows/system32/KESTREL/image.bin"

settings > "$work/before"
in_wine timeout 120 wine "$programs/${KESTREL_WIZARD##*/}" FW=image.bin TIME=3 > "$work/wizard.out" 2>&1 &
wizard=$!
pids+=("$wizard")

for step in $steps; do
    IFS=: read -r page key <<< "$step"
    if ! wait_for_page "$work/$page.peek"; then
        fail "page $page never came; the wizard showed:"
        cat "$work/$page.peek" "$work/wizard.out" >&2
        kill "$wizard" 2> /dev/null
        break
    fi
    wizard_shot "$work/$page.peek" "$shots/$row-$page.png"
    look "$work/$page.peek" "$shots/$row-$page.png"
    [ -n "$key" ] && { press "$key" || fail "key $key on page $page went nowhere"; }
done

got=0
wait "$wizard" || got=$?
[ "$got" -eq "$status" ] || { fail "exit status $got, not $status"; cat "$work/wizard.out" >&2; }
settings > "$work/after"
diff -u "$work/before" "$work/after" >&2 || fail "the PC's addresses or routes changed"
echo "row $row: $([ "$failures" -eq 0 ] && echo passed || echo FAILED); pictures in $shots"
exit $((failures > 0))
