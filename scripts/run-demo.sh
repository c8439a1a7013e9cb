#!/usr/bin/env bash
# Installs what is missing, builds, and starts VaroConfig connected to a simulated device.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

BIN=build/bin
missing=()
[ -x "$BIN/varosim" ] || missing+=("the device simulator (varosim)")
[ -f "$BIN/ModelsPnP/HD-OVL.xml" ] || missing+=("the sample device models")
if [ ${#missing[@]} -gt 0 ]; then
  (IFS=,; echo "Not built yet:${missing[*]/#/ }.")
  echo "VaroConfig starts without a device; the connection and model pages come later."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: running VaroConfig under Xvfb."
  exec xvfb-run -a "$BIN/VaroConfig"
fi
exec "$BIN/VaroConfig"
