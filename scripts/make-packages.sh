#!/usr/bin/env bash
# Builds the Debian packages varo and varo-dev into dist/ from the build tree build/ (the one
# the README's commands use; configured here when missing).
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=true

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target VaroConfig Lanora varoctl varosim TamoLib varo_data varo_factory \
  varo_package_files
mkdir -p dist
rm -f dist/varo_*.deb dist/varo-dev_*.deb
(cd build && cpack -G DEB >/dev/null)
ls -1 dist/*.deb
