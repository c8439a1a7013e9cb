#!/bin/bash
# Makes the Lanora screenshots under docs/: the window after its refresh and in log mode, and
# the Lanora program itself as it starts, each under Xvfb inside a network namespace of its own
# with varosim devices on the other side of a veth pair. Needs root (ip netns).
# usage: tests/lanora/screenshots.sh BUILD_DIR
set -euo pipefail
BUILD=$(realpath "${1:?build dir}")
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
TAG=lshot$$
A=${TAG}a B=${TAG}b
TMP=$(mktemp -d)
PIDS=()
cleanup() {
    for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    ip netns del "$A" 2>/dev/null || true
    ip netns del "$B" 2>/dev/null || true
    rm -rf "$TMP"
}
trap cleanup EXIT

ip netns add "$A"
ip netns add "$B"
ip link add vethA netns "$A" type veth peer name vethB netns "$B"
ip -n "$A" link set lo up
ip -n "$B" link set lo up
ip -n "$A" addr add 198.18.0.1/24 dev vethA
for i in 2 3 4 5; do ip -n "$B" addr add 198.18.0.$i/24 dev vethB; done
ip -n "$A" link set vethA up
ip -n "$B" link set vethB up
# A new link carries nothing until the kernel has turned its carrier on.
for i in $(seq 100); do
    ip -n "$A" link show dev vethA | grep -q "state UP" && ip -n "$B" link show dev vethB | grep -q "state UP" && break
    sleep 0.05
done

# varosim devices with their discovery responders, each on its own address.
sim() {
    local ip=$1; shift
    ip netns exec "$B" "$BUILD/bin/varosim" --tcp "$ip" --image "$TMP/$ip.img" --discovery "$ip" "$@" >/dev/null &
    PIDS+=($!)
}
sim 198.18.0.2 --mac 02:56:41:52:00:11 --family 0x0101 --variant 2 --log-period 600 --log-target 198.18.0.1
sim 198.18.0.3 --mac 02:56:41:52:00:24 --family 0x0401 --variant 4 --ports 2 --ip2 10.20.0.3 --history 2
sim 198.18.0.4 --mac 02:56:41:52:00:07 --family 0x0303 --variant 2 --log-period 900
sim 198.18.0.5 --mac 02:56:41:52:00:3A --family 0x0601 --variant 1
sleep 1

export HOME=$TMP XDG_CONFIG_HOME=$TMP/config XDG_RUNTIME_DIR=$TMP LANG=en_US.UTF-8
mkdir -p "$ROOT/docs"
ip netns exec "$A" xvfb-run -a -s "-screen 0 1100x480x24" \
    "$BUILD/tests/lanora_shot" window "$ROOT/docs/lanora-main.png" "$ROOT/docs/lanora-log.png"
# A fresh settings store: the program starts at its designed size.
XDG_CONFIG_HOME=$TMP/config-program ip netns exec "$A" xvfb-run -a -s "-screen 0 800x420x24" bash -c \
    "'$BUILD/bin/Lanora' & L=\$!; '$BUILD/tests/lanora_shot' grab '$ROOT/docs/lanora-program.png' 6500; kill \$L"
echo "screenshots written to $ROOT/docs"
