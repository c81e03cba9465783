#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The kestrel-recovery developers
# SPDX-License-Identifier: GPL-3.0-or-later
# The Windows upload code (kestrel-tftp-put.exe: the product's TFTP client over Winsock) under
# Wine in the lab's PC namespace, against tftpd-hpa in the router's. Wine cannot put the
# temporary address on the adapter, so the test leaves the PC as the recovery would before its
# upload: the clashing address and route off, 192.168.1.141/24 on the link to the router. Every
# image of the table must arrive intact. Root only (the lab).
#
#   upload_test.sh          (KESTREL_TFTP_PUT: the Windows program)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

# Sizes in bytes: an empty image, one whole block (an empty last block ends it), and images that
# end in part of a block. The block number's wrap is the protocol's, tested without Winsock.
sizes="0 512 100000 $((2048 * 512 + 300))"

if [ -z "${LAB_PC:-}" ]; then
    LAB_PREFIX="${LAB_PREFIX:-}wine_upload_" LAB_TIMEOUT=150 exec "$here/../support/lab/lab.sh" run -- "$0" "$@"
fi
source "$here/../support/wine/wine.sh"

work=$(mktemp -d /tmp/kestrel-wine-upload-XXXXXX)
chmod 755 "$work"
server=
failures=0
fail() { echo "FAIL upload: $*" >&2; failures=$((failures + 1)); }
cleanup() {
    [ -n "$server" ] && kill "$server" 2> /dev/null
    wine_stop
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 143' TERM INT

ip -n "$LAB_PC" addr del 192.168.1.100/24 dev eth1
ip -n "$LAB_PC" route del 192.168.1.0/24 via 192.168.0.254 dev eth0
ip -n "$LAB_PC" addr add 192.168.1.141/24 dev eth1

# tftpd-hpa writes as its own user.
mkdir -m 1777 "$work/received"
ip netns exec "$LAB_ROUTER" in.tftpd -L -c -s "$work/received" -a 192.168.1.1:69 \
    2> "$work/tftpd.log" &
server=$!
ip netns exec "$LAB_ROUTER" timeout 5 sh -c "until ss -Hunl 'sport = :69' | grep -q .; do sleep 0.1; done" ||
    fail "tftpd-hpa did not listen"

wine_start ip netns exec "$LAB_PC"
mkdir "$work/images"
for size in $sizes; do
    name=image-$size.bin
    head -c "$size" /dev/urandom > "$work/images/$name"
    # A name without a folder: the router is asked for the image under its own name.
    (cd "$work/images" && in_wine timeout 120 wine "${KESTREL_TFTP_PUT:?}" "$name" --debug) ||
        fail "$name: the upload ended with $?"
    cmp "$work/images/$name" "$work/received/$name" || fail "$name did not arrive intact"
done
echo "upload: $([ "$failures" -eq 0 ] && echo passed || echo FAILED)"
exit $((failures > 0))
