#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test; then builds it all again
# with AddressSanitizer + UndefinedBehaviorSanitizer (clang, with the fuzz targets under
# libFuzzer) and runs the tests again, the window tests against varosim included.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=$(nproc)
# ccache hits across checkouts in different folders (CI clones anew each time).
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true

bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$JOBS"
(cd build && ctest --output-on-failure -j"$JOBS" --timeout 900)

# The Debian packages from that build: installed, used as installed, purged (dpkg wants root).
if [ "$(id -u)" -eq 0 ]; then
  bash scripts/test-packages.sh
else
  echo "package test: skipped (installing packages needs root)"
fi

CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARO_WITH_QT=ON -DVARO_SANITIZE=ON
cmake --build build-asan -j"$JOBS"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$JOBS" --timeout 900)
