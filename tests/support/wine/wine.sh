#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Wine for the Windows programs' tests, sourced by them. Everything Wine starts lives in one
# network namespace that the test made: Wine's network information comes from a service that
# wineserver starts, so wineboot runs in there too, and so does Xvfb, so that removing the
# namespace ends whatever is left.
#
#   wine_start [--display] ENTER...   a fresh prefix (and Xvfb at 96 dpi); ENTER are the words
#                                     that run a command in the namespace (ip netns exec NS), or
#                                     none when the test runs inside it already
#   in_wine CMD...                    CMD in the namespace with the prefix and display
#   wine_stop                         end wineserver and Xvfb, remove the prefix (safe twice)
#   wizard_peek FACE POINTS           kestrel-wizard-peek's report ($KESTREL_WIZARD_PEEK)
#   wizard_press KEY                  a key to the wizard's window, as a user presses it
#   wizard_shot REPORT FILE           the wizard's client area as a PNG, where the peek's
#                                     REPORT places it
# The prefix is $wine_prefix; its C: drive $wine_prefix/drive_c.
wine_enter=()
wine_work=
wine_xvfb=

in_wine() { "${wine_enter[@]}" env WINEPREFIX="$wine_prefix" "$@"; }

wine_start() {
    local display=0 i
    [ "${1:-}" = --display ] && { display=1; shift; }
    wine_enter=("$@")
    wine_work=$(mktemp -d /tmp/kestrel-wine-XXXXXX)
    wine_prefix=$wine_work/prefix
    # No Mono or Gecko installer dialogs, no debug channels in the test's output.
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
    if [ "$display" -eq 1 ]; then
        "${wine_enter[@]}" Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp \
            3> "$wine_work/display" 2> "$wine_work/xvfb.log" &
        wine_xvfb=$!
        for ((i = 0; i < 100; i++)); do
            [ -s "$wine_work/display" ] && break
            sleep 0.1
        done
        [ -s "$wine_work/display" ] || { echo "wine.sh: Xvfb did not start" >&2; return 1; }
        export DISPLAY=:$(cat "$wine_work/display")
    fi
    in_wine timeout 120 wineboot -i > "$wine_work/wineboot.log" 2>&1 ||
        { echo "wine.sh: wineboot failed" >&2; cat "$wine_work/wineboot.log" >&2; return 1; }
}

wine_stop() {
    [ -n "$wine_work" ] || return 0
    in_wine timeout 20 wineserver -k 2> /dev/null || true
    [ -n "$wine_xvfb" ] && kill "$wine_xvfb" 2> /dev/null
    wait 2> /dev/null || true
    rm -rf "$wine_work"
    wine_work=
}

# Wine gives a console program's lines their CR.
wizard_peek() { in_wine timeout 20 wine "${KESTREL_WIZARD_PEEK:?}" "$@" 2> /dev/null | tr -d '\r'; }

# In the namespace of the display: an X server's abstract socket is its network namespace's.
wizard_window() { "${wine_enter[@]}" xdotool search --name '^KESTREL Device Recovery$' 2> /dev/null | head -n 1; }

# windowactivate can wait forever without a window manager; focus and key do not.
wizard_press() {
    local window
    window=$(wizard_window)
    [ -n "$window" ] || return 1
    "${wine_enter[@]}" xdotool windowfocus "$window" && "${wine_enter[@]}" xdotool key "$1"
}

# From the screen rather than the X window, so that the capture is what a user sees.
wizard_shot() {
    local report=$1 file=$2 width height x y
    read -r width height < <(awk '$1 == "client" { print $2, $3 }' "$report")
    read -r x y < <(awk '$1 == "origin" { print $2, $3 }' "$report")
    "${wine_enter[@]}" import -display "$DISPLAY" -window root -crop "${width}x${height}+${x}+${y}" +repage "$file"
}
