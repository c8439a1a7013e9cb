#!/usr/bin/env bash
# Installs what is missing, builds, and starts VaroConfig connected to a simulated HD overlay
# device (varosim with the full sample model) over Ethernet TCP on a loopback address.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target VaroConfig varosim varoctl varo_data varo_factory

BIN=build/bin
DEVICE_IP=127.0.0.42
STATE="${XDG_STATE_HOME:-$HOME/.local/state}/varo-demo"
mkdir -p "$STATE"

# The simulated device keeps its memory between runs, like a real one.
"$BIN/varosim" --tcp "$DEVICE_IP" --image "$STATE/hd-ovl.img" --model "$BIN/ModelsPnP/HD-OVL.xml" &
SIM_PID=$!
trap 'kill "$SIM_PID" 2>/dev/null || true' EXIT
sleep 0.5
if ! kill -0 "$SIM_PID" 2>/dev/null; then
  echo "The simulator did not start (is another demo running?)." >&2
  exit 1
fi

# Connect over Ethernet TCP with the address typed in.
"$BIN/varoctl" config set Main Interface 3
"$BIN/varoctl" config set Main ManualIP 1
"$BIN/varoctl" config set-ip Main IP "$DEVICE_IP"

echo "Simulated device HD-OVL on $DEVICE_IP (TCP port 9000); starting VaroConfig."
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running VaroConfig under Xvfb."
  xvfb-run -a "$BIN/VaroConfig"
else
  "$BIN/VaroConfig"
fi
