#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Benchmark, not a test: uploads a 16 MiB image in the lab with the product's client
# (kestrel-tftp-put) and with the tftp-hpa client to the same in.tftpd, several runs each, and
# prints both medians and their ratio (ours / tftp-hpa). Needs root; builds and removes the lab.
#   bench_tftp.sh [BUILD_DIR] [RUNS]     (defaults: build/release, 10)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(realpath "${1:-$here/../../build/release}")
runs=${2:-10}
put="$build/tests/support/lab/kestrel-tftp-put"
[ -x "$put" ] || { echo "bench_tftp.sh: build kestrel-tftp-put first ($put)" >&2; exit 1; }

if [ -z "${LAB_PC:-}" ]; then
    exec "$here/lab.sh" run -- "$0" "$build" "$runs"
fi

work=$(mktemp -d /tmp/kestrel-bench-XXXXXX)
server_pid=
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/src" "$work/srv"
chmod 0777 "$work" "$work/srv"
head -c $((16 * 1024 * 1024)) /dev/urandom > "$work/src/bench.img"

ip netns exec "$LAB_ROUTER" in.tftpd -L -c -s "$work/srv" -a 192.168.1.1:69 &
server_pid=$!
sleep 0.5

# The two clients take turns, so that drift in the machine's load falls on both alike.
time_ms() {
    local started ended
    started=$(date +%s%N)
    "$@" >/dev/null
    ended=$(date +%s%N)
    echo $(((ended - started) / 1000000))
}
: > "$work/kestrel.ms"
: > "$work/tftp-hpa.ms"
for ((i = 0; i <= runs; i++)); do  # the first round warms up and is not counted
    rm -f "$work/srv/bench.img"
    ours_ms=$(time_ms ip netns exec "$LAB_PC" "$put" "$work/src/bench.img")
    cmp -s "$work/src/bench.img" "$work/srv/bench.img" || { echo "bench_tftp.sh: image differs" >&2; exit 1; }
    rm -f "$work/srv/bench.img"
    theirs_ms=$(time_ms ip netns exec "$LAB_PC" tftp -m binary 192.168.1.1 -c put "$work/src/bench.img" bench.img)
    cmp -s "$work/src/bench.img" "$work/srv/bench.img" || { echo "bench_tftp.sh: tftp-hpa image differs" >&2; exit 1; }
    [ "$i" -eq 0 ] && continue
    echo "$ours_ms" >> "$work/kestrel.ms"
    echo "$theirs_ms" >> "$work/tftp-hpa.ms"
done
median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) / 1000 }'; }
ours=$(median "$work/kestrel.ms")
theirs=$(median "$work/tftp-hpa.ms")
echo "runs: $runs each, 16 MiB, alternating"
awk -v o="$ours" -v t="$theirs" 'BEGIN {
    printf "median kestrel  %.3f s\nmedian tftp-hpa %.3f s\nratio kestrel/tftp-hpa %.3f\n", o, t, o / t }'
