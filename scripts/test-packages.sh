#!/usr/bin/env bash
# The packages as an operator gets them: build them, install them, use the installed commands
# (their program folder is read-only for them, so store and log go to the user's folders),
# build against varo-dev, then purge them. Cleans up whatever happens. Needs root (dpkg).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/make-packages.sh >/dev/null
T=$(mktemp -d)
SIM_PID=
cleanup() {
  [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null || true
  dpkg --purge varo-dev varo >/dev/null 2>&1 || true
  rm -rf "$T"
}
trap cleanup EXIT

fail() { echo "package test: $*" >&2; exit 1; }

dpkg -i dist/varo_*.deb dist/varo-dev_*.deb >/dev/null 2>&1 || \
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq -f >/dev/null
dpkg-query -W -f='${Status}\n' varo varo-dev | grep -qv 'install ok installed' && fail "not installed"
[ -x /usr/bin/VaroConfig ] && [ -f /usr/lib/varo/ModelsPnP/HD-OVL.xml ] || fail "files missing"

export HOME="$T/home" XDG_CONFIG_HOME="$T/config" XDG_STATE_HOME="$T/state" XDG_RUNTIME_DIR="$T/run"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

/usr/bin/varoctl --help | grep -q '^usage: varoctl' || fail "varoctl --help"
man -w varoctl >/dev/null 2>&1 || [ -f /usr/share/man/man1/varoctl.1.gz ] || fail "no man page"

# The simulator and the command line from the package, over a pty.
/usr/bin/varosim --pty "$T/dev" --dialect short2 --model /usr/lib/varo/ModelsPnP/SD-OVL.xml --image "$T/dev.img" \
  >/dev/null 2>&1 &
SIM_PID=$!
for _ in $(seq 50); do [ -e "$T/dev" ] && break; sleep 0.1; done
[ "$(/usr/bin/varoctl --link "rs232:$T/dev" signature)" = "SD-OVL" ] || fail "varoctl signature"

# The window, offscreen, with its log switched on through the installed varoctl.
/usr/bin/varoctl config set Debug Log 1
[ -f "$XDG_CONFIG_HOME/VaroConfig/VaroConfig.ini" ] || fail "the store is not in the user's folder"
set +e
QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/VaroConfig >/dev/null 2>&1
set -e
grep -q 'CMainWin::OnInitDialog()' "$XDG_STATE_HOME/VaroConfig/VaroConfig.log" || fail "no log in the user's folder"
ls /usr/lib/varo/*.ini /usr/lib/varo/*.log >/dev/null 2>&1 && fail "wrote into the program folder"

# varo-dev: a program linking the codec through pkg-config.
cat > "$T/use.cpp" <<'CPP'
#include <TamoLib.h>
int main() { return &Tamo_Decode != nullptr ? 0 : 1; }
CPP
# shellcheck disable=SC2046
c++ -o "$T/use" "$T/use.cpp" $(pkg-config --cflags --libs tamo) || fail "cannot build against varo-dev"
"$T/use" || fail "the program linked against TamoLib does not run"

kill "$SIM_PID" 2>/dev/null || true
SIM_PID=
dpkg --purge varo-dev varo >/dev/null
[ ! -e /usr/lib/varo ] || fail "purge left /usr/lib/varo"
echo "package test: 1 passed, 0 failed"
