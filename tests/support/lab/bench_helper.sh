#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Benchmark, not a test: the helper's round trip per request, of removing and restoring 200
# clashing routes, and its memory, measured in the lab's pc namespace (built and removed around
# it). The journal folder gets a tmpfs of its own, as /run is on the systems the tool runs on (on
# this build machine it may be a disk). Root only.
#   bench_helper.sh BENCH_BINARY HELPER [ROUNDS]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${LAB_PC:-}" ]; then
    exec "$here/lab.sh" run -- "$0" "$@"
fi
exec ip netns exec "$LAB_PC" unshare -m --propagation private sh -c \
    'mkdir -p /run/kestrel-recovery && mount -t tmpfs -o mode=0700 tmpfs /run/kestrel-recovery &&
     exec "$0" "$1" "$2"' "$1" "$2" "${3:-500}"
